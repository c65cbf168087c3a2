#include "TimerStore.h"

#include "Database.h"
#include "Exception.h"
#include "SqlRunner.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <algorithm>
#include <iterator>

namespace kavio::timers {
namespace {

// The lowest key of a merged row names it in messages; the last column tells a unit (0) from a
// group (1) and is empty when the record is gone.
const char* const EventsSql =
    R"(SELECT MIN("TimerIndex"), "Index", "Task", "TimeOfDay", "Date", "Every",
  (SELECT COALESCE(m."Group", 0) FROM "Master" m WHERE m."Index" = "Timer"."Index")
FROM "Timer" WHERE "Date" = ?%1
GROUP BY "Index", "Task", "TimeOfDay", "Date", "Every"
ORDER BY "TimeOfDay", "Task", "Index", "Date")";
const char* const MinuteFilter = R"( AND "TimeOfDay" >= ? AND "TimeOfDay" < ?)";

const char* const DateIndexSql =
    R"(CREATE INDEX IF NOT EXISTS "TimerByDate" ON "Timer" ("Date", "TimeOfDay"))";

const char* const NamesSql =
    R"(SELECT "Index", "Name" FROM "Master"
WHERE "Index" IN (SELECT "Index" FROM "Timer" WHERE "Date" = ?))";

[[noreturn]] void datesNotWritten(const QString& reason) {
    throw DatabaseError(
        QStringLiteral("Table Timer.DB: the next event dates cannot be written: %1").arg(reason));
}

} // namespace

std::vector<EventRow> eventsOn(const QString& date, const QString& fromTime,
                               const QString& beforeTime) {
    const bool minutes = !fromTime.isNull();
    QVariantList values{date};
    if (minutes)
        values << fromTime << beforeTime;
    QSqlQuery query(Database::connection());
    query.setForwardOnly(true);
    if (!tryQuery(query,
                  QString::fromLatin1(EventsSql).arg(minutes ? QLatin1String(MinuteFilter)
                                                             : QLatin1String()),
                  values))
        throw DatabaseError(QStringLiteral("Table Timer.DB: today's events cannot be read: %1")
                                .arg(query.lastError().text()));
    std::vector<EventRow> rows;
    while (query.next())
        rows.push_back({query.value(0), query.value(1), query.value(2), query.value(3),
                        query.value(4), query.value(5), query.value(6)});
    return rows;
}

void addDateIndex() {
    QSqlQuery(Database::connection()).exec(QLatin1String(DateIndexSql));
}

QHash<qint64, QString> namesTimedOn(const QString& date) {
    QSqlQuery query(Database::connection());
    query.setForwardOnly(true);
    if (!tryQuery(query, QLatin1String(NamesSql), {date}))
        throw DatabaseError(QStringLiteral("Table Master.DB: the names of today's units "
                                           "cannot be read: %1")
                                .arg(query.lastError().text()));
    QHash<qint64, QString> names;
    while (query.next())
        names.insert(query.value(0).toLongLong(), query.value(1).toString());
    return names;
}

void rewriteDates(const std::optional<QString>& passedBefore,
                  const std::function<std::optional<QString>(const TimerField& field)>& nextDate) {
    static const char* const fields[] = {"TimerIndex", "Index",     "Task",  "Every", "Count",
                                         "TimeOfDay",  "DayOfWeek", "Month", "Date"};
    QSqlDatabase db = Database::connection();
    const bool inTransaction = db.transaction();
    try {
        // Only the dates that change are written, which keeps the daily recomputation of a
        // large table short.
        QSqlQuery walk(db);
        walk.setForwardOnly(true);
        const QString walkSql =
            QStringLiteral(R"(SELECT rowid, "TimerIndex", "Index", "Task", "Every",
                 "Count", "TimeOfDay", "DayOfWeek", "Month", "Date" FROM "Timer"%1
                 ORDER BY "TimerIndex")")
                .arg(passedBefore ? QLatin1String(R"( WHERE "Date" < ? AND "Every" <> 4)")
                                  : QLatin1String());
        if (!tryQuery(walk, walkSql, passedBefore ? QVariantList{*passedBefore} : QVariantList{}))
            datesNotWritten(walk.lastError().text());
        QSqlQuery write(db);
        if (!write.prepare(QStringLiteral(R"(UPDATE "Timer" SET "Date" = ? WHERE rowid = ?)")))
            datesNotWritten(write.lastError().text());
        const TimerField field = [&walk](const char* name) {
            const auto at =
                std::find_if(std::begin(fields), std::end(fields),
                             [name](const char* each) { return qstrcmp(each, name) == 0; });
            return walk.value(int(at - std::begin(fields)) + 1);
        };
        while (walk.next()) {
            const std::optional<QString> next = nextDate(field);
            if (!next || walk.value(9).toString() == *next)
                continue;
            write.bindValue(0, *next);
            write.bindValue(1, walk.value(0));
            if (!write.exec())
                datesNotWritten(write.lastError().text());
        }
        walk.finish();
        if (inTransaction && !db.commit())
            datesNotWritten(db.lastError().text());
    } catch (...) {
        if (inTransaction)
            db.rollback();
        throw;
    }
}

} // namespace kavio::timers
