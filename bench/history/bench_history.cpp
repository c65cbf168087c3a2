// The history's costs: what keeping one exchange adds to the queue's path, and how fast the
// History window and kavioctl read a table of a million rows.
#include "BenchSupport.h"
#include "Database.h"
#include "HistoryPruner.h"
#include "HistoryQuery.h"
#include "HistoryWriter.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QSqlQuery>
#include <QTemporaryDir>

using namespace kavio;
using namespace kavio::bench;

namespace {

constexpr int Units = 500;
constexpr qint64 Rows = 1000000;

HistoryRow exchange(qint64 timeMs, int i) {
    HistoryRow row;
    row.TimeMs = timeMs;
    row.Index = quint16(1 + i % Units);
    row.Name = QStringLiteral("Rack %1").arg(row.Index);
    row.Address = QStringLiteral("10.0.%1.%2").arg(row.Index / 250).arg(row.Index % 250 + 1);
    row.Port = 5001;
    row.Command = QStringLiteral("q");
    row.Task = 5;
    row.Source = QStringLiteral("poll");
    row.Reply = QStringLiteral("ON");
    row.Outcome = QStringLiteral("answered");
    row.DurationMs = 35;
    return row;
}

// Times one call, in ms.
template <typename F> double timed(F&& call) {
    QElapsedTimer clock;
    clock.start();
    call();
    return millisecondsOf(clock);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("KavioCC/KavioCC.db"));
    Database::open(path);
    QSqlQuery sql(Database::connection());
    sql.exec(QStringLiteral(R"(WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n
 WHERE i < %1) INSERT INTO "Master" ("Name", "IPAddress", "Port", "Password")
 SELECT 'Rack ' || i, '10.0.0.1', 5001, 'pw' FROM n)")
                 .arg(Units));
    bool ok = true;

    // The queue's path: an exchange's row handed to the writer, and its share of the flush.
    // Gathered as in the control center (one flush per FlushDelayMs) and, at worst, one flush
    // per exchange (exchanges further apart than the delay).
    {
        HistoryWriter writer;
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        constexpr int Batched = 20000, Batch = 20, Single = 2000;
        const double batched = timed([&] {
            for (int i = 0; i < Batched; ++i) {
                writer.add(exchange(now + i, i));
                if (i % Batch == Batch - 1)
                    writer.flush();
            }
        });
        ok &= report("history: per exchange, 20 exchanges per flush", batched / Batched, "ms", 0.2);
        std::vector<double> each;
        for (int i = 0; i < Single; ++i) {
            each.push_back(timed([&] {
                writer.add(exchange(now + Batched + i, i));
                writer.flush();
            }));
        }
        ok &= report("history: per exchange, one flush each (median)", median(each), "ms", 0.2);
        // The worst includes a checkpoint of the write-ahead log, which the status writes share.
        report("history: per exchange, one flush each (worst)", maximum(each), "ms", 20);
    }

    // A million rows over 400 days, 500 units, all sources and outcomes in turn.
    const qint64 end = QDateTime::currentMSecsSinceEpoch();
    const qint64 step = 400LL * 86400000 / Rows;
    const double fill = timed([&] {
        sql.exec(QStringLiteral("BEGIN"));
        sql.exec(QStringLiteral(
                     R"(WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1)
 INSERT INTO "History" ("Time", "Index", "Name", "IPAddress", "Port", "Command", "Task", "Source",
 "Reply", "Status", "Outcome", "Duration")
 SELECT %2 + i * %3, 1 + i % %4, 'Rack ' || (1 + i % %4), '10.0.0.1', 5001, 'q', 5,
 CASE i % 8 WHEN 0 THEN 'button' WHEN 1 THEN 'popup' WHEN 2 THEN 'poll' WHEN 3 THEN 'timed poll'
 WHEN 4 THEN 'timer' WHEN 5 THEN 'cycle follow-up' WHEN 6 THEN 'kavioctl' ELSE 'http' END,
 'ON', 0, CASE i % 50 WHEN 0 THEN 'timed out' ELSE 'answered' END, 35 FROM n)")
                     .arg(Rows)
                     .arg(end - Rows * step)
                     .arg(step)
                     .arg(Units));
        sql.exec(QStringLiteral("COMMIT"));
    });
    std::printf("(filled %lld rows in %.0f ms)\n", Rows, fill);
    Database::close();
    Database::open(path);

    HistoryFilter unit;
    unit.Unit = 250;
    // A group of ten units.
    sql = QSqlQuery(Database::connection());
    sql.exec(QStringLiteral(R"(INSERT INTO "Master" ("Name", "Group") VALUES ('rack', 1))"));
    sql.exec(QStringLiteral(R"(INSERT INTO "Group" SELECT (SELECT max("Index") FROM "Master"),
 "Index" FROM "Master" WHERE "Index" % 50 = 0)"));
    HistoryFilter group;
    group.Group = quint16(Units + 1);
    HistoryFilter rare;
    rare.Sources << QStringLiteral("http");
    rare.Outcomes << QStringLiteral("timed out");
    HistoryFilter lastWeek;
    lastWeek.SinceMs = end - 7LL * 86400000;
    lastWeek.Unit = 17;

    std::vector<double> first, unitPage, unitAll, nextPage, filtered, lastAnswer;
    for (int round = 0; round < 9; ++round) {
        first.push_back(timed([&] { ReadHistory({}, 200); }));
        unitPage.push_back(timed([&] { ReadHistory(unit, 200); }));
        unitAll.push_back(timed([&] { ReadHistory(unit, 0); }));
        nextPage.push_back(timed([&] {
            const HistoryPage page = ReadHistory({}, 200);
            ReadHistory({}, 200, page.Next);
        }));
        filtered.push_back(timed([&] { ReadHistory(lastWeek, 200); }));
        lastAnswer.push_back(timed([&] { LastAnswerMs(quint16(1 + round)); }));
    }
    ok &= report("1,000,000 rows: first page of 200 (median)", median(first), "ms", 100);
    ok &= report("1,000,000 rows: first page of 200 (worst)", maximum(first), "ms", 100);
    ok &= report("1,000,000 rows: a unit's first page (median)", median(unitPage), "ms", 50);
    ok &= report("1,000,000 rows: all 2000 rows of a unit (median)", median(unitAll), "ms", 50);
    report("1,000,000 rows: first two pages (median)", median(nextPage), "ms", 100);
    report("1,000,000 rows: a unit's last week (median)", median(filtered), "ms", 50);
    report("1,000,000 rows: a group of ten units, first page",
           timed([&] { ReadHistory(group, 200); }), "ms", 100);
    report("1,000,000 rows: a unit's last answer (median)", median(lastAnswer), "ms", 5);
    report("1,000,000 rows: rare source and outcome, first page",
           timed([&] { ReadHistory(rare, 200); }), "ms", 1000);

    // Pruning: one batch never holds the window up for long.
    HistoryPruner pruner({400, Rows - 5000});
    std::vector<double> batches;
    for (int deleted = 1; deleted > 0 || pruner.moreToScanLeft();)
        batches.push_back(timed([&] { deleted = pruner.pruneBatch(); }));
    report("pruning 5000 rows beyond the limit: worst batch", maximum(batches), "ms", 50);

    sql = QSqlQuery();
    Database::close();
    return ok ? 0 : 1;
}
