#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariantList>

namespace kavio {

// Runs a statement with bound values on the open database, forward only; a failure throws a
// DatabaseError naming the table and the file. Every statement of the programs goes through
// here or through the classes of this folder, with its values bound, never written into it.
QSqlQuery runQuery(const QString& table, const QString& sql, const QVariantList& values = {});

// The same on a connection of its own (a reader thread's), whose file the error names.
QSqlQuery runQuery(const QSqlDatabase& db, const QString& table, const QString& sql,
                   const QVariantList& values = {});

// Prepares `sql` on `query`, binds the values and runs it: false when either step fails, the
// reason then in query.lastError(). For the few reads whose callers word their own failure.
bool tryQuery(QSqlQuery& query, const QString& sql, const QVariantList& values = {});

} // namespace kavio
