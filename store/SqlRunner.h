#pragma once

#include <QSqlQuery>
#include <QString>
#include <QVariantList>

namespace kavio {

// Runs a statement with bound values on the open database, forward only; a failure throws a
// DatabaseError naming the table and the file. Every statement of the programs goes through
// here or through the classes of this folder, with its values bound, never written into it.
QSqlQuery runQuery(const QString& table, const QString& sql, const QVariantList& values = {});

} // namespace kavio
