#include "TimerMigration.h"

#include "Exception.h"

#include <QDate>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>
#include <algorithm>

namespace kavio {
namespace {

constexpr int Weekly = 1;
constexpr int Yearly = 3;

[[noreturn]] void fail(const QSqlQuery& query) {
    throw DatabaseError(QStringLiteral("Table Timer.DB: older timers cannot be brought up to "
                                       "date: %1")
                            .arg(query.lastError().text()));
}

// Bit 0 Sunday .. bit 6 Saturday, as the Timer table holds them.
bool ticked(qint64 dayMask, const QDate& date) {
    return (dayMask >> (date.dayOfWeek() % 7)) & 1;
}

int writeYearlyDays(QSqlDatabase& db) {
    QSqlQuery query(db);
    const QString statement =
        QStringLiteral(
            R"(UPDATE "Timer" SET "Count" = CAST(substr("Date", 9, 2) AS INTEGER)
WHERE "Every" = %1 AND typeof("Count") = 'integer' AND "Count" NOT BETWEEN 1 AND 31
  AND "Date" GLOB '[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]'
  AND CAST(substr("Date", 9, 2) AS INTEGER) BETWEEN 1 AND 31)")
            .arg(Yearly);
    if (!query.exec(statement))
        fail(query);
    return query.numRowsAffected();
}

int anchorWeeklyRhythms(QSqlDatabase& db) {
    struct Move {
        QVariant rowid;
        QString date;
    };
    std::vector<Move> moves;
    QSqlQuery walk(db);
    walk.setForwardOnly(true);
    if (!walk.exec(QStringLiteral(R"(SELECT rowid, "Count", "DayOfWeek", "Date" FROM "Timer"
WHERE "Every" = %1 AND typeof("Count") = 'integer' AND typeof("DayOfWeek") = 'integer')")
                       .arg(Weekly)))
        fail(walk);
    while (walk.next()) {
        const qint64 mask = walk.value(2).toLongLong() & 0x7F;
        const QString text = walk.value(3).toString();
        const QDate date = QDate::fromString(text, QStringLiteral("yyyy-MM-dd"));
        if (mask == 0 || !date.isValid() || text.size() != 10)
            continue;
        const QDate monday = date.addDays(1 - date.dayOfWeek());
        bool leftInWeek = false;
        for (QDate day = date; day <= monday.addDays(6) && !leftInWeek; day = day.addDays(1))
            leftInWeek = ticked(mask, day);
        if (leftInWeek)
            continue;
        const qint64 weeks = std::max<qint64>(walk.value(1).toLongLong(), 1);
        const QDate next = monday.addDays(7 * weeks);
        if (next.isValid())
            moves.push_back({walk.value(0), next.toString(QStringLiteral("yyyy-MM-dd"))});
    }
    walk.finish();

    QSqlQuery write(db);
    if (!write.prepare(QStringLiteral(R"(UPDATE "Timer" SET "Date" = ? WHERE rowid = ?)")))
        fail(write);
    for (const Move& move : moves) {
        write.bindValue(0, move.date);
        write.bindValue(1, move.rowid);
        if (!write.exec())
            fail(write);
    }
    return int(moves.size());
}

} // namespace

int migrateTimers(QSqlDatabase& db) {
    return writeYearlyDays(db) + anchorWeeklyRhythms(db);
}

} // namespace kavio
