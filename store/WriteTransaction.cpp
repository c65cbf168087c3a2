#include "WriteTransaction.h"

#include "Database.h"

#include <QSqlError>
#include <QSqlQuery>

namespace kavio::transaction {
namespace {

QString run(const QString& statement) {
    QSqlQuery query(Database::connection());
    return query.exec(statement) ? QString() : query.lastError().text();
}

} // namespace

QString beginImmediate() {
    return run(QStringLiteral("BEGIN IMMEDIATE"));
}

QString commit() {
    return run(QStringLiteral("COMMIT"));
}

void rollback() {
    run(QStringLiteral("ROLLBACK"));
}

} // namespace kavio::transaction
