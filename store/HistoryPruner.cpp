#include "HistoryPruner.h"

#include "Clock.h"
#include "Database.h"
#include "SettingsFile.h"

#include <QSettings>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTimer>
#include <limits>
#include <vector>

namespace kavio {

HistoryRetention HistoryRetention::fromSettings() {
    const QSettings settings = settingsFile();
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
    // The count is a batch of its own: it reads the whole table.
    if (excessRows < 0) {
        if (!query.exec(QStringLiteral(R"(SELECT count(*) FROM "History")")) || !query.next())
            return -1;
        excessRows = qMax<qint64>(0, query.value(0).toLongLong() - retention.KeepRows);
        scannedUpTo = 0;
        keptFrom.clear();
        moreToScan = excessRows > 0;
        return 0;
    }
    moreToScan = false;
    if (excessRows == 0)
        return 0;
    const int wanted = int(qMin<qint64>(BatchRows, excessRows));
    QSqlQuery newest(db);
    newest.prepare(QStringLiteral(
        R"(SELECT "Time" FROM "History" WHERE "Index" = ? ORDER BY "Time" DESC LIMIT 1 OFFSET ?)"));
    int lookups = 0;
    for (int window = 0; window < WindowsPerBatch; ++window) {
        query.prepare(QStringLiteral(
            R"(SELECT "Id", "Index", "Time" FROM "History" WHERE "Id" > ? ORDER BY "Id" LIMIT ?)"));
        query.addBindValue(scannedUpTo);
        query.addBindValue(WindowRows);
        if (!query.exec())
            return -1;
        struct Row {
            qint64 id, unit, time;
        };
        std::vector<Row> rows;
        rows.reserve(WindowRows);
        while (query.next())
            rows.push_back({query.value(0).toLongLong(), query.value(1).toLongLong(),
                            query.value(2).toLongLong()});
        query.finish();
        if (rows.empty()) {
            excessRows = 0; // every row left is one that is kept
            return 0;
        }
        // Each unit keeps its rows from its KeptPerUnit-th newest on; a unit with fewer keeps
        // them all. Read once a round: newer rows since only move that time on, so the time
        // read keeps a little more, never less.
        QStringList ids;
        qint64 examined = scannedUpTo;
        bool outOfLookups = false;
        for (const Row& row : rows) {
            auto from = keptFrom.constFind(row.unit);
            if (from == keptFrom.cend()) {
                if (lookups == LookupsPerBatch) {
                    outOfLookups = true;
                    break;
                }
                ++lookups;
                newest.addBindValue(row.unit);
                newest.addBindValue(KeptPerUnit - 1);
                if (!newest.exec())
                    return -1;
                from =
                    keptFrom.insert(row.unit, newest.next() ? newest.value(0).toLongLong()
                                                            : std::numeric_limits<qint64>::min());
                newest.finish();
            }
            examined = row.id;
            if (row.time < *from) {
                ids << QString::number(row.id);
                if (ids.size() == wanted)
                    break;
            }
        }
        scannedUpTo = examined;
        if (ids.isEmpty()) {
            moreToScan = true;
            if (outOfLookups)
                return 0;
            continue;
        }
        if (!query.exec(QStringLiteral(R"(DELETE FROM "History" WHERE "Id" IN (%1))")
                            .arg(ids.join(QLatin1Char(',')))))
            return -1;
        deleted = query.numRowsAffected();
        excessRows -= deleted;
        moreToScan = excessRows > 0;
        return deleted;
    }
    return 0;
}

} // namespace kavio
