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
    if (deleted > 0) {
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

    // Then too many: counted once a round, and deleted from the oldest key on.
    if (excessRows < 0) {
        if (!query.exec(QStringLiteral(R"(SELECT count(*) FROM "History")")) || !query.next())
            return -1;
        excessRows = qMax<qint64>(0, query.value(0).toLongLong() - retention.KeepRows);
    }
    if (excessRows == 0)
        return 0;
    query.prepare(QStringLiteral(R"(DELETE FROM "History" WHERE "Id" IN
 (SELECT "Id" FROM "History" ORDER BY "Id" LIMIT ?))"));
    query.addBindValue(int(qMin<qint64>(BatchRows, excessRows)));
    if (!query.exec())
        return -1;
    deleted = query.numRowsAffected();
    excessRows -= deleted;
    return deleted;
}

} // namespace kavio
