#include "Codes.h"
#include "CommandEngine.h"
#include "Exception.h"
#include "GlobalFunctions.h"
#include "HistoryRecorder.h"
#include "LoopbackUnits.h"
#include "Messages.h"
#include "SqliteTool.h"
#include "TempDatabase.h"
#include "UnitSim.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QSet>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
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

constexpr int Patience = 10000; // ms; generous, only a broken processor needs it

const QStringList NormalExchange(char letter) {
    return {QStringLiteral("Connecting 127.0.0.1"), QStringLiteral("  CONNECTED"),
            QStringLiteral("  Sending the %1 Command").arg(QLatin1Char(letter)),
            QStringLiteral("  SUCCESS")};
}

const QStringList FailedConnection = {QStringLiteral("Connecting 127.0.0.1"),
                                      QStringLiteral("  FAILED")};

// A socket that fails on demand: its write is refused, or the connection breaks with an error
// (not the peer's close) once the unit's first bytes have been read.
class FaultySocket : public QTcpSocket {
public:
    enum class Fault { Write, Read };

    FaultySocket(Fault fault, QObject* parent)
        : QTcpSocket(parent)
        , fault(fault) {
        if (fault == Fault::Read) {
            connect(this, &QTcpSocket::readyRead, this, [this] {
                QTimer::singleShot(0, this, [this] {
                    setSocketError(QAbstractSocket::NetworkError);
                    emit errorOccurred(QAbstractSocket::NetworkError);
                });
            });
        }
    }

protected:
    qint64 writeData(const char* data, qint64 size) override {
        if (fault == Fault::Write) {
            setErrorString(QStringLiteral("write refused"));
            return -1;
        }
        return QTcpSocket::writeData(data, size);
    }

private:
    Fault fault;
};

} // namespace

class TestCommandEngine : public QObject {
    Q_OBJECT

    std::unique_ptr<TempDatabase> db;
    std::unique_ptr<TCommandEngine> processor;
    // What the engine told: its log, the units it could not reach, and every result.
    QStringList log;
    QStringList unreached;
    QList<TCommandResult> results;

    quint16 addUnitFor(const SimulatedUnit& unit, const QString& name,
                       const QString& password = QStringLiteral("secret")) {
        return TempDatabase::addUnit(name, QStringLiteral("127.0.0.1"), unit.port(), password);
    }

    void waitUntilIdle() {
        QTRY_VERIFY_WITH_TIMEOUT(!processor->busy() && processor->queue().isEmpty(), Patience);
    }

private slots:
    void init() {
        db = std::make_unique<TempDatabase>();
        processor = std::make_unique<TCommandEngine>();
        log.clear();
        unreached.clear();
        results.clear();
        connect(processor.get(), &TCommandEngine::logged, this,
                [this](const QString& line) { log << line; });
        connect(processor.get(), &TCommandEngine::connectionFailed, this,
                [this](const QString& name) { unreached << name; });
        connect(processor.get(), &TCommandEngine::exchangeFinished, this,
                [this](const TCommandResult& result) { results << result; });
    }

    void cleanup() {
        processor.reset();
        db.reset();
    }

    void bytesOnTheWireAndLogLines() {
        SimulatedUnit withPassword(behaving(Behaviour::On));
        SimulatedUnit without(behaving(Behaviour::Off));
        QVERIFY(withPassword.listen() && without.listen());
        const quint16 a =
            addUnitFor(withPassword, QStringLiteral("a"), QStringLiteral("s3cr3t pw"));
        const quint16 b = addUnitFor(without, QStringLiteral("b"), QString());

        QSignalSpy changed(processor.get(), &TCommandEngine::statusChanged);
        QList<TLogLine> lines;
        connect(processor.get(), &TCommandEngine::loggedLine, this,
                [&](const TLogLine& line) { lines << line; });
        processor->AddToQueue(a, TaskPowerOn);
        processor->AddToQueue(b, TaskQuery);
        processor->AddToQueue(a, TaskCycle);
        waitUntilIdle();

        QCOMPARE(withPassword.received(),
                 QList<QByteArray>({"\x1bs3cr3t pw\x1bn\r", "\x1bs3cr3t pw\x1b"
                                                            "c\r"}));
        QCOMPARE(without.received(), QList<QByteArray>({QByteArray("\x1b\x1bq\r")}));
        QCOMPARE(log, NormalExchange('n') + NormalExchange('q') + NormalExchange('c'));
        // Each line also comes with the unit of its exchange, for logs that name it.
        QCOMPARE(lines.size(), log.size());
        for (int i = 0; i < lines.size(); ++i) {
            const bool first = i < 4 || i >= 8;
            QCOMPARE(lines[i].Text, log[i]);
            QCOMPARE(lines[i].Name, first ? QStringLiteral("a") : QStringLiteral("b"));
            QCOMPARE(lines[i].Port, first ? withPassword.port() : without.port());
            QCOMPARE(lines[i].Address, QStringLiteral("127.0.0.1"));
        }
        QCOMPARE(changed.count(), 3);
        QCOMPARE(TempDatabase::status(a), qint64(StatusOn));
        QCOMPARE(TempDatabase::status(b), qint64(StatusOff));
    }

    // Each producer hears how its own entry ended, by the ticket AddToQueue gave it.
    void everyEntryEndsWithItsOwnResult() {
        SimulatedUnit on(behaving(Behaviour::On));
        UnitConfig cycling = behaving(Behaviour::Cycle);
        cycling.cycles = 1;
        SimulatedUnit cycler(cycling);
        UnitConfig mumbling = behaving(Behaviour::Garbage);
        mumbling.reply = "what?";
        SimulatedUnit mumbler(mumbling);
        QVERIFY(on.listen() && cycler.listen() && mumbler.listen());
        const quint16 a = addUnitFor(on, QStringLiteral("on"));
        const quint16 c = addUnitFor(cycler, QStringLiteral("cycler"));
        const quint16 m = addUnitFor(mumbler, QStringLiteral("mumbler"));
        const quint16 down = TempDatabase::addUnit(QStringLiteral("down"),
                                                   QStringLiteral("127.0.0.1"), unusedPort());
        const quint16 group = TempDatabase::addGroup(QStringLiteral("group"));

        const qint64 queuedAt = QDateTime::currentMSecsSinceEpoch();
        const quint64 t1 = processor->AddToQueue(a, TaskPowerOn);
        const quint64 t2 = processor->AddToQueue(c, TaskCycle);
        const quint64 t3 = processor->AddToQueue(m, TaskQuery);
        const quint64 t4 = processor->AddToQueue(down, TaskQuery);
        const quint64 t5 = processor->AddToQueue(group, TaskQuery);
        QCOMPARE(QSet<quint64>({t1, t2, t3, t4, t5}).size(), 5);
        waitUntilIdle();

        using Outcome = TCommandResult::Outcome;
        // The query the engine queued itself after "CYCLE" ends last, with a ticket of its own.
        QCOMPARE(results.size(), 6);
        const TCommandResult& on1 = results[0];
        QCOMPARE(on1.Ticket, t1);
        QCOMPARE(on1.Index, a);
        QCOMPARE(on1.Task, quint8(TaskPowerOn));
        QCOMPARE(on1.Name, QStringLiteral("on"));
        QCOMPARE(on1.Result, Outcome::Answered);
        QCOMPARE(on1.Reply, QByteArray("ON"));
        QCOMPARE(on1.Status, quint8(StatusOn));
        QVERIFY(on1.Stored && on1.answeredWithStatusWord());
        QCOMPARE(on1.Address, QStringLiteral("127.0.0.1"));
        QCOMPARE(on1.Port, on.port());
        QVERIFY(on1.Written && !on1.TimedOut);
        QVERIFY(on1.StartedMs >= queuedAt && on1.StartedMs <= results[1].StartedMs);
        // A quick unit answers long before the reply limit.
        QVERIFY2(on1.DurationMs >= 0 && on1.DurationMs < TCommandEngine::ReplyLimitMs,
                 qPrintable(QString::number(on1.DurationMs)));
        QCOMPARE(results[1].Ticket, t2);
        QCOMPARE(results[1].Status, quint8(StatusCycle));
        QVERIFY(results[1].answeredWithStatusWord());
        QCOMPARE(results[2].Ticket, t3);
        QCOMPARE(results[2].Result, Outcome::Answered);
        QCOMPARE(results[2].Status, quint8(StatusUnknown));
        QVERIFY(!results[2].answeredWithStatusWord());
        QCOMPARE(results[3].Ticket, t4);
        QCOMPARE(results[3].Name, QStringLiteral("down"));
        QCOMPARE(results[3].Result, Outcome::NotConnected);
        QVERIFY(!results[3].Written && !results[3].TimedOut);
        QCOMPARE(results[4].Ticket, t5);
        QCOMPARE(results[4].Result, Outcome::Dropped);
        QVERIFY(!results[4].answeredWithStatusWord());
        QVERIFY(results[5].Ticket > t5);
        QCOMPARE(results[5].Index, c);
        QCOMPARE(results[5].Task, quint8(TaskQuery));
    }

    void replyWordBecomesStatus_data() {
        QTest::addColumn<int>("behaviour");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QByteArray>("preamble");
        QTest::addColumn<int>("status");
        QTest::newRow("ON") << int(Behaviour::On) << QByteArray() << QByteArray() << 0;
        QTest::newRow("OFF") << int(Behaviour::Off) << QByteArray() << QByteArray() << 1;
        QTest::newRow("BUSY") << int(Behaviour::Busy) << QByteArray() << QByteArray() << 5;
        QTest::newRow("lower case")
            << int(Behaviour::Garbage) << QByteArray("on") << QByteArray() << 3;
        QTest::newRow("with line end")
            << int(Behaviour::Garbage) << QByteArray("ON\r\n") << QByteArray() << 3;
        QTest::newRow("closes without a word")
            << int(Behaviour::CloseAtOnce) << QByteArray() << QByteArray() << 3;
        // Bytes sent before the command belong to the reply.
        QTest::newRow("preamble completes the word")
            << int(Behaviour::Garbage) << QByteArray("FF") << QByteArray("O") << 1;
        QTest::newRow("preamble spoils the word")
            << int(Behaviour::On) << QByteArray() << QByteArray("Hello ") << 3;
        QTest::newRow("preamble alone")
            << int(Behaviour::CloseAtOnce) << QByteArray() << QByteArray("BUSY") << 5;
    }

    void replyWordBecomesStatus() {
        QFETCH(int, behaviour);
        QFETCH(QByteArray, reply);
        QFETCH(QByteArray, preamble);
        QFETCH(int, status);
        UnitConfig config = behaving(Behaviour(behaviour));
        config.reply = reply;
        config.preamble = preamble;
        SimulatedUnit unit(config);
        QVERIFY(unit.listen());
        const quint16 index = addUnitFor(unit, QStringLiteral("u"));
        TTable master(QStringLiteral("Master.DB"));
        SetStatus(master, index, StatusError);

        processor->AddToQueue(index, TaskQuery);
        waitUntilIdle();
        QCOMPARE(TempDatabase::status(index), qint64(status));
        // A unit that closes without a word gave no reply, which is no success.
        QStringList expected = NormalExchange('q');
        if (reply.isEmpty() && preamble.isEmpty() && behaviour == int(Behaviour::CloseAtOnce))
            expected.last() = QStringLiteral("  NO REPLY");
        QCOMPARE(log, expected);
    }

    void silentUnitEndsAtTheReplyLimit() {
        SimulatedUnit silent(behaving(Behaviour::Silent));
        SimulatedUnit next(behaving(Behaviour::On));
        QVERIFY(silent.listen() && next.listen());
        const quint16 a = addUnitFor(silent, QStringLiteral("silent"));
        const quint16 b = addUnitFor(next, QStringLiteral("next"));
        TTable master(QStringLiteral("Master.DB"));
        SetStatus(master, a, StatusOn);

        QElapsedTimer clock;
        qint64 commandAt = -1, closedAt = -1, nextAt = -1;
        connect(&silent, &SimulatedUnit::commandReceived, this,
                [&] { commandAt = clock.elapsed(); });
        connect(&silent, &SimulatedUnit::connectionClosed, this,
                [&] { closedAt = clock.elapsed(); });
        connect(&next, &SimulatedUnit::commandReceived, this, [&] { nextAt = clock.elapsed(); });
        clock.start();
        processor->AddToQueue(a, TaskQuery);
        processor->AddToQueue(b, TaskQuery);
        waitUntilIdle();

        QCOMPARE(results.size(), 2);
        QVERIFY(results[0].TimedOut && results[0].Written && !results[1].TimedOut);
        QVERIFY2(results[0].DurationMs >= TCommandEngine::ReplyLimitMs - 50,
                 qPrintable(QString::number(results[0].DurationMs)));
        QCOMPARE(TempDatabase::status(a), qint64(StatusUnknown));
        QCOMPARE(TempDatabase::status(b), qint64(StatusOn));
        // A unit that said nothing is no success.
        QStringList silentLines = NormalExchange('q');
        silentLines.last() = QStringLiteral("  NO REPLY");
        QCOMPARE(log, silentLines + NormalExchange('q'));
        // The processor itself closed the connection once the limit ran out, then paused.
        QVERIFY2(closedAt - commandAt >= 450 && closedAt - commandAt < 3000,
                 qPrintable(QString::number(closedAt - commandAt)));
        QVERIFY2(nextAt - closedAt >= 90, qPrintable(QString::number(nextAt - closedAt)));
        QCOMPARE(silent.openConnectionCount(), 0);
    }

    void quickUnitDoesNotWaitForTheLimit() {
        SimulatedUnit unit(behaving(Behaviour::On));
        QVERIFY(unit.listen());
        const quint16 index = addUnitFor(unit, QStringLiteral("quick"));
        QSignalSpy changed(processor.get(), &TCommandEngine::statusChanged);
        QElapsedTimer clock;
        clock.start();
        processor->AddToQueue(index, TaskPowerOn);
        QVERIFY(changed.wait(Patience));
        // Served by the watcher within ~100 ms and answered at once: far below the 500 ms limit.
        QVERIFY2(clock.elapsed() < 450, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(TempDatabase::status(index), qint64(StatusOn));
    }

    void sameUnitTwiceGivesTwoConnectionsWithPause() {
        SimulatedUnit unit(behaving(Behaviour::Switch));
        QVERIFY(unit.listen());
        const quint16 index = addUnitFor(unit, QStringLiteral("twice"));
        QElapsedTimer clock;
        QList<qint64> commands;
        connect(&unit, &SimulatedUnit::commandReceived, this, [&] { commands << clock.elapsed(); });
        // Right after the pause the next entry is under way already, not left to the watcher.
        QList<bool> busyAfterPause;
        connect(processor->Timer1, &QTimer::timeout, this,
                [&] { busyAfterPause << processor->busy(); });
        clock.start();
        processor->AddToQueue(index, TaskPowerOn);
        processor->AddToQueue(index, TaskPowerOff);
        waitUntilIdle();
        QCOMPARE(busyAfterPause, QList<bool>({true, false}));
        QCOMPARE(unit.connectionCount(), 2);
        QCOMPARE(unit.commandLetters(), QList<QByteArray>({"n", "f"}));
        QCOMPARE(TempDatabase::status(index), qint64(StatusOff));
        QCOMPARE(commands.size(), 2);
        QVERIFY2(commands[1] - commands[0] >= 95,
                 qPrintable(QString::number(commands[1] - commands[0])));
    }

    void cycleReplyQueuesQueryBehindEverything() {
        UnitConfig cycling = behaving(Behaviour::Cycle);
        cycling.cycles = 3;
        SimulatedUnit cycler(cycling);
        SimulatedUnit other(behaving(Behaviour::Off));
        QVERIFY(cycler.listen() && other.listen());
        const quint16 c = addUnitFor(cycler, QStringLiteral("cycler"));
        const quint16 o = addUnitFor(other, QStringLiteral("other"));

        QList<QList<TCommandEntry>> queueAtEachChange;
        connect(processor.get(), &TCommandEngine::statusChanged, this,
                [&] { queueAtEachChange << processor->queue(); });
        processor->AddToQueue(c, TaskCycle);
        processor->AddToQueue(o, TaskQuery);
        processor->AddToQueue(o, TaskPowerOff);
        waitUntilIdle();

        QCOMPARE(cycler.commandLetters(), QList<QByteArray>({"c", "q", "q", "q"}));
        QCOMPARE(TempDatabase::status(c), qint64(StatusOn));
        QVERIFY(queueAtEachChange.size() >= 1);
        // Right after the first "CYCLE" the Query stands behind every entry queued so far.
        QCOMPARE(queueAtEachChange.first(),
                 QList<TCommandEntry>(
                     {{c, TaskCycle}, {o, TaskQuery}, {o, TaskPowerOff}, {c, TaskQuery}}));
        QCOMPARE(queueAtEachChange.size(), 6); // 4 exchanges with the cycler, 2 with the other
    }

    // A unit that keeps answering CYCLE is asked again only for the cycle limit from its first
    // CYCLE: then its last result and the log say it is left so, and the queue empties. Asked
    // later and still cycling, it is not asked again; a new cycle command starts over.
    void unitStuckCyclingIsAskedForALimitedTime() {
        UnitConfig endless = behaving(Behaviour::Cycle);
        endless.cycles = 1'000'000;
        SimulatedUnit stuck(endless);
        QVERIFY(stuck.listen());
        const quint16 index = addUnitFor(stuck, QStringLiteral("stuck"));
        constexpr int Limit = 400;
        processor->setCycleLimit(Limit);
        QElapsedTimer clock;
        clock.start();
        processor->AddToQueue(index, TaskCycle);
        waitUntilIdle();
        const qint64 took = clock.elapsed();
        QVERIFY2(took >= Limit - 20 && took < Limit + 5000, qPrintable(QString::number(took)));
        const int asked = stuck.connectionCount();
        // The cycle command, then a query every pause or so while the limit lasts.
        QVERIFY2(asked >= 3 && asked <= Limit / TCommandEngine::PauseMs + 2,
                 qPrintable(QString::number(asked)));
        QCOMPARE(results.size(), asked);
        for (int i = 0; i + 1 < results.size(); ++i)
            QVERIFY(!results[i].StillCycling);
        QVERIFY(results.last().StillCycling);
        QCOMPARE(results.last().Source, CommandSource::CycleFollowUp);
        // The history keeps one row that says so.
        QCOMPARE(HistoryOutcomeOf(results.last()), QStringLiteral("still CYCLE"));
        QCOMPARE(HistoryOutcomeOf(results.first()), QStringLiteral("answered"));
        QCOMPARE(log.filter(QStringLiteral("still CYCLE")).size(), 1);
        QCOMPARE(TempDatabase::status(index), qint64(StatusCycle));

        results.clear();
        processor->AddToQueue(index, TaskQuery, CommandSource::Poll);
        waitUntilIdle();
        QCOMPARE(stuck.connectionCount(), asked + 1);
        QCOMPARE(results.size(), 1);
        QVERIFY(results.first().StillCycling);

        results.clear();
        processor->AddToQueue(index, TaskCycle);
        waitUntilIdle();
        QVERIFY(results.size() >= 3);
        QVERIFY(!results.first().StillCycling && results.last().StillCycling);
    }

    void busyFromTheFirstEntryUntilTheQueueIsFoundEmpty() {
        SimulatedUnit unit(behaving(Behaviour::On));
        QVERIFY(unit.listen());
        const quint16 index = addUnitFor(unit, QStringLiteral("u"));
        QList<bool> busyAtChange, busyInPause;
        connect(processor.get(), &TCommandEngine::statusChanged, this, [&] {
            busyAtChange << processor->busy();
            QTimer::singleShot(50, this, [&] { busyInPause << processor->busy(); });
        });
        QVERIFY(!processor->busy());
        processor->AddToQueue(index, TaskQuery);
        processor->StartQueue();
        QVERIFY(processor->busy());
        processor->StartQueue(); // already serving: starts nothing more
        waitUntilIdle();
        QTRY_COMPARE(busyInPause.size(), 1);
        QCOMPARE(busyAtChange, QList<bool>({true}));
        QCOMPARE(busyInPause, QList<bool>({true}));
        QCOMPARE(unit.connectionCount(), 1);
        QVERIFY(!processor->busy());
    }

    void failingListenerDoesNotStopTheQueue() {
        RecordingMessageSink messages;
        SimulatedUnit unit(behaving(Behaviour::On));
        QVERIFY(unit.listen());
        const quint16 index = addUnitFor(unit, QStringLiteral("u"));
        const quint16 unreachable = TempDatabase::addUnit(
            QStringLiteral("unreachable"), QStringLiteral("127.0.0.1"), unusedPort());
        connect(processor.get(), &TCommandEngine::statusChanged, this,
                [] { throw Exception(QStringLiteral("The list cannot be drawn")); });
        processor->AddToQueue(index, TaskQuery);
        processor->AddToQueue(unreachable, TaskQuery);
        processor->AddToQueue(index, TaskPowerOff);
        waitUntilIdle();
        QCOMPARE(unit.commandLetters(), QList<QByteArray>({"q", "f"}));
        QCOMPARE(TempDatabase::status(unreachable), qint64(StatusError));
        QCOMPARE(messages.shown.size(), 3);
        QCOMPARE(messages.shown.first().text, QStringLiteral("The list cannot be drawn."));
    }

    void unreachableUnitsFailAtOnceWithOneNoticeEach() {
        const quint16 a = TempDatabase::addUnit(QStringLiteral("first"),
                                                QStringLiteral("127.0.0.1"), unusedPort());
        const quint16 b = TempDatabase::addUnit(QStringLiteral("second"),
                                                QStringLiteral("127.0.0.1"), unusedPort());
        const quint16 c = TempDatabase::addUnit(QStringLiteral("third"),
                                                QStringLiteral("127.0.0.1"), unusedPort());
        QSignalSpy pauses(processor->Timer1, &QTimer::timeout);
        QSignalSpy changed(processor.get(), &TCommandEngine::statusChanged);
        for (quint16 index : {a, b, c})
            processor->AddToQueue(index, TaskQuery);
        waitUntilIdle();

        for (quint16 index : {a, b, c})
            QCOMPARE(TempDatabase::status(index), qint64(StatusError));
        QCOMPARE(log, FailedConnection + FailedConnection + FailedConnection);
        QCOMPARE(unreached, QStringList({"first", "second", "third"}));
        QCOMPARE(results.size(), 3);
        for (const TCommandResult& result : std::as_const(results)) {
            QCOMPARE(result.Result, TCommandResult::Outcome::NotConnected);
            QCOMPARE(result.Status, quint8(StatusError));
            QVERIFY(!result.answeredWithStatusWord());
        }
        QCOMPARE(pauses.count(), 0); // no pause after a failed connection
        QCOMPARE(changed.count(), 3);
    }

    void connectThatHangsIsGivenUp() {
        // A listener that accepts nothing and whose backlog is full: the kernel leaves further
        // connection attempts unanswered, as an unreachable host would.
        QTcpServer full;
        full.setListenBacklogSize(0);
        QVERIFY(full.listen(QHostAddress::LocalHost));
        full.pauseAccepting();
        QTcpSocket filler;
        filler.connectToHost(QHostAddress::LocalHost, full.serverPort());
        QVERIFY(filler.waitForConnected(2000));

        const quint16 index = TempDatabase::addUnit(QStringLiteral("hanging"),
                                                    QStringLiteral("127.0.0.1"), full.serverPort());
        QElapsedTimer clock;
        clock.start();
        processor->AddToQueue(index, TaskQuery);
        waitUntilIdle();
        QVERIFY2(clock.elapsed() >= TCommandEngine::ConnectTimeoutMs - 100,
                 qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(TempDatabase::status(index), qint64(StatusError));
        QCOMPARE(log, FailedConnection);
        QCOMPARE(unreached, QStringList({QStringLiteral("hanging")}));
        QCOMPARE(results.size(), 1);
        QVERIFY(results[0].TimedOut && !results[0].Written);
    }

    // "{port}" stands for the port of a unit that listens on 127.0.0.1, and "{wrapped}" for that
    // port plus 65536: the unit must never hear of such a record.
    void handEditedAddressOrPortFailsLikeAnUnreachableUnit_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("port");
        QTest::newRow("host name") << "localhost"
                                   << "{port}";
        QTest::newRow("blank address") << ""
                                       << "{port}";
        QTest::newRow("IPv6") << "::1"
                              << "{port}";
        QTest::newRow("short form") << "127.1"
                                    << "{port}";
        QTest::newRow("one number") << "2130706433"
                                    << "{port}";
        QTest::newRow("leading zeros") << "127.000.000.001"
                                       << "{port}";
        QTest::newRow("leading blank") << " 127.0.0.1"
                                       << "{port}";
        QTest::newRow("port as text") << "127.0.0.1"
                                      << "eighty";
        QTest::newRow("port zero") << "127.0.0.1"
                                   << "0";
        QTest::newRow("port too large") << "127.0.0.1"
                                        << "{wrapped}";
    }

    void handEditedAddressOrPortFailsLikeAnUnreachableUnit() {
        QFETCH(QString, address);
        QFETCH(QString, port);
        SimulatedUnit bait(behaving(Behaviour::On));
        QVERIFY(bait.listen());
        port.replace(QStringLiteral("{port}"), QString::number(bait.port()));
        port.replace(QStringLiteral("{wrapped}"), QString::number(65536 + bait.port()));
        const quint16 index = TempDatabase::addUnit(QStringLiteral("edited"));
        QSqlQuery edit(Database::connection());
        edit.prepare(
            QStringLiteral(R"(UPDATE "Master" SET "IPAddress" = ?, "Port" = ? WHERE "Index" = ?)"));
        edit.addBindValue(address);
        edit.addBindValue(port);
        edit.addBindValue(index);
        QVERIFY(edit.exec());
        processor->AddToQueue(index, TaskQuery);
        waitUntilIdle();
        QCOMPARE(TempDatabase::status(index), qint64(StatusError));
        QCOMPARE(log, QStringList({"Connecting " + address, "  FAILED"}));
        QCOMPARE(unreached, QStringList({QStringLiteral("edited")}));
        QCOMPARE(bait.connectionCount(), 0);
    }

    // The frame is ESC password ESC letter CR: a hand-edited password holding a control
    // character could end it early and carry a command of its own. Such a record is never sent
    // to; its status stays, and it is told of once however often it is queued.
    void passwordWithControlCharacterIsNeverSent_data() {
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("sent");
        QTest::newRow("ESC and CR carrying a command") << "x\x1b"
                                                          "f\r"
                                                       << false;
        QTest::newRow("line feed") << "pw\n" << false;
        QTest::newRow("unit separator") << "\x1f" << false;
        QTest::newRow("DEL") << "pw\x7f" << false;
        QTest::newRow("blank and tilde are fine") << " a~" << true;
    }

    void passwordWithControlCharacterIsNeverSent() {
        QFETCH(QString, password);
        QFETCH(bool, sent);
        SimulatedUnit unit(behaving(Behaviour::Off));
        QVERIFY(unit.listen());
        const quint16 index = addUnitFor(unit, QStringLiteral("edited"), password);
        {
            TTable master(QStringLiteral("Master.DB"));
            SetStatus(master, index, StatusOn);
        }
        QSignalSpy told(processor.get(), &TCommandEngine::recordRefused);
        processor->AddToQueue(index, TaskQuery);
        processor->AddToQueue(index, TaskPowerOff);
        waitUntilIdle();
        QCOMPARE(results.size(), 2);
        if (sent) {
            QCOMPARE(unit.connectionCount(), 2);
            QCOMPARE(TempDatabase::status(index), qint64(StatusOff));
            QCOMPARE(results[0].Result, TCommandResult::Outcome::Answered);
            QCOMPARE(told.size(), 0);
            return;
        }
        QCOMPARE(unit.connectionCount(), 0);
        QCOMPARE(TempDatabase::status(index), qint64(StatusOn));
        const QString why = QStringLiteral("The password of unit edited (key %1) holds a control "
                                           "character; nothing was sent to it")
                                .arg(index);
        QCOMPARE(log, QStringList({why, "  FAILED", why, "  FAILED"}));
        for (const TCommandResult& result : std::as_const(results))
            QCOMPARE(result.Result, TCommandResult::Outcome::Refused);
        QVERIFY(unreached.isEmpty());
        QTRY_COMPARE(told.size(), 1);
        QCOMPARE(told.first().first().toString(), why);
    }

    void entriesWithoutAUnitAreDropped() {
        SimulatedUnit unit(behaving(Behaviour::On));
        QVERIFY(unit.listen());
        const quint16 real = addUnitFor(unit, QStringLiteral("real"));
        const quint16 group = TempDatabase::addGroup(QStringLiteral("group"));
        const quint16 gone = TempDatabase::addUnit(QStringLiteral("gone"));
        {
            TTable master(QStringLiteral("Master.DB"));
            OpenByIndex(master, gone);
            master.deleteRecord();
            CloseFiltered(master);
        }
        processor->AddToQueue(gone, TaskPowerOn);
        processor->AddToQueue(group, TaskPowerOn);
        processor->AddToQueue(9999, TaskQuery);
        // A long run of keys without units is dropped a slice per turn of the event loop.
        for (quint16 key = 20000; key < 21000; ++key)
            processor->AddToQueue(key, TaskQuery);
        processor->AddToQueue(real, 6); // no such task
        processor->AddToQueue(real, TaskQuery);
        processor->AddToQueue(gone, TaskPowerOff);
        const int queued = processor->queue().size();
        processor->StartQueue();
        QCOMPARE(processor->queue().size(), queued - TCommandEngine::DropsPerTurn);
        waitUntilIdle();
        QCOMPARE(results.size(), queued);

        QCOMPARE(log,
                 QStringList({QStringLiteral("Unknown task 6 for unit %1 dropped").arg(real)}) +
                     NormalExchange('q'));
        QCOMPARE(unit.connectionCount(), 1);
        QCOMPARE(TempDatabase::status(group), qint64(StatusUnknown));
        QCOMPARE(TempDatabase::status(gone), -1);
        QVERIFY(unreached.isEmpty());
        TTable master(QStringLiteral("Master.DB"));
        master.open();
        QCOMPARE(master.recordCount(), 2);
    }

    // The unit's record cannot be read at all (the table is gone from under the program): the
    // entry is dropped, the failure is logged and told once, and the queue goes on.
    void unreadableRecordIsReportedAndDropped() {
        const quint16 index = TempDatabase::addUnit(QStringLiteral("u"));
        QSignalSpy told(processor.get(), &TCommandEngine::storeFailed);
        runSqliteTool(db->path, QStringLiteral(R"(ALTER TABLE "Master" RENAME TO "Gone";)"));
        processor->AddToQueue(index, TaskQuery);
        processor->AddToQueue(index, TaskPowerOn);
        waitUntilIdle();
        runSqliteTool(db->path, QStringLiteral(R"(ALTER TABLE "Gone" RENAME TO "Master";)"));
        QTRY_COMPARE(told.size(), 1);
        QCOMPARE(results.size(), 2);
        QCOMPARE(results[0].Result, TCommandResult::Outcome::Dropped);
        QCOMPARE(results[1].Result, TCommandResult::Outcome::Dropped);
        QCOMPARE(log.size(), 2);
        QCOMPARE(log.first(), told.first().first().toString());
    }

    // A reply longer than the longest status word ends the exchange at once, and no more of it
    // is kept; up to that length the processor waits for the unit's close or the limit.
    void replyBeyondTheLongestWordEndsAtOnce_data() {
        QTest::addColumn<int>("behaviour");
        QTest::addColumn<QByteArray>("preamble");
        QTest::addColumn<bool>("atOnce");
        QTest::addColumn<int>("status");
        QTest::newRow("flood") << int(Behaviour::Flood) << QByteArray() << true << 3;
        QTest::newRow("six bytes, then silence")
            << int(Behaviour::Silent) << QByteArray("CYCLEX") << true << 3;
        QTest::newRow("five bytes, then silence")
            << int(Behaviour::Silent) << QByteArray("ABCDE") << false << 3;
        QTest::newRow("a word, then silence")
            << int(Behaviour::Silent) << QByteArray("BUSY") << false << 5;
    }

    void replyBeyondTheLongestWordEndsAtOnce() {
        QFETCH(int, behaviour);
        QFETCH(QByteArray, preamble);
        QFETCH(bool, atOnce);
        QFETCH(int, status);
        UnitConfig config = behaving(Behaviour(behaviour));
        config.preamble = preamble;
        SimulatedUnit unit(config);
        QVERIFY(unit.listen());
        const quint16 index = addUnitFor(unit, QStringLiteral("talker"));
        QElapsedTimer clock;
        qint64 changedAt = -1;
        connect(processor.get(), &TCommandEngine::statusChanged, this,
                [&] { changedAt = clock.elapsed(); });
        clock.start();
        processor->AddToQueue(index, TaskQuery);
        waitUntilIdle();

        // Served within ~100 ms; the reply limit runs 500 ms from the write.
        if (atOnce)
            QVERIFY2(changedAt >= 0 && changedAt < 400, qPrintable(QString::number(changedAt)));
        else
            QVERIFY2(changedAt >= 490, qPrintable(QString::number(changedAt)));
        QCOMPARE(TempDatabase::status(index), qint64(status));
        QCOMPARE(log, NormalExchange('q'));
        QCOMPARE(processor->lastReply(), (preamble.isEmpty() ? QByteArray("XXXXXXXXXX") : preamble)
                                             .left(TCommandEngine::MaxReplyBytes));
        QTRY_COMPARE(unit.openConnectionCount(), 0);
        if (atOnce) {
            // The flood stopped after a few socket buffers, not after half a second of them.
            QVERIFY2(unit.bytesSent() < 16 * 1024 * 1024,
                     qPrintable(QString::number(unit.bytesSent())));
        }
    }

    // Another program (the sqlite3 tool) reads and then writes the file while units are polled:
    // every status still reaches the file, and the file is sound after the program closes it.
    void anotherProgramUsesTheFileWhileUnitsArePolled() {
        // Opened a second time, as at every later start: the file is in WAL mode by then.
        Database::close();
        Database::open(db->path);
        std::vector<std::unique_ptr<SimulatedUnit>> units;
        QList<quint16> indexes;
        for (int i = 0; i < 20; ++i) {
            units.push_back(std::make_unique<SimulatedUnit>(behaving(Behaviour::On)));
            QVERIFY(units.back()->listen());
            indexes << addUnitFor(*units.back(), QStringLiteral("unit %1").arg(i));
        }
        int changes = 0;
        QStringList seenOutside;
        connect(processor.get(), &TCommandEngine::statusChanged, this, [&] {
            ++changes;
            if (changes == 3)
                seenOutside << runSqliteTool(db->path,
                                             QStringLiteral("SELECT count(*) FROM Master;"));
            if (changes == 8)
                runSqliteTool(db->path, QStringLiteral(R"(INSERT INTO "Group" VALUES (1, 2);)"));
        });
        for (quint16 index : indexes)
            processor->AddToQueue(index, TaskQuery);
        waitUntilIdle();
        QCOMPARE(seenOutside, QStringList({"20"}));

        QCOMPARE(
            runSqliteTool(db->path, QStringLiteral("SELECT group_concat(Status, '') FROM Master;")),
            QString(20, QLatin1Char('0')));
        processor.reset();
        Database::close();
        QCOMPARE(runSqliteTool(db->path, QStringLiteral("PRAGMA integrity_check;")),
                 QStringLiteral("ok"));
        QCOMPARE(
            runSqliteTool(db->path,
                          QStringLiteral(R"(SELECT count(*), group_concat(Status, '') FROM Master;
SELECT count(*) FROM "Group";)")),
            QStringLiteral("20|%1\n1").arg(QString(20, QLatin1Char('0'))));
    }

    // While another program holds a write transaction, statuses are kept and written once it
    // ends; the operator is told once per failing spell, the log never claims success for a
    // status not stored, and the queue goes on.
    void lockedDatabaseKeepsStatusesUntilItIsFree() {
        SimulatedUnit on(behaving(Behaviour::On));
        SimulatedUnit off(behaving(Behaviour::Off));
        QVERIFY(on.listen() && off.listen());
        const quint16 a = addUnitFor(on, QStringLiteral("a"));
        const quint16 b = addUnitFor(off, QStringLiteral("b"));
        const QString statuses = QStringLiteral("SELECT group_concat(Status, '') FROM Master;");
        QSignalSpy changed(processor.get(), &TCommandEngine::statusChanged);
        QSignalSpy told(processor.get(), &TCommandEngine::storeFailed);

        auto lock = std::make_unique<SqliteWriteLock>(db->path);
        QVERIFY(lock->isHeld());
        processor->AddToQueue(a, TaskQuery);
        processor->AddToQueue(b, TaskQuery);
        processor->AddToQueue(a, TaskPowerOn);
        waitUntilIdle();
        QCOMPARE(on.commandLetters(), QList<QByteArray>({"q", "n"}));
        QCOMPARE(off.commandLetters(), QList<QByteArray>({"q"}));
        QCOMPARE(log.count(QStringLiteral("  SUCCESS")), 0);
        QCOMPARE(log.count(QStringLiteral("  FAILED")), 3);
        QCOMPARE(processor->unstoredStatuses(),
                 (QMap<quint16, quint8>{{a, StatusOn}, {b, StatusOff}}));
        QCOMPARE(runSqliteTool(db->path, statuses), QStringLiteral("33"));
        QTRY_COMPARE(told.size(), 1);
        QVERIFY2(told.first().first().toString().contains(QStringLiteral("locked")),
                 qPrintable(told.first().first().toString()));
        QCOMPARE(results.size(), 3);
        for (const TCommandResult& result : std::as_const(results)) {
            QVERIFY(!result.Stored);
            QVERIFY(result.answeredWithStatusWord()); // the unit did answer
        }
        QCOMPARE(changed.count(), 3);

        lock->release();
        QTRY_COMPARE(runSqliteTool(db->path, statuses), QStringLiteral("01"));
        QVERIFY(processor->unstoredStatuses().isEmpty());
        QCOMPARE(changed.count(), 4); // the list hears of the late write
        QCOMPARE(told.size(), 1);

        // The store worked again in between: a new spell is told again, once.
        lock = std::make_unique<SqliteWriteLock>(db->path);
        processor->AddToQueue(b, TaskQuery);
        processor->AddToQueue(a, TaskQuery);
        waitUntilIdle();
        QTRY_COMPARE(told.size(), 2);
        lock.reset();
        QTRY_VERIFY(processor->unstoredStatuses().isEmpty());
        QCOMPARE(told.size(), 2);
    }

    // The socket fails on demand: a refused write, or an error while the reply is read.
    void socketFailuresAreLoggedAndTheQueueGoesOn_data() {
        QTest::addColumn<int>("fault");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<int>("status");
        QTest::newRow("write") << int(FaultySocket::Fault::Write)
                               << QStringList({"Connecting 127.0.0.1", "  CONNECTED",
                                               "  Sending the q Command", "  FAILED"})
                               << int(StatusError); // left as it was
        QTest::newRow("read") << int(FaultySocket::Fault::Read)
                              << NormalExchange('q') + QStringList({"  FAILED"})
                              << int(StatusOn); // what was read before the error
    }

    void socketFailuresAreLoggedAndTheQueueGoesOn() {
        QFETCH(int, fault);
        QFETCH(QStringList, expected);
        QFETCH(int, status);
        // The unit says "ON" as soon as it is reached, then waits for the command forever.
        UnitConfig config = behaving(Behaviour::Silent);
        config.preamble = "ON";
        SimulatedUnit faulty(config);
        SimulatedUnit next(behaving(Behaviour::Off));
        QVERIFY(faulty.listen() && next.listen());
        const quint16 a = addUnitFor(faulty, QStringLiteral("faulty"));
        const quint16 b = addUnitFor(next, QStringLiteral("next"));
        TTable master(QStringLiteral("Master.DB"));
        SetStatus(master, a, StatusError);
        int made = 0;
        processor->setSocketFactory([&](QObject* parent) -> QTcpSocket* {
            if (made++ == 0)
                return new FaultySocket(FaultySocket::Fault(fault), parent);
            return new QTcpSocket(parent);
        });
        QElapsedTimer clock;
        clock.start();
        processor->AddToQueue(a, TaskQuery);
        processor->AddToQueue(b, TaskQuery);
        waitUntilIdle();

        QCOMPARE(log, expected + NormalExchange('q'));
        QCOMPARE(results.size(), 2);
        QCOMPARE(results[0].Result, TCommandResult::Outcome::Broken);
        QVERIFY(!results[0].answeredWithStatusWord());
        // Only the failed write leaves the command unwritten.
        QCOMPARE(results[0].Written, fault == int(FaultySocket::Fault::Read));
        QCOMPARE(results[1].Result, TCommandResult::Outcome::Answered);
        QCOMPARE(TempDatabase::status(a), qint64(status));
        QCOMPARE(TempDatabase::status(b), qint64(StatusOff));
        QCOMPARE(made, 2);
        QTRY_COMPARE(faulty.openConnectionCount(), 0); // closed by the processor
        QCOMPARE(faulty.connectionCount(), 1);
        // Neither failure waits for the reply limit.
        QVERIFY2(clock.elapsed() < 2 * TCommandEngine::ReplyLimitMs,
                 qPrintable(QString::number(clock.elapsed())));
    }
};

QTEST_MAIN(TestCommandEngine)
#include "test_command_engine.moc"
