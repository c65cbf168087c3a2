#include "HistoryPruner.h"

#include "Clock.h"
#include "Database.h"

#include <QSettings>
#include <QSqlQuery>
#include <QTimer>

namespace kavio {

HistoryRetention HistoryRetention::fromSettings() {
    const QSettings settings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("KavioCC"));
    HistoryRetention retention;
    bool ok = false;
    const int days = settings.value(QStringLiteral("History/KeepDays")).toInt(&ok);
    if (ok && days > 0)
        retention.KeepDays = days;
    const qint64 rows = settings.value(QStringLiteral("History/KeepRows")).toLongLong(&ok);
    if (ok && rows > 0)
        retention.KeepRows = rows;
    return retention;
}

HistoryPruner::HistoryPruner(HistoryRetention retention, QObject* parent)
    : QObject(parent)
    , retention(retention)
    , timer(new QTimer(this)) {
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, this, &HistoryPruner::tick);
}

void HistoryPruner::start() {
    timer->start(BatchIntervalMs);
}

void HistoryPruner::tick() {
    const int deleted = Database::isOpen() ? pruneBatch() : 0;
    if (deleted > 0 || (deleted == 0 && moreToScan)) {
        timer->start(BatchIntervalMs);
    } else {
        excessRows = -1;
        timer->start(RoundIntervalMs);
    }
}

int HistoryPruner::pruneBatch() {
    QSqlDatabase db = Database::connection();
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral(
            "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'History'")))
        return -1;
    if (!query.next())
        return 0;

    // Too old first: the time index hands over the oldest rows directly.
    const qint64 cutoff = Clock::now().toMSecsSinceEpoch() - qint64(retention.KeepDays) * 86400000;
    query.prepare(QStringLiteral(R"(DELETE FROM "History" WHERE "Id" IN
 (SELECT "Id" FROM "History" WHERE "Time" < ? ORDER BY "Time" LIMIT ?))"));
    query.addBindValue(cutoff);
    query.addBindValue(BatchRows);
    if (!query.exec())
        return -1;
    int deleted = query.numRowsAffected();
    if (deleted > 0) {
        excessRows = -1;
        return deleted;
    }

    // Then too many: counted once a round, and deleted from the oldest key on, but never one of
    // a unit's newest KeptPerUnit rows, so that a unit that floods the history cannot push the
    // others' last exchanges out. The oldest rows are looked at a window at a time, from where
    // the last batch of the round stopped.
    if (excessRows < 0) {
        if (!query.exec(QStringLiteral(R"(SELECT count(*) FROM "History")")) || !query.next())
            return -1;
        excessRows = qMax<qint64>(0, query.value(0).toLongLong() - retention.KeepRows);
        scannedUpTo = 0;
    }
    moreToScan = false;
    if (excessRows == 0)
        return 0;
    const int wanted = int(qMin<qint64>(BatchRows, excessRows));
    for (int window = 0; window < WindowsPerBatch; ++window) {
        // Of the window's rows, those older than their unit's KeptPerUnit-th newest.
        query.prepare(QStringLiteral(R"(WITH "Window" AS
 (SELECT "Id", "Index", "Time" FROM "History" WHERE "Id" > ? ORDER BY "Id" LIMIT ?),
 "Kept" AS (SELECT "Unit"."Index" AS "Key",
   (SELECT "Time" FROM "History" AS "Newer" WHERE "Newer"."Index" = "Unit"."Index"
    ORDER BY "Time" DESC LIMIT 1 OFFSET ?) AS "From"
   FROM (SELECT DISTINCT "Index" FROM "Window") AS "Unit")
 SELECT "Window"."Id", (SELECT max("Id") FROM "Window") FROM "Window"
 LEFT JOIN "Kept" ON "Kept"."Key" = "Window"."Index"
 WHERE "Window"."Time" < "Kept"."From"
 ORDER BY "Window"."Id")"));
        query.addBindValue(scannedUpTo);
        query.addBindValue(WindowRows);
        query.addBindValue(KeptPerUnit - 1);
        if (!query.exec())
            return -1;
        QStringList ids;
        qint64 windowEnd = -1;
        qint64 lastId = -1;
        while (ids.size() < wanted && query.next()) {
            // A unit with fewer rows than it keeps has no "From": all of its rows stay.
            lastId = query.value(0).toLongLong();
            windowEnd = query.value(1).toLongLong();
            ids << QString::number(lastId);
        }
        query.finish();
        if (ids.isEmpty() && windowEnd < 0) {
            // Nothing to delete in this window: go on after it, if there is anything after it.
            if (!query.exec(QStringLiteral(R"(SELECT max("Id") FROM (SELECT "Id" FROM "History"
 WHERE "Id" > %1 ORDER BY "Id" LIMIT %2))")
                                .arg(scannedUpTo)
                                .arg(WindowRows)) ||
                !query.next())
                return -1;
            if (query.value(0).isNull()) {
                excessRows = 0; // every row left is one that is kept
                return 0;
            }
            scannedUpTo = query.value(0).toLongLong();
            moreToScan = true;
            continue;
        }
        if (!query.exec(QStringLiteral(R"(DELETE FROM "History" WHERE "Id" IN (%1))")
                            .arg(ids.join(QLatin1Char(',')))))
            return -1;
        deleted = query.numRowsAffected();
        // A window taken whole is done; one cut short goes on after its last row deleted.
        scannedUpTo = ids.size() < wanted ? windowEnd : lastId;
        excessRows -= deleted;
        moreToScan = excessRows > 0;
        return deleted;
    }
    return 0;
}

} // namespace kavio
