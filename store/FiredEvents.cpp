#include "FiredEvents.h"

#include "Database.h"
#include "Exception.h"

#include <QSqlError>
#include <QSqlQuery>

namespace kavio::FiredEvents {
namespace {

const char* const CreateSql = R"(CREATE TABLE IF NOT EXISTS "TimerFired" (
  "Day"   TEXT NOT NULL,
  "Event" TEXT NOT NULL,
  PRIMARY KEY ("Day", "Event")
) WITHOUT ROWID)";

QString dayText(const QDate& day) {
    return day.toString(QStringLiteral("yyyy-MM-dd"));
}

[[noreturn]] void fail(const QString& doing, const QSqlError& error) {
    throw DatabaseError(QStringLiteral("Table TimerFired: %1: %2").arg(doing, error.text()));
}

bool tableExists(QSqlDatabase& db) {
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral(
            "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'TimerFired'")))
        fail(QStringLiteral("it cannot be looked up"), query.lastError());
    return query.next();
}

} // namespace

QSet<QString> claim(const QDate& day, const QStringList& keys) {
    QSet<QString> fresh;
    if (keys.isEmpty())
        return fresh;
    const QString doing = QStringLiteral("what the timers fired cannot be recorded");
    QSqlDatabase db = Database::connection();
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("BEGIN IMMEDIATE")))
        fail(doing, query.lastError());
    QSqlError error;
    if (!query.exec(QLatin1String(CreateSql)) ||
        !query.prepare(
            QStringLiteral(R"(INSERT OR IGNORE INTO "TimerFired" ("Day", "Event") VALUES (?, ?))")))
        error = query.lastError();
    for (qsizetype at = 0; !error.isValid() && at < keys.size(); ++at) {
        query.bindValue(0, dayText(day));
        query.bindValue(1, keys[at]);
        if (!query.exec())
            error = query.lastError();
        else if (query.numRowsAffected() > 0)
            fresh.insert(keys[at]);
    }
    query.finish();
    if (!error.isValid() && !query.exec(QStringLiteral("COMMIT")))
        error = query.lastError();
    if (error.isValid()) {
        QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
        fail(doing, error);
    }
    return fresh;
}

QSet<QString> servedOn(const QDate& day) {
    QSet<QString> keys;
    QSqlDatabase db = Database::connection();
    if (!tableExists(db))
        return keys;
    QSqlQuery query(db);
    query.setForwardOnly(true);
    // Columns named with their table: SQLite would read an unknown quoted name as a text.
    query.prepare(QStringLiteral(
        R"(SELECT "TimerFired"."Event" FROM "TimerFired" WHERE "TimerFired"."Day" = ?)"));
    query.addBindValue(dayText(day));
    if (!query.exec())
        fail(QStringLiteral("what the timers fired cannot be read"), query.lastError());
    while (query.next())
        keys.insert(query.value(0).toString());
    return keys;
}

void forgetBefore(const QDate& day) {
    QSqlDatabase db = Database::connection();
    if (!tableExists(db))
        return;
    QSqlQuery query(db);
    query.prepare(QStringLiteral(R"(DELETE FROM "TimerFired" WHERE "TimerFired"."Day" < ?)"));
    query.addBindValue(dayText(day));
    if (!query.exec())
        fail(QStringLiteral("past days cannot be forgotten"), query.lastError());
}

} // namespace kavio::FiredEvents
