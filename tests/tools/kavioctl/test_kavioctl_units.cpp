// kavioctl's unit commands, run as the real program against simulated units on loopback: on its
// own exchange, handed over to a running control center, and with the lock held by others.
#include "Codes.h"
#include "CommandEngine.h"
#include "CommandProcessor.h"
#include "ControlProtocol.h"
#include "ControlServer.h"
#include "Database.h"
#include "InstanceNames.h"
#include "LogWithCore.h"
#include "LoopbackUnits.h"
#include "SqliteTool.h"
#include "TempDatabase.h"
#include "UnitSim.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QProcess>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

using namespace kavio;
using kavio::sim::Behaviour;
using kavio::sim::SimulatedUnit;
using test::behaving;
using test::TempDatabase;
using test::unusedPort;

namespace {

constexpr int Patience = 30000; // ms; only a hanging program needs it

struct Run {
    int exitCode = -1;
    QStringList out;
    QString err;
    qint64 ms = 0;
};

void addMember(quint16 group, quint16 unit) {
    QSqlQuery insert(Database::connection());
    insert.prepare(QStringLiteral(R"(INSERT INTO "Group" ("GroupIndex", "Index") VALUES (?, ?))"));
    insert.addBindValue(group);
    insert.addBindValue(unit);
    QVERIFY(insert.exec());
}

} // namespace

class TestKavioctlUnits : public QObject {
    Q_OBJECT

    QTemporaryDir runtime;
    std::unique_ptr<TempDatabase> db;

    // Runs kavioctl on the test's database while this process's event loop serves the units.
    Run kavioctl(const QStringList& arguments) {
        QProcess process;
        process.setProgram(QStringLiteral(KAVIOCTL_PATH));
        process.setArguments(QStringList{QStringLiteral("--database"), db->path} + arguments);
        QSignalSpy finished(&process, &QProcess::finished);
        QElapsedTimer clock;
        clock.start();
        process.start();
        Run run;
        if (!finished.wait(Patience)) {
            process.kill();
            process.waitForFinished();
            return run;
        }
        run.ms = clock.elapsed();
        run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
        const QString out = QString::fromUtf8(process.readAllStandardOutput());
        run.out = out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        run.err = QString::fromUtf8(process.readAllStandardError());
        return run;
    }

    static quint16 unitFor(const SimulatedUnit& unit, const QString& name) {
        return TempDatabase::addUnit(name, QStringLiteral("127.0.0.1"), unit.port());
    }

private slots:
    void initTestCase() {
        QVERIFY(runtime.isValid());
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
        QFile::setPermissions(runtime.path(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    void init() { db = std::make_unique<TempDatabase>(); }
    void cleanup() { db.reset(); }

    // Each power command, its reply status and exit status; groups expand in list order.
    void powerCommandsReportEveryUnit() {
        SimulatedUnit alpha(behaving(Behaviour::Switch));
        SimulatedUnit beta(behaving(Behaviour::Switch));
        QVERIFY(alpha.listen() && beta.listen());
        const quint16 a = unitFor(alpha, QStringLiteral("alpha"));
        const quint16 b = unitFor(beta, QStringLiteral("Beta"));
        const quint16 rack = TempDatabase::addGroup(QStringLiteral("rack"));
        addMember(rack, b);
        addMember(rack, a);

        // A unit named again, on its own or through its group, is served once.
        Run run = kavioctl({QStringLiteral("on"), QStringLiteral("rack"), QStringLiteral("alpha"),
                            QStringLiteral("Beta")});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, QStringList({"alpha\ton\tON", "Beta\ton\tON"}));
        QCOMPARE(alpha.commandLetters(), QList<QByteArray>({"n"}));
        QCOMPARE(TempDatabase::status(a), qint64(StatusOn));

        // Query: 0 only when every unit is ON, 2 when one is OFF.
        QCOMPARE(kavioctl({QStringLiteral("query"), QStringLiteral("--all")}).exitCode, 0);
        QCOMPARE(kavioctl({QStringLiteral("off"), QStringLiteral("Beta")}).exitCode, 0);
        run = kavioctl({QStringLiteral("query"), QStringLiteral("Beta"), QStringLiteral("alpha")});
        QCOMPARE(run.exitCode, 2);
        QCOMPARE(run.out, QStringList({"Beta\tquery\tOFF", "alpha\tquery\tON"}));

        // Reboot and pulse follow the last status: on -> cycle, off -> on; on -> off, off -> cycle.
        run = kavioctl({QStringLiteral("reboot"), QStringLiteral("rack")});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out.first(), QStringLiteral("alpha\treboot (cycle)\tCYCLE"));
        QCOMPARE(run.out.at(1), QStringLiteral("Beta\treboot (on)\tON"));
        QCOMPARE(beta.commandLetters().last(), QByteArray("n"));
        // The engine goes on querying a cycling unit until it answers otherwise.
        QCOMPARE(alpha.commandLetters().mid(alpha.commandLetters().indexOf("c")).first(),
                 QByteArray("c"));
        QVERIFY(alpha.commandLetters().last() == "q");
        QCOMPARE(TempDatabase::status(a), qint64(StatusOn));

        const int before = alpha.connectionCount();
        run =
            kavioctl({QStringLiteral("pulse"), QStringLiteral("alpha"), QStringLiteral("--json")});
        QCOMPARE(run.exitCode, 0);
        const QJsonArray report = QJsonDocument::fromJson(run.out.join('\n').toUtf8()).array();
        QCOMPARE(report.size(), 1);
        const QJsonObject line = report.first().toObject();
        QCOMPARE(line.value("name").toString(), QStringLiteral("alpha"));
        QCOMPARE(line.value("command").toString(), QStringLiteral("pulse"));
        QCOMPARE(line.value("sent").toString(), QStringLiteral("off"));
        QCOMPARE(line.value("status").toString(), QStringLiteral("OFF"));
        QCOMPARE(line.value("reply").toString(), QStringLiteral("OFF"));
        QCOMPARE(alpha.connectionCount(), before + 1);

        // Cycle: the reply to the command itself.
        run = kavioctl({QStringLiteral("cycle"), QStringLiteral("Beta")});
        QCOMPARE(run.out, QStringList({"Beta\tcycle\tCYCLE"}));
        QCOMPARE(run.exitCode, 0);
    }

    // Failures: an unreachable unit, a reply that is no status word, a reboot without a known
    // status, and names that are not there (then nothing at all is sent).
    void failuresGiveExitStatusOne() {
        SimulatedUnit good(behaving(Behaviour::On));
        sim::UnitConfig mumbling = behaving(Behaviour::Garbage);
        mumbling.reply = "eh?";
        SimulatedUnit mumbler(mumbling);
        QVERIFY(good.listen() && mumbler.listen());
        unitFor(good, QStringLiteral("good"));
        unitFor(mumbler, QStringLiteral("mumbler"));
        TempDatabase::addUnit(QStringLiteral("gone"), QStringLiteral("127.0.0.1"), unusedPort());
        // A membership row whose key no unit can have (it would read as unit 1 in 16 bits).
        QSqlQuery beyond(Database::connection());
        QVERIFY(beyond.exec(QStringLiteral(R"(INSERT INTO "Group" VALUES (%1, 65537))")
                                .arg(TempDatabase::addGroup(QStringLiteral("empty")))));

        Run run =
            kavioctl({QStringLiteral("query"), QStringLiteral("good"), QStringLiteral("gone")});
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.out, QStringList({"good\tquery\tON", "gone\tquery\tFAILED"}));
        run = kavioctl({QStringLiteral("on"), QStringLiteral("mumbler")});
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.out, QStringList({"mumbler\ton\tUNKNOWN"}));

        // On and off succeed only when the unit answers the state asked for.
        SimulatedUnit busy(behaving(Behaviour::Busy));
        SimulatedUnit stuckOn(behaving(Behaviour::On));
        QVERIFY(busy.listen() && stuckOn.listen());
        unitFor(busy, QStringLiteral("busy"));
        unitFor(stuckOn, QStringLiteral("stuck"));
        run = kavioctl({QStringLiteral("on"), QStringLiteral("busy")});
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.out, QStringList({"busy\ton\tBUSY"}));
        run = kavioctl({QStringLiteral("off"), QStringLiteral("stuck")});
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.out, QStringList({"stuck\toff\tON"}));
        run = kavioctl({QStringLiteral("on"), QStringLiteral("stuck")});
        QCOMPARE(run.exitCode, 0);

        // "gone" is UNREACHABLE now: a reboot sends nothing to it and says why.
        const int connections = good.connectionCount();
        run = kavioctl({QStringLiteral("reboot"), QStringLiteral("gone")});
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.out, QStringList({"gone\treboot\tSKIPPED"}));
        QVERIFY2(run.err.contains("UNREACHABLE"), qPrintable(run.err));

        for (const QString& missing : {QStringLiteral("nobody"), QStringLiteral("empty")}) {
            run = kavioctl({QStringLiteral("on"), QStringLiteral("good"), missing});
            QCOMPARE(run.exitCode, 1);
            QVERIFY(run.out.isEmpty());
            QVERIFY2(run.err.contains(missing), qPrintable(run.err));
        }
        QCOMPARE(good.connectionCount(), connections + 0); // nothing went to "good" either
        QCOMPARE(good.commandLetters(), QList<QByteArray>({"q"}));

        // A hand-edited password that would carry a command of its own ("f": off) is never
        // sent; the unit fails and the reason is told.
        TempDatabase::addUnit(QStringLiteral("inject"), QStringLiteral("127.0.0.1"), good.port(),
                              QStringLiteral("x\x1b"
                                             "f\r"));
        run = kavioctl({QStringLiteral("query"), QStringLiteral("inject")});
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.out, QStringList({"inject\tquery\tFAILED"}));
        QVERIFY2(run.err.contains("holds a control character"), qPrintable(run.err));
        QCOMPARE(good.commandLetters(), QList<QByteArray>({"q"}));
    }

    // Poll queries every unit by key; an OFF unit is no failure there.
    void pollQueriesEveryUnit() {
        SimulatedUnit on(behaving(Behaviour::On));
        SimulatedUnit off(behaving(Behaviour::Off));
        QVERIFY(on.listen() && off.listen());
        unitFor(off, QStringLiteral("zulu"));
        unitFor(on, QStringLiteral("alpha"));
        const Run run = kavioctl({QStringLiteral("poll")});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out, QStringList({"zulu\tquery\tOFF", "alpha\tquery\tON"}));
    }

    // Each line is out as soon as its unit answered, before the next unit is done: a script
    // reading the output sees progress.
    void linesArriveAsUnitsAnswer() {
        SimulatedUnit quick(behaving(Behaviour::On));
        SimulatedUnit silent(behaving(Behaviour::Silent));
        QVERIFY(quick.listen() && silent.listen());
        unitFor(quick, QStringLiteral("quick"));
        unitFor(silent, QStringLiteral("silent"));
        QProcess process;
        QByteArray early;
        QElapsedTimer clock;
        qint64 firstLineAt = -1, finishedAt = -1;
        connect(&process, &QProcess::readyReadStandardOutput, this, [&] {
            if (early.isEmpty())
                firstLineAt = clock.elapsed();
            early += process.readAllStandardOutput();
        });
        connect(&process, &QProcess::finished, this, [&] { finishedAt = clock.elapsed(); });
        QSignalSpy finished(&process, &QProcess::finished);
        clock.start();
        process.start(QStringLiteral(KAVIOCTL_PATH),
                      {QStringLiteral("--database"), db->path, QStringLiteral("query"),
                       QStringLiteral("quick"), QStringLiteral("silent")});
        QVERIFY(finished.wait(Patience));
        // The silent unit keeps kavioctl waiting for half a second after the first line.
        QVERIFY2(firstLineAt >= 0 && finishedAt - firstLineAt >= 250,
                 qPrintable(QStringLiteral("%1 %2").arg(firstLineAt).arg(finishedAt)));
        QCOMPARE(early, QByteArray("quick\tquery\tON\nsilent\tquery\tUNKNOWN\n"));
        QCOMPARE(process.exitCode(), 1);
    }

    // Another program holds the database locked for a while: kavioctl keeps the status, writes
    // it once the lock goes, and only then ends.
    void statusWaitsForALockedDatabase() {
        SimulatedUnit unit(behaving(Behaviour::On));
        QVERIFY(unit.listen());
        const quint16 index = unitFor(unit, QStringLiteral("desk"));
        // Locked once kavioctl has opened the file, before the unit answers; free a second later.
        std::unique_ptr<test::SqliteWriteLock> lock;
        bool held = false;
        connect(&unit, &SimulatedUnit::commandReceived, this, [&] {
            lock = std::make_unique<test::SqliteWriteLock>(db->path);
            held = lock->isHeld();
            QTimer::singleShot(1000, this, [&lock] { lock.reset(); });
        });
        const Run run = kavioctl({QStringLiteral("query"), QStringLiteral("desk")});
        QVERIFY(held);
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        QCOMPARE(run.out, QStringList({"desk\tquery\tON"}));
        QVERIFY2(run.err.contains(QStringLiteral("locked")), qPrintable(run.err));
        QVERIFY(!lock);
        QCOMPARE(TempDatabase::status(index), qint64(StatusOn));
    }

    // A database that stays locked: kavioctl gives up after --wait and says the status was not
    // written, instead of reporting success.
    void lockedDatabaseThatStaysLockedIsAFailure() {
        SimulatedUnit unit(behaving(Behaviour::On));
        QVERIFY(unit.listen());
        unitFor(unit, QStringLiteral("desk"));
        std::unique_ptr<test::SqliteWriteLock> lock;
        connect(&unit, &SimulatedUnit::commandReceived, this,
                [&] { lock = std::make_unique<test::SqliteWriteLock>(db->path); });
        const Run run =
            kavioctl({QStringLiteral("query"), QStringLiteral("desk"), QStringLiteral("--wait=2")});
        QVERIFY(lock && lock->isHeld());
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains(QStringLiteral("could not be written")), qPrintable(run.err));
        QVERIFY2(run.ms >= 1900 && run.ms < 10000, qPrintable(QString::number(run.ms)));
    }

    // A unit that keeps answering CYCLE is asked again after each answer, but only for --wait
    // seconds: then kavioctl reports it as still cycling, fails, and lets others at the units.
    // Also with exchanges side by side: the follow-ups of a unit that keeps cycling are told
    // apart from exchanges that have ended and wait out their pause.
    void unitThatKeepsCyclingIsGivenUp_data() {
        QTest::addColumn<QStringList>("options");
        QTest::newRow("one at a time") << QStringList();
        QTest::newRow("four at once") << QStringList{"--parallel", "4"};
    }

    void unitThatKeepsCyclingIsGivenUp() {
        QFETCH(QStringList, options);
        sim::UnitConfig endless = behaving(Behaviour::Cycle);
        endless.cycles = 1'000'000;
        SimulatedUnit cycling(endless);
        SimulatedUnit desk(behaving(Behaviour::On));
        QVERIFY(cycling.listen() && desk.listen());
        const quint16 index = unitFor(cycling, QStringLiteral("spinner"));
        unitFor(desk, QStringLiteral("desk"));
        const Run run = kavioctl(QStringList{QStringLiteral("cycle"), QStringLiteral("spinner"),
                                             QStringLiteral("desk"), QStringLiteral("--wait"),
                                             QStringLiteral("1")} +
                                 options);
        QCOMPARE(run.exitCode, 1);
        QStringList lines = run.out;
        lines.sort();
        QCOMPARE(lines, QStringList({"desk\tcycle\tON", "spinner\tcycle\tCYCLE"}));
        QCOMPARE(run.err, QStringLiteral("kavioctl: spinner: still CYCLE after 1 s of asking "
                                         "again; it is left so\n"));
        // (a coarse timer may end up to 5 % early)
        QVERIFY2(run.ms >= 900 && run.ms < 8000, qPrintable(QString::number(run.ms)));
        QVERIFY2(cycling.connectionCount() >= 4,
                 qPrintable(QString::number(cycling.connectionCount())));
        QCOMPARE(TempDatabase::status(index), qint64(StatusCycle));
        const Run next = kavioctl({QStringLiteral("query"), QStringLiteral("desk")});
        QCOMPARE(next.exitCode, 0);
        QCOMPARE(next.err, QString());
    }

    void usageErrors_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("no command") << QStringList();
        QTest::newRow("unknown command") << QStringList{"switch"};
        QTest::newRow("no target") << QStringList{"on"};
        QTest::newRow("option of another command") << QStringList{"on", "x", "--dry-run"};
        QTest::newRow("unknown option") << QStringList{"list", "--colour"};
        QTest::newRow("argument to poll") << QStringList{"poll", "x"};
        QTest::newRow("import without file") << QStringList{"import"};
        QTest::newRow("empty group name") << QStringList{"list", "--group", ""};
        QTest::newRow("help-all") << QStringList{"--help-all"};
        QTest::newRow("wait of list") << QStringList{"list", "--wait", "5"};
        QTest::newRow("negative wait") << QStringList{"on", "x", "--wait", "-1"};
        QTest::newRow("wait in words") << QStringList{"on", "x", "--wait", "long"};
        QTest::newRow("parallel of none") << QStringList{"poll", "--parallel", "0"};
        QTest::newRow("parallel beyond") << QStringList{"on", "x", "--parallel", "513"};
        QTest::newRow("parallel of list") << QStringList{"list", "--parallel", "4"};
    }

    void usageErrors() {
        QFETCH(QStringList, arguments);
        const Run run = kavioctl(arguments);
        QCOMPARE(run.exitCode, 64);
        QVERIFY(run.out.isEmpty());
        QCOMPARE(run.err.count(QLatin1Char('\n')), 1);
        QVERIFY2(run.err.startsWith(QStringLiteral("kavioctl: ")), qPrintable(run.err));
    }

    // While a control center runs on the database, kavioctl's commands go through its queue and
    // show in its command log; its list hears of an import.
    void handsOverToARunningControlCenter() {
        SimulatedUnit unit(behaving(Behaviour::Switch));
        QVERIFY(unit.listen());
        const quint16 index = unitFor(unit, QStringLiteral("desk"));
        QLockFile lock(InstanceNames(db->path).lockPath());
        QVERIFY(lock.tryLock(0));
        LogWithCore processor;
        ControlServer control(db->path, processor.engine());
        QVERIFY(control.listen());
        QSignalSpy changed(&control, &ControlServer::storeChanged);

        QList<CommandSource> sources;
        connect(&processor.engine(), &TCommandEngine::exchangeFinished, this,
                [&](const TCommandResult& result) { sources << result.Source; });
        // The control center's own queue is busy with an entry of its own first.
        processor.engine().AddToQueue(index, TaskQuery);
        const Run run = kavioctl({QStringLiteral("on"), QStringLiteral("desk")});
        QCOMPARE(run.exitCode, 0);
        // Its command is kavioctl's in the control center, as kavioctl's encoder sent it.
        QCOMPARE(sources, (QList<CommandSource>{CommandSource::Button, CommandSource::Kavioctl}));
        QCOMPARE(run.out, QStringList({"desk\ton\tON"}));
        QCOMPARE(unit.commandLetters(), QList<QByteArray>({"q", "n"}));
        const QStringList log = processor.logLines();
        // Each line is "time unit address text".
        QCOMPARE(
            log.filter(
                   QStringLiteral(" desk 127.0.0.1:%1   Sending the n Command").arg(unit.port()))
                .size(),
            1);
        QCOMPARE(log.filter(QStringLiteral("  SUCCESS")).size(), 2);
        QCOMPARE(TempDatabase::status(index), qint64(StatusOn));

        QTemporaryDir files;
        const QString csv = files.filePath(QStringLiteral("units.csv"));
        QFile file(csv);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("name,address,port,password,groups\r\nnew,10.0.0.9,80,pw,\r\n");
        file.close();
        QCOMPARE(kavioctl({QStringLiteral("import"), csv}).exitCode, 0);
        QTRY_COMPARE(changed.size(), 1);
    }

    // Waiting behind a long queue of the control center costs kavioctl no processor time: it
    // sleeps until a result comes, instead of looking for one every millisecond.
    void waitingForTheControlCenterIsIdle() {
        sim::UnitConfig slowly = behaving(Behaviour::Slow);
        slowly.delayMs = 400;
        SimulatedUnit unit(slowly);
        QVERIFY(unit.listen());
        const quint16 desk = unitFor(unit, QStringLiteral("desk"));
        QLockFile lock(InstanceNames(db->path).lockPath());
        QVERIFY(lock.tryLock(0));
        LogWithCore processor;
        ControlServer control(db->path, processor.engine());
        QVERIFY(control.listen());
        for (int i = 0; i < 5; ++i) // about two and a half seconds of the unit's own work ahead
            processor.engine().AddToQueue(desk, TaskQuery);

        QProcess process;
        QSignalSpy finished(&process, &QProcess::finished);
        process.start(
            QStringLiteral(KAVIOCTL_PATH),
            {QStringLiteral("--database"), db->path, QStringLiteral("on"), QStringLiteral("desk")});
        QVERIFY(process.waitForStarted());
        const QString status = QStringLiteral("/proc/%1/status").arg(process.processId());
        auto wakeUps = [&status] {
            QFile file(status);
            if (!file.open(QIODevice::ReadOnly))
                return qint64(-1);
            for (const QByteArray& line : file.readAll().split('\n')) {
                if (line.startsWith("voluntary_ctxt_switches:"))
                    return line.mid(24).trimmed().toLongLong();
            }
            return qint64(-1);
        };
        QTest::qWait(700); // started, handed over, waiting
        const qint64 before = wakeUps();
        QTest::qWait(1000);
        const qint64 after = wakeUps();
        QCOMPARE(finished.count(), 0); // still waiting behind the queue
        QVERIFY(finished.wait(Patience));
        QCOMPARE(process.exitCode(), 0);
        QVERIFY(before >= 0 && after >= before);
        QVERIFY2(after - before < 100, qPrintable(QString::number(after - before)));
    }

    // The control center's queue is bounded: a unit with a full line of waiting commands
    // refuses kavioctl's, which fails at once and names who refused. Taken but stuck behind a
    // long line, kavioctl waits for its result no longer than --wait (and the time one
    // exchange may take), then fails and says its command is still queued.
    void fullOrLongQueueOfTheControlCenter() {
        SimulatedUnit silent(behaving(Behaviour::Silent));
        QVERIFY(silent.listen());
        const quint16 slow = unitFor(silent, QStringLiteral("slow"));
        QLockFile lock(InstanceNames(db->path).lockPath());
        QVERIFY(lock.tryLock(0));
        LogWithCore processor;
        ControlServer control(db->path, processor.engine());
        QVERIFY(control.listen());
        processor.engine().AddToQueue(slow, TaskQuery);
        processor.engine().StartQueue();
        for (int i = 0; i < TCommandEngine::MaxWaitingPerUnit; ++i)
            QVERIFY(processor.engine().AddToQueue(slow, TaskQuery) != 0);

        Run run = kavioctl({QStringLiteral("query"), QStringLiteral("slow")});
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.out, QStringList({"slow\tquery\tFAILED"}));
        QVERIFY2(run.err.contains(QStringLiteral("the Kavio Control Center refused the commands: "
                                                 "64 commands wait")),
                 qPrintable(run.err));

        // Room for one more once an exchange is over; about 40 s of work ahead of it.
        QTRY_VERIFY_WITH_TIMEOUT(
            processor.engine().waitingFor(slow) < TCommandEngine::MaxWaitingPerUnit, Patience);
        run = kavioctl({QStringLiteral("query"), QStringLiteral("slow"), QStringLiteral("--wait"),
                        QStringLiteral("1")});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains(QStringLiteral("the Kavio Control Center has not served 1 "
                                                 "command(s) within 6 s; they stay in its queue")),
                 qPrintable(run.err));
        QVERIFY2(run.ms >= 5000 && run.ms < 20000, qPrintable(QString::number(run.ms)));
        int stillQueued = 0;
        for (const TCommandEntry& entry : processor.engine().unfinished())
            stillQueued += entry.Source == CommandSource::Kavioctl;
        QCOMPARE(stillQueued, 1);
    }

    // A control center that holds the lock but does not answer is reported within a few
    // seconds, and kavioctl does not serve the units beside it.
    void silentControlCenterIsReported() {
        SimulatedUnit unit(behaving(Behaviour::On));
        QVERIFY(unit.listen());
        unitFor(unit, QStringLiteral("desk"));
        QLockFile lock(InstanceNames(db->path).lockPath());
        QVERIFY(lock.tryLock(0));
        const Run run = kavioctl({QStringLiteral("query"), QStringLiteral("desk")});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains(QStringLiteral("does not answer")), qPrintable(run.err));
        QVERIFY2(run.ms < 10000, qPrintable(QString::number(run.ms)));
        QCOMPARE(unit.connectionCount(), 0);
    }

    // A control center that answers wrongly: refuses, accepts another number of commands, or
    // goes away before every result came. Missing results are failures, never success.
    void controlCenterThatMisbehaves_data() {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QStringList>("out");
        QTest::addColumn<QString>("message");
        TCommandResult first;
        first.Index = 1;
        first.Name = QStringLiteral("one");
        first.Result = TCommandResult::Outcome::Answered;
        first.Reply = "ON";
        first.Status = StatusOn;
        const QStringList neither = {"one\tquery\tFAILED", "two\tquery\tFAILED"};
        // Its text shows control characters escaped: it cannot clear the screen.
        QTest::newRow("refuses") << control::encodeError(QStringLiteral("no\x1b[2J thanks"))
                                 << neither
                                 << QStringLiteral("refused the commands: no\\x1b[2J thanks\n");
        QTest::newRow("accepts one of two")
            << control::encodeAccepted(1) + control::encodeResult(0, first) << neither
            << QStringLiteral("does not answer");
        QTest::newRow("ends early") << control::encodeAccepted(2) + control::encodeResult(0, first)
                                    << QStringList({"one\tquery\tON", "two\tquery\tFAILED"})
                                    << QStringLiteral("ended before 1 command");
    }

    void controlCenterThatMisbehaves() {
        QFETCH(QByteArray, answer);
        QFETCH(QStringList, out);
        QFETCH(QString, message);
        SimulatedUnit unit(behaving(Behaviour::On));
        QVERIFY(unit.listen());
        unitFor(unit, QStringLiteral("one"));
        unitFor(unit, QStringLiteral("two"));
        const InstanceNames names(db->path);
        QLockFile lock(names.lockPath());
        QVERIFY(lock.tryLock(0));
        QLocalServer server;
        QVERIFY(server.listen(names.controlServerName()));
        connect(&server, &QLocalServer::newConnection, this, [&] {
            QLocalSocket* caller = server.nextPendingConnection();
            connect(caller, &QLocalSocket::readyRead, caller, [caller, answer] {
                if (!caller->canReadLine())
                    return;
                caller->readLine();
                caller->write(answer);
                caller->disconnectFromServer();
            });
        });
        const Run run =
            kavioctl({QStringLiteral("query"), QStringLiteral("one"), QStringLiteral("two")});
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.out, out);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        QCOMPARE(unit.connectionCount(), 0);
    }

    // Another kavioctl serving units holds the lock: this one waits until it is done, so that
    // the two never reach units at the same time.
    void waitsForAnotherKavioctl() {
        SimulatedUnit slow(behaving(Behaviour::Silent));
        SimulatedUnit desk(behaving(Behaviour::On));
        QVERIFY(slow.listen() && desk.listen());
        QStringList slowOnes;
        for (int i = 1; i <= 5; ++i) // about three seconds of work
            unitFor(slow, slowOnes.emplace_back(QStringLiteral("slow%1").arg(i)));
        unitFor(desk, QStringLiteral("desk"));
        QElapsedTimer clock;
        clock.start();
        qint64 slowClosed = -1, deskReached = -1;
        connect(&slow, &SimulatedUnit::connectionClosed, this,
                [&] { slowClosed = clock.elapsed(); });
        connect(&desk, &SimulatedUnit::commandReceived, this,
                [&] { deskReached = clock.elapsed(); });

        QProcess first;
        first.start(QStringLiteral(KAVIOCTL_PATH),
                    QStringList{QStringLiteral("--database"), db->path, QStringLiteral("query")} +
                        slowOnes);
        QSignalSpy reached(&slow, &SimulatedUnit::commandReceived);
        QVERIFY(reached.wait(Patience)); // the first one holds the lock now
        // Not beyond --wait: then nothing is sent.
        const Run impatient =
            kavioctl({QStringLiteral("query"), QStringLiteral("desk"), QStringLiteral("--wait=1")});
        QCOMPARE(impatient.exitCode, 1);
        QVERIFY2(impatient.err.contains(QStringLiteral("waiting up to 1 s for another kavioctl "
                                                       "(pid %1)")
                                            .arg(first.processId())),
                 qPrintable(impatient.err));
        QVERIFY2(impatient.err.contains(QStringLiteral("nothing was sent")),
                 qPrintable(impatient.err));
        QVERIFY(first.state() == QProcess::Running);
        QCOMPARE(desk.connectionCount(), 0);
        const Run run = kavioctl({QStringLiteral("query"), QStringLiteral("desk")});
        QVERIFY2(run.exitCode == 0, qPrintable(run.err));
        QVERIFY2(run.err.contains(QStringLiteral("waiting")), qPrintable(run.err));
        QVERIFY(first.state() == QProcess::NotRunning || first.waitForFinished(Patience));
        QVERIFY2(slowClosed >= 0 && deskReached > slowClosed,
                 qPrintable(QStringLiteral("%1 %2").arg(slowClosed).arg(deskReached)));
    }
};

QTEST_MAIN(TestKavioctlUnits)
#include "test_kavioctl_units.moc"
