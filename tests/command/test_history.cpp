#include "Clock.h"
#include "Codes.h"
#include "CommandEngine.h"
#include "Database.h"
#include "GlobalFunctions.h"
#include "HistoryPruner.h"
#include "HistoryQuery.h"
#include "HistoryRecorder.h"
#include "HistoryWriter.h"
#include "LoopbackUnits.h"
#include "SqliteTool.h"
#include "TempDatabase.h"
#include "UnitSim.h"

#include <QHash>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTest>
#include <memory>

using namespace kavio;
using kavio::sim::Behaviour;
using kavio::sim::SimulatedUnit;
using kavio::sim::UnitConfig;
using test::behaving;
using test::runSqliteTool;
using test::SqliteWriteLock;
using test::TempDatabase;
using test::unusedPort;

namespace {

constexpr int Patience = 10000;

qint64 historyCount() {
    QSqlQuery query(Database::connection());
    return query.exec(QStringLiteral(R"(SELECT count(*) FROM "History")")) && query.next()
               ? query.value(0).toLongLong()
               : -1;
}

// A row of the known table the filters are tried on.
HistoryRow row(qint64 timeMs, quint16 index, const QString& name, const QString& source,
               const QString& outcome) {
    HistoryRow r;
    r.TimeMs = timeMs;
    r.Index = index;
    r.Name = name;
    r.Address = QStringLiteral("127.0.0.1");
    r.Port = 4001;
    r.Command = QStringLiteral("q");
    r.Task = TaskQuery;
    r.Source = source;
    r.Reply = QStringLiteral("ON");
    r.Status = StatusOn;
    r.Outcome = outcome;
    r.DurationMs = 12;
    return r;
}

} // namespace

// The History table: what the engine's exchanges leave there, how it is read, kept and pruned,
// and what a locked or full database does to it.
class TestHistory : public QObject {
    Q_OBJECT

    std::unique_ptr<TempDatabase> db;
    std::unique_ptr<TCommandEngine> engine;
    std::unique_ptr<HistoryWriter> writer;

    void runQueue() {
        QTRY_VERIFY_WITH_TIMEOUT(!engine->busy() && engine->queue().isEmpty(), Patience);
    }

private slots:
    void init() {
        db = std::make_unique<TempDatabase>();
        engine = std::make_unique<TCommandEngine>();
        writer = std::make_unique<HistoryWriter>();
        RecordHistory(*engine, *writer);
    }

    void cleanup() {
        writer.reset();
        engine.reset();
        db.reset();
    }

    // One row per exchange, whoever queued it and however it ended.
    void everySourceAndOutcomeIsKept() {
        SimulatedUnit on(behaving(Behaviour::On));
        SimulatedUnit silent(behaving(Behaviour::Silent));
        UnitConfig mumbling = behaving(Behaviour::Garbage);
        mumbling.reply = "a,\"b\\\x01";
        SimulatedUnit mumbler(mumbling);
        QVERIFY(on.listen() && silent.listen(0, QHostAddress(QStringLiteral("127.0.0.2"))) &&
                mumbler.listen());
        const quint16 a =
            TempDatabase::addUnit(QStringLiteral("Rack A"), QStringLiteral("127.0.0.1"), on.port());
        const quint16 s = TempDatabase::addUnit(QStringLiteral("quiet"),
                                                QStringLiteral("127.0.0.2"), silent.port());
        const quint16 m = TempDatabase::addUnit(QStringLiteral("mumbler"),
                                                QStringLiteral("127.0.0.1"), mumbler.port());
        const quint16 down = TempDatabase::addUnit(QStringLiteral("down"),
                                                   QStringLiteral("127.0.0.1"), unusedPort());
        const quint16 bad =
            TempDatabase::addUnit(QStringLiteral("bad"), QStringLiteral("127.0.0.1"), on.port(),
                                  QStringLiteral("pw\x1bq"));
        const quint16 group = TempDatabase::addGroup(QStringLiteral("group"));

        const QList<CommandSource> sources = {CommandSource::Button,   CommandSource::Popup,
                                              CommandSource::Poll,     CommandSource::TimedPoll,
                                              CommandSource::Timer,    CommandSource::CycleFollowUp,
                                              CommandSource::Kavioctl, CommandSource::Http};
        const qint64 before = QDateTime::currentMSecsSinceEpoch();
        for (CommandSource source : sources)
            engine->AddToQueue(a, TaskPowerOff, source);
        engine->AddToQueue(s, TaskQuery, CommandSource::Poll);
        engine->AddToQueue(m, TaskQuery, CommandSource::Timer);
        engine->AddToQueue(down, TaskPowerOn, CommandSource::Popup);
        engine->AddToQueue(bad, TaskQuery, CommandSource::Kavioctl);
        engine->AddToQueue(group, TaskQuery, CommandSource::Timer); // no exchange, no row
        runQueue();
        QVERIFY(writer->flush());

        const QList<HistoryRow> rows = ReadHistory({}, 0).Rows;
        QCOMPARE(writer->lost(), 0);
        QCOMPARE(rows.size(), 12);
        // Newest first. Each unit's rows come in the order its commands were queued; the units
        // take turns, so the other units' rows stand among the first unit's.
        QList<HistoryRow> ofA;
        QHash<QString, HistoryRow> byName;
        for (auto each = rows.crbegin(); each != rows.crend(); ++each) {
            if (each->Index == a)
                ofA << *each;
            else
                byName.insert(each->Name, *each);
        }
        QCOMPARE(ofA.size(), 8);
        for (int i = 0; i < 8; ++i) {
            const HistoryRow& r = ofA[i];
            QCOMPARE(r.Source, sourceName(sources[i]));
            QCOMPARE(r.Name, QStringLiteral("Rack A"));
            QCOMPARE(r.Address, QStringLiteral("127.0.0.1"));
            QCOMPARE(r.Port, on.port());
            QCOMPARE(r.Command, QStringLiteral("f"));
            QCOMPARE(r.Task, quint8(TaskPowerOff));
            QCOMPARE(r.Reply, QStringLiteral("ON"));
            QCOMPARE(r.Status, quint8(StatusOn));
            QCOMPARE(r.Outcome, QStringLiteral("answered"));
            QVERIFY(r.TimeMs >= before && r.TimeMs <= QDateTime::currentMSecsSinceEpoch());
            QVERIFY(r.DurationMs >= 0 && r.DurationMs < TCommandEngine::ReplyLimitMs);
        }
        QCOMPARE(byName.size(), 4);
        QCOMPARE(byName[QStringLiteral("quiet")].Outcome, QStringLiteral("timed out"));
        QCOMPARE(byName[QStringLiteral("quiet")].Address, QStringLiteral("127.0.0.2"));
        QVERIFY(byName[QStringLiteral("quiet")].DurationMs >= TCommandEngine::ReplyLimitMs - 50);
        QCOMPARE(byName[QStringLiteral("mumbler")].Outcome, QStringLiteral("unknown reply"));
        QCOMPARE(byName[QStringLiteral("mumbler")].Reply, QStringLiteral("a,\"b\\\\\\x01"));
        QCOMPARE(byName[QStringLiteral("down")].Outcome, QStringLiteral("refused"));
        QCOMPARE(byName[QStringLiteral("down")].Status, quint8(StatusError));
        QCOMPARE(byName[QStringLiteral("bad")].Outcome, QStringLiteral("refused"));
        QCOMPARE(byName[QStringLiteral("bad")].Source, QStringLiteral("kavioctl"));
        QCOMPARE(*LastAnswerMs(a), ofA.last().TimeMs);
        QVERIFY(!LastAnswerMs(down));
        // The words of the unit's tooltip.
        QCOMPARE(LastAnswerText(a),
                 QDateTime::fromMSecsSinceEpoch(ofA.last().TimeMs)
                     .toString(QStringLiteral("'last answer: 'yyyy-MM-dd HH:mm:ss")));
        QCOMPARE(LastAnswerText(down), QStringLiteral("last answer: none kept"));
    }

    // An exchange's row is in the database as soon as its status is, written with it: nothing
    // waits in the writer for a process that is killed to lose.
    void rowGoesInWithItsStatus() {
        SimulatedUnit unit(behaving(Behaviour::Switch));
        QVERIFY(unit.listen());
        const quint16 a =
            TempDatabase::addUnit(QStringLiteral("a"), QStringLiteral("127.0.0.1"), unit.port());
        QList<qint64> rowsAtResult, statusAtResult;
        QList<bool> recorded;
        connect(engine.get(), &TCommandEngine::exchangeFinished, this,
                [&](const TCommandResult& result) {
                    rowsAtResult << historyCount();
                    statusAtResult << TempDatabase::status(a);
                    recorded << result.Recorded;
                });
        engine->AddToQueue(a, TaskPowerOn);
        engine->AddToQueue(a, TaskPowerOff);
        runQueue();
        QCOMPARE(rowsAtResult, (QList<qint64>{1, 2}));
        QCOMPARE(statusAtResult, (QList<qint64>{StatusOn, StatusOff}));
        QCOMPARE(recorded, (QList<bool>{true, true}));
        QCOMPARE(writer->waiting(), 0);
        const QList<HistoryRow> rows = ReadHistory({}, 0).Rows;
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows[0].Status, quint8(StatusOff));
        QCOMPARE(rows[0].Outcome, QStringLiteral("answered"));
    }

    // A locked database keeps the rows waiting with the statuses; a full one loses the rows, once
    // told, while the statuses go in first and the queue goes on.
    void lockedThenFullDatabase() {
        SimulatedUnit on(behaving(Behaviour::On));
        QVERIFY(on.listen());
        const quint16 a =
            TempDatabase::addUnit(QStringLiteral("a"), QStringLiteral("127.0.0.1"), on.port());
        QSignalSpy lost(writer.get(), &HistoryWriter::rowsLost);
        {
            SqliteWriteLock lock(db->path);
            QVERIFY(lock.isHeld());
            engine->AddToQueue(a, TaskQuery);
            engine->AddToQueue(a, TaskPowerOff);
            runQueue();
            QVERIFY(!writer->flush());
            QCOMPARE(writer->waiting(), 2);
        }
        QTRY_COMPARE_WITH_TIMEOUT(writer->waiting(), 0, Patience);
        QCOMPARE(historyCount(), 2);
        QCOMPARE(ReadHistory({}, 0).Rows[0].Outcome, QStringLiteral("not stored"));
        QCOMPARE(lost.count(), 0);

        // The file may grow no more: filler rows take what room is left.
        QSqlQuery query(Database::connection());
        QVERIFY(query.exec(QStringLiteral("PRAGMA page_count")) && query.next());
        QVERIFY(query.exec(
            QStringLiteral("PRAGMA max_page_count = %1").arg(query.value(0).toLongLong())));
        while (query.exec(QStringLiteral(
            R"(INSERT INTO "History" SELECT NULL, "Time", "Index", "Name", "IPAddress", "Port",
 "Command", "Task", "Source", "Reply", "Status", "Outcome", "Duration" FROM "History" LIMIT 1)")))
            ;
        const qint64 full = historyCount();
        TTable master(QStringLiteral("Master.DB"));
        SetStatus(master, a, StatusUnknown);
        for (int i = 0; i < 3; ++i)
            engine->AddToQueue(a, TaskQuery);
        runQueue();
        QCOMPARE(TempDatabase::status(a), qint64(StatusOn));
        QVERIFY(engine->unstoredStatuses().isEmpty());
        QVERIFY(writer->flush());
        engine->AddToQueue(a, TaskQuery);
        runQueue();
        QVERIFY(writer->flush());
        QCOMPARE(writer->lost(), 4);
        QCOMPARE(lost.count(), 1);
        QVERIFY2(lost.first().first().toString().contains(QStringLiteral("full")),
                 qPrintable(lost.first().first().toString()));
        QCOMPARE(historyCount(), full);
    }

    // Rows older than the days kept go first, then the oldest beyond the rows kept.
    void pruningKeepsTheLesserOfDaysAndRows() {
        ManualClock clock(QDateTime(QDate(2026, 6, 1), QTime(12, 0), Qt::UTC));
        const qint64 now = clock.time.toMSecsSinceEpoch();
        const qint64 day = 86400000;
        for (int i = 0; i < 1200; ++i) // 1200 rows, one every hour up to ten days ago
            writer->add(row(now - (1200 - i) * day / 120, 1, "u", "poll", "answered"));
        QVERIFY(writer->flush());

        HistoryPruner pruner({5, 1000});
        int batches = 0;
        while (pruner.pruneBatch() > 0 || pruner.moreToScanLeft())
            ++batches;
        // Five days hold 600 rows, fewer than 1000: the days rule, in batches.
        QCOMPARE(historyCount(), 600);
        QVERIFY(batches >= 2);
        QSqlQuery query(Database::connection());
        QVERIFY(query.exec(QStringLiteral(R"(SELECT min("Time") FROM "History")")) && query.next());
        QVERIFY(query.value(0).toLongLong() >= now - 5 * day);

        HistoryPruner fewRows({400, 250});
        while (fewRows.pruneBatch() > 0 || fewRows.moreToScanLeft())
            ;
        QCOMPARE(historyCount(), 250);
        QVERIFY(query.exec(QStringLiteral(R"(SELECT min("Time") FROM "History")")) && query.next());
        QCOMPARE(query.value(0).toLongLong(), now - 250 * day / 120);

        // On its own timer the pruner goes on from counting the rows to deleting them.
        HistoryPruner onItsOwn({400, 200});
        onItsOwn.start();
        QTRY_COMPARE_WITH_TIMEOUT(historyCount(), 200, Patience);
    }

    // Beyond the rows kept, a unit that floods the history never pushes another unit's newest
    // hundred rows out, however old they are; older rows of a quiet unit still go.
    void pruningKeepsEachUnitsLastRows_data() {
        QTest::addColumn<int>("quietRows");
        QTest::addColumn<int>("quietKept");
        QTest::newRow("fewer than kept") << 60 << 60;
        QTest::newRow("more than kept") << 150 << 100;
    }

    void pruningKeepsEachUnitsLastRows() {
        QFETCH(int, quietRows);
        QFETCH(int, quietKept);
        ManualClock clock(QDateTime(QDate(2026, 6, 1), QTime(12, 0), Qt::UTC));
        const qint64 now = clock.time.toMSecsSinceEpoch();
        // The quiet unit's rows are the oldest, then a unit that keeps answering floods; a
        // second quiet unit's rows are spread among the flood's.
        for (int i = 0; i < quietRows; ++i)
            writer->add(row(now - 3600000 + i, 2, "quiet", "poll", "answered"));
        for (int i = 0; i < 5000; ++i) {
            writer->add(row(now - 1800000 + i, 1, "flood", "cycle follow-up", "answered"));
            if (i % 100 == 0)
                writer->add(row(now - 1800000 + i, 3, "sparse", "poll", "answered"));
        }
        QVERIFY(writer->flush());

        HistoryPruner pruner({400, 250});
        int batches = 0;
        while (pruner.pruneBatch() > 0 || pruner.moreToScanLeft())
            QVERIFY(++batches < 1000);
        const auto rowsOf = [](int unit) {
            QSqlQuery query(Database::connection());
            return query.exec(QStringLiteral(R"(SELECT count(*) FROM "History" WHERE "Index" = %1)")
                                  .arg(unit)) &&
                           query.next()
                       ? query.value(0).toInt()
                       : -1;
        };
        QCOMPARE(rowsOf(2), quietKept);
        QCOMPARE(rowsOf(3), 50);
        // The flood keeps its newest rows down to the limit, never fewer than a hundred.
        QCOMPARE(rowsOf(1), std::max(100, 250 - quietKept - 50));
        QSqlQuery newest(Database::connection());
        QVERIFY(
            newest.exec(QStringLiteral(R"(SELECT min("Time") FROM "History" WHERE "Index" = 1)")) &&
            newest.next());
        QCOMPARE(newest.value(0).toLongLong(), now - 1800000 + 5000 - rowsOf(1));
    }

    // A file made before the history existed: the writer adds the table; a reader leaves the
    // file alone and finds no history.
    void fileWithoutHistory() {
        db.reset();
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("old.db"));
        bool ok = false;
        runSqliteTool(path, QStringLiteral(R"(CREATE TABLE "Master" ("Index" INTEGER PRIMARY KEY
 AUTOINCREMENT, "Name" TEXT, "IPAddress" TEXT, "Port" INTEGER, "Password" TEXT, "Group" INTEGER
 NOT NULL DEFAULT 0, "Timer" INTEGER NOT NULL DEFAULT 0, "Status" INTEGER NOT NULL DEFAULT 3,
 "Checked" INTEGER NOT NULL DEFAULT 0);
 CREATE TABLE "Group" ("GroupIndex" INTEGER NOT NULL, "Index" INTEGER NOT NULL);
 CREATE TABLE "Timer" ("TimerIndex" INTEGER PRIMARY KEY AUTOINCREMENT, "Index" INTEGER NOT NULL,
 "Task" INTEGER NOT NULL, "Every" INTEGER NOT NULL, "Count" INTEGER NOT NULL DEFAULT 0,
 "TimeOfDay" TEXT NOT NULL, "DayOfWeek" INTEGER NOT NULL DEFAULT 0, "Month" INTEGER NOT NULL
 DEFAULT 0, "Date" TEXT NOT NULL);
 INSERT INTO "Master" ("Name") VALUES ('old');)"),
                      &ok);
        QVERIFY(ok);
        const QString tables = QStringLiteral(
            "SELECT group_concat(name) FROM sqlite_master WHERE name LIKE 'History%';");
        Database::open(path, Database::Access::Read);
        QVERIFY(ReadHistory({}, 0).Rows.isEmpty());
        QVERIFY(!LastAnswerMs(1));
        Database::close();
        QCOMPARE(runSqliteTool(path, tables), QString());

        Database::open(path);
        QCOMPARE(runSqliteTool(path, tables),
                 QStringLiteral("History,HistoryByTime,HistoryByUnit"));
        writer->add(row(1, 1, "old", "poll", "answered"));
        QVERIFY(writer->flush());
        QCOMPARE(historyCount(), 1);
        Database::close();
    }
};

QTEST_MAIN(TestHistory)
#include "test_history.moc"
