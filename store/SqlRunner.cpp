#include "SqlRunner.h"

#include "Database.h"
#include "Exception.h"

#include <QDir>
#include <QSqlError>

namespace kavio {

QSqlQuery runQuery(const QString& table, const QString& sql, const QVariantList& values) {
    QSqlQuery query(Database::connection());
    query.setForwardOnly(true);
    bool done = query.prepare(sql);
    if (done) {
        for (const QVariant& value : values)
            query.addBindValue(value);
        done = query.exec();
    }
    if (!done)
        throw DatabaseError(
            QStringLiteral("Table %1 of %2 cannot be read: %3")
                .arg(table, QDir::toNativeSeparators(Database::path()), query.lastError().text()));
    return query;
}

} // namespace kavio
