// The control socket of a running control center, spoken to directly: what it accepts, what it
// refuses, and that a caller who goes away costs nothing.
#include "Codes.h"
#include "CommandEngine.h"
#include "ControlProtocol.h"
#include "ControlServer.h"
#include "LocalListener.h"
#include "LoopbackUnits.h"
#include "TempDatabase.h"
#include "UnitSim.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace kavio;
using kavio::sim::Behaviour;
using kavio::sim::SimulatedUnit;
using test::behaving;
using test::TempDatabase;

class TestControlServer : public QObject {
    Q_OBJECT

    QTemporaryDir runtime;
    std::unique_ptr<TempDatabase> db;
    std::unique_ptr<TCommandEngine> engine;
    std::unique_ptr<ControlServer> server;

    // Sends one line and gives the answers that came within `count` lines.
    QList<QByteArray> exchange(const QByteArray& request, int count) {
        QLocalSocket socket;
        socket.connectToServer(server->serverName());
        if (!socket.waitForConnected(5000))
            return {};
        socket.write(request);
        QList<QByteArray> answers;
        while (answers.size() < count) {
            if (!socket.canReadLine()) {
                QSignalSpy ready(&socket, &QLocalSocket::readyRead);
                if (!ready.wait(10000))
                    break;
                continue;
            }
            answers << socket.readLine().trimmed();
        }
        return answers;
    }

private slots:
    void initTestCase() {
        QVERIFY(runtime.isValid());
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    }

    void init() {
        db = std::make_unique<TempDatabase>();
        engine = std::make_unique<TCommandEngine>();
        server = std::make_unique<ControlServer>(db->path, *engine);
        QVERIFY(server->listen());
    }

    void cleanup() {
        server.reset();
        engine.reset();
        db.reset();
    }

    // Results come back per entry, in the request's positions, as each exchange ends.
    void queuedEntriesAnswerByPosition() {
        SimulatedUnit on(behaving(Behaviour::On));
        SimulatedUnit off(behaving(Behaviour::Off));
        QVERIFY(on.listen() && off.listen());
        const quint16 a = TempDatabase::addUnit(QStringLiteral("a"), "127.0.0.1", on.port());
        const quint16 b = TempDatabase::addUnit(QStringLiteral("b"), "127.0.0.1", off.port());
        const QList<QByteArray> answers =
            exchange(control::encodeRequest({{{b, TaskQuery}, {a, TaskPowerOn}}, false}), 3);
        QCOMPARE(answers.size(), 3);
        const auto accepted = control::decodeAnswer(answers[0]);
        QVERIFY(accepted && accepted->kind == control::Answer::Kind::Accepted);
        QCOMPARE(accepted->count, 2);
        const auto first = control::decodeAnswer(answers[1]);
        const auto second = control::decodeAnswer(answers[2]);
        QVERIFY(first && second);
        QCOMPARE(first->entry, 0);
        QCOMPARE(first->result.Name, QStringLiteral("b"));
        QCOMPARE(first->result.Status, quint8(StatusOff));
        QCOMPARE(first->result.Reply, QByteArray("OFF"));
        QCOMPARE(first->result.Result, TCommandResult::Outcome::Answered);
        QCOMPARE(second->entry, 1);
        QCOMPARE(second->result.Index, a);
        QCOMPARE(second->result.Task, quint8(TaskPowerOn));
        QVERIFY(second->result.answeredWithStatusWord());
    }

    void badRequestsAreRefusedAndQueueNothing_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::newRow("not JSON") << QByteArray("hello\n");
        QTest::newRow("nothing to do") << QByteArray("{\"frob\":1}\n");
        QTest::newRow("key zero") << QByteArray("{\"queue\":[[1,0],[0,0]]}\n");
        QTest::newRow("key too large") << QByteArray("{\"queue\":[[65536,0]]}\n");
        QTest::newRow("unknown task") << QByteArray("{\"queue\":[[1,6]]}\n");
        // 256 would wrap to task 0, Power On.
        QTest::newRow("task beyond a byte") << QByteArray("{\"queue\":[[1,256]]}\n");
        QTest::newRow("not a pair") << QByteArray("{\"queue\":[[1]]}\n");
    }

    // kavioctl's compact form is read without a JSON document; any other spelling of the same
    // request reads alike, and a broken one is refused either way.
    void requestFormsReadAlike_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("entries"); // "index/task ...", or "refused"
        QTest::newRow("compact") << QByteArray("{\"queue\":[[1,5],[65535,0]]}\n") << "1/5 65535/0";
        QTest::newRow("with blanks")
            << QByteArray("{ \"queue\": [ [1, 5], [65535,0] ] }") << "1/5 65535/0";
        QTest::newRow("empty") << QByteArray("{\"queue\":[]}") << "";
        QTest::newRow("unended") << QByteArray("{\"queue\":[[1,5],[2,5]") << "refused";
        QTest::newRow("double comma") << QByteArray("{\"queue\":[[1,5],,[2,5]]}") << "refused";
        QTest::newRow("no comma") << QByteArray("{\"queue\":[[1,5][2,5]]}") << "refused";
        QTest::newRow("eight digits") << QByteArray("{\"queue\":[[10000001,5]]}") << "refused";
        QTest::newRow("three numbers") << QByteArray("{\"queue\":[[1,5,5]]}") << "refused";
    }

    void requestFormsReadAlike() {
        QFETCH(QByteArray, line);
        QFETCH(QString, entries);
        QString error;
        const std::optional<control::Request> request = control::decodeRequest(line, &error);
        if (entries == QLatin1String("refused")) {
            QVERIFY(!request);
            QVERIFY(!error.isEmpty());
            return;
        }
        QVERIFY2(request, qPrintable(error));
        QStringList read;
        for (const TCommandEntry& entry : request->entries)
            read << QStringLiteral("%1/%2").arg(entry.Index).arg(entry.Task);
        QCOMPARE(read.join(QLatin1Char(' ')), entries);
    }

    // The highest key and every task are taken; the entry ends as dropped (no such unit).
    void highestKeyIsAccepted() {
        const QList<QByteArray> answers = exchange("{\"queue\":[[65535,0],[1,5]]}\n", 3);
        QCOMPARE(answers.size(), 3);
        const auto accepted = control::decodeAnswer(answers[0]);
        QVERIFY(accepted && accepted->kind == control::Answer::Kind::Accepted);
        QCOMPARE(accepted->count, 2);
        const auto first = control::decodeAnswer(answers[1]);
        QVERIFY(first && first->kind == control::Answer::Kind::Result);
        QCOMPARE(first->result.Index, quint16(65535));
        QCOMPARE(first->result.Result, TCommandResult::Outcome::Dropped);
    }

    // Every outcome, name and reply byte survive the trip through a line.
    void resultsSurviveTheLine_data() {
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("stored");
        using Outcome = TCommandResult::Outcome;
        QTest::newRow("answered") << int(Outcome::Answered) << QByteArray("CYCLE") << true;
        QTest::newRow("not connected") << int(Outcome::NotConnected) << QByteArray() << false;
        QTest::newRow("broken") << int(Outcome::Broken) << QByteArray("\x1b\0\xff\n") << true;
        QTest::newRow("refused") << int(Outcome::Refused) << QByteArray() << true;
        QTest::newRow("dropped") << int(Outcome::Dropped) << QByteArray() << true;
    }

    void resultsSurviveTheLine() {
        QFETCH(int, outcome);
        QFETCH(QByteArray, reply);
        QFETCH(bool, stored);
        TCommandResult sent;
        sent.Index = 513;
        sent.Task = TaskCycle;
        sent.Result = TCommandResult::Outcome(outcome);
        sent.Name = QStringLiteral("Größe \"rack\"\n2");
        sent.Reply = reply;
        sent.Status = StatusBusy;
        sent.Stored = stored;
        const QByteArray line = control::encodeResult(7, sent);
        QCOMPARE(line.count('\n'), 1);
        QVERIFY(line.endsWith('\n'));
        const auto answer = control::decodeAnswer(line);
        QVERIFY(answer && answer->kind == control::Answer::Kind::Result);
        QCOMPARE(answer->entry, 7);
        QCOMPARE(answer->result.Index, sent.Index);
        QCOMPARE(answer->result.Task, sent.Task);
        QCOMPARE(int(answer->result.Result), outcome);
        QCOMPARE(answer->result.Name, sent.Name);
        QCOMPARE(answer->result.Reply, reply);
        QCOMPARE(answer->result.Status, sent.Status);
        QCOMPARE(answer->result.Stored, stored);
    }

    // A socket left behind by a program that died is replaced, and only the user can connect,
    // whatever the umask.
    void staleSocketIsReplacedAndOnlyTheUserConnects() {
        const QString name = server->serverName();
        server.reset();
        QFile stale(name);
        QVERIFY(stale.open(QIODevice::WriteOnly));
        stale.close();
        const mode_t previous = ::umask(0);
        server = std::make_unique<ControlServer>(db->path, *engine);
        const bool listening = server->listen();
        ::umask(previous);
        QVERIFY(listening);
        const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                          QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
        QCOMPARE(QFileInfo(name).permissions() & others, QFile::Permissions());
        QCOMPARE(exchange(control::encodeRequest({{}, true}), 1).size(), 1);
    }

    void badRequestsAreRefusedAndQueueNothing() {
        QFETCH(QByteArray, request);
        QLocalSocket socket;
        socket.connectToServer(server->serverName());
        QVERIFY(socket.waitForConnected(5000));
        QByteArray said;
        connect(&socket, &QLocalSocket::readyRead, this, [&] { said += socket.readAll(); });
        QSignalSpy gone(&socket, &QLocalSocket::disconnected);
        socket.write(request);
        // The server answers and hangs up.
        QVERIFY(gone.wait(5000));
        const auto answer = control::decodeAnswer(said.trimmed());
        QVERIFY(answer && answer->kind == control::Answer::Kind::Error);
        QVERIFY(!answer->message.isEmpty());
        QVERIFY(engine->queue().isEmpty());
    }

    // A line that never ends is cut off at the limit instead of growing without bound.
    void endlessLineIsRefused() {
        QLocalSocket socket;
        socket.connectToServer(server->serverName());
        QVERIFY(socket.waitForConnected(5000));
        const QByteArray chunk(1024 * 1024, 'x');
        QSignalSpy gone(&socket, &QLocalSocket::disconnected);
        QByteArray said;
        connect(&socket, &QLocalSocket::readyRead, this, [&] { said += socket.readAll(); });
        for (int i = 0; i <= control::MaxLineBytes / chunk.size() + 1 && gone.isEmpty(); ++i) {
            socket.write(chunk);
            QTest::qWait(5);
        }
        QVERIFY(!gone.isEmpty() || gone.wait(10000));
        const auto answer = control::decodeAnswer(said.trimmed());
        QVERIFY(answer && answer->kind == control::Answer::Kind::Error);
        QVERIFY(engine->queue().isEmpty());
    }

    // The caller leaves at once: its entries are still served, and nothing breaks.
    void callerThatLeavesEarly() {
        SimulatedUnit on(behaving(Behaviour::On));
        QVERIFY(on.listen());
        const quint16 a = TempDatabase::addUnit(QStringLiteral("a"), "127.0.0.1", on.port());
        {
            QLocalSocket socket;
            socket.connectToServer(server->serverName());
            QVERIFY(socket.waitForConnected(5000));
            socket.write(control::encodeRequest({{{a, TaskPowerOn}}, false}));
            QVERIFY(socket.waitForBytesWritten(5000));
            QTRY_COMPARE(engine->queue().size(), 1);
        }
        QTRY_COMPARE_WITH_TIMEOUT(on.commandLetters(), QList<QByteArray>({"n"}), 10000);
        QTRY_VERIFY(!engine->busy());
        QCOMPARE(TempDatabase::status(a), qint64(StatusOn));
    }

    // However many callers come and however they behave, the control center stays reachable:
    // 1,000 idle callers (another process) against a low descriptor limit, one that never
    // finishes its request, and a listening socket that Qt closed after a failed accept.
    void staysReachableWhateverCallersDo() {
        struct rlimit previous {};
        QCOMPARE(::getrlimit(RLIMIT_NOFILE, &previous), 0);
        struct rlimit low = previous;
        low.rlim_cur = 256;
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &low), 0);
        const auto restore = qScopeGuard([&] { ::setrlimit(RLIMIT_NOFILE, &previous); });

        QProcess crowd;
        crowd.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        crowd.start(QStringLiteral("python3"), {QStringLiteral("-c"), QStringLiteral(R"(
import resource, socket, sys, time
hard = resource.getrlimit(resource.RLIMIT_NOFILE)[1]
resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
callers = []
for _ in range(1000):
    s = socket.socket(socket.AF_UNIX)
    while True:
        try:
            s.connect(sys.argv[1])
            break
        except BlockingIOError:  # the backlog is full for a moment
            time.sleep(0.01)
    callers.append(s)
time.sleep(1)
told = 0
for s in callers:
    s.setblocking(False)
    try:
        told += b'"error"' in s.recv(4096)
    except BlockingIOError:
        pass
print(told)
)"),
                                                server->serverName()});
        QTRY_VERIFY_WITH_TIMEOUT(crowd.state() == QProcess::NotRunning, 30000);
        QCOMPARE(crowd.exitCode(), 0);
        // All but the few served at once were told why and closed.
        QCOMPARE(crowd.readAllStandardOutput().trimmed().toInt(), 1000 - ControlServer::MaxClients);
        QVERIFY(server->listener().isListening());
        QCOMPARE(exchange(control::encodeRequest({{}, true}), 1).size(), 1);

        // A caller that never completes its request is told so and closed.
        server->setIdleTimeout(200);
        QLocalSocket silent;
        silent.connectToServer(server->serverName());
        QVERIFY(silent.waitForConnected(5000));
        silent.write("{\"queue\":");
        QSignalSpy gone(&silent, &QLocalSocket::disconnected);
        QVERIFY(gone.wait(5000));
        const auto told = control::decodeAnswer(silent.readAll().trimmed());
        QVERIFY(told && told->kind == control::Answer::Kind::Error);

        // Qt closes a local server whose accept fails and removes its socket file.
        server->listener().closeForTest();
        QVERIFY(!QFileInfo::exists(server->serverName()));
        QTRY_VERIFY_WITH_TIMEOUT(server->listener().isListening(), 5000);
        QCOMPARE(exchange(control::encodeRequest({{}, true}), 1).size(), 1);
    }

    void refreshIsAnnounced() {
        QSignalSpy changed(server.get(), &ControlServer::storeChanged);
        const QList<QByteArray> answers = exchange(control::encodeRequest({{}, true}), 1);
        QCOMPARE(answers.size(), 1);
        QCOMPARE(changed.size(), 1);
        QVERIFY(engine->queue().isEmpty());
    }
};

QTEST_MAIN(TestControlServer)
#include "test_control_server.moc"
