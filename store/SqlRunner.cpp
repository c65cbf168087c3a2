#include "SqlRunner.h"

#include "Database.h"
#include "Exception.h"

#include <QDir>
#include <QSqlError>

namespace kavio {

bool tryQuery(QSqlQuery& query, const QString& sql, const QVariantList& values) {
    if (!query.prepare(sql))
        return false;
    for (const QVariant& value : values)
        query.addBindValue(value);
    return query.exec();
}

QSqlQuery runQuery(const QSqlDatabase& db, const QString& table, const QString& sql,
                   const QVariantList& values) {
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!tryQuery(query, sql, values))
        throw DatabaseError(
            QStringLiteral("Table %1 of %2 cannot be read: %3")
                .arg(table, QDir::toNativeSeparators(db.databaseName()), query.lastError().text()));
    return query;
}

QSqlQuery runQuery(const QString& table, const QString& sql, const QVariantList& values) {
    return runQuery(Database::connection(), table, sql, values);
}

} // namespace kavio
