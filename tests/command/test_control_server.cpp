// The control socket of a running control center, spoken to directly: what it accepts, what it
// refuses, and that a caller who goes away costs nothing.
#include "Codes.h"
#include "CommandEngine.h"
#include "ControlNotice.h"
#include "ControlProtocol.h"
#include "ControlServer.h"
#include "LocalListener.h"
#include "LoopbackUnits.h"
#include "ServiceClient.h"
#include "TempDatabase.h"
#include "UnitSim.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocalServer>
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
        // As kavioctl encodes its entries: they stay kavioctl's in the queue they join.
        const QList<QByteArray> answers =
            exchange(control::encodeRequest({{{b, TaskQuery, 0, CommandSource::Kavioctl},
                                              {a, TaskPowerOn, 0, CommandSource::Kavioctl}},
                                             false}),
                     3);
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
        QCOMPARE(first->result.Source, CommandSource::Kavioctl);
        QCOMPARE(second->result.Source, CommandSource::Kavioctl);
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
        // The error names the entry at fault, counted from one.
        QTest::newRow("second entry bad")
            << QByteArray("{\"queue\":[[1,5],[0,5]]}") << "refused: entry 2 of";
        // A window that follows the service names who queued its entries.
        QTest::newRow("compact, named")
            << QByteArray("{\"queue\":[[1,5]],\"source\":\"timed poll\"}\n") << "1/5@timed poll";
        QTest::newRow("JSON, named")
            << QByteArray("{ \"source\": \"button\", \"queue\": [[2,0]] }") << "2/0@button";
        QTest::newRow("named kavioctl")
            << QByteArray("{\"queue\":[[3,1]],\"source\":\"kavioctl\"}") << "3/1";
        QTest::newRow("unknown source")
            << QByteArray("{\"queue\":[[1,5]],\"source\":\"robot\"}") << "refused";
        QTest::newRow("escaped source")
            << QByteArray("{\"queue\":[[1,5]],\"source\":\"but\\u0074on\"}") << "1/5@button";
        QTest::newRow("source cut short")
            << QByteArray("{\"queue\":[[1,5]],\"source\":\"poll}") << "refused";
    }

    void requestFormsReadAlike() {
        QFETCH(QByteArray, line);
        QFETCH(QString, entries);
        QString error;
        const std::optional<control::Request> request = control::decodeRequest(line, &error);
        if (entries.startsWith(QLatin1String("refused"))) {
            QVERIFY(!request);
            QVERIFY(!error.isEmpty());
            QVERIFY2(error.contains(entries.mid(9)), qPrintable(error));
            return;
        }
        QVERIFY2(request, qPrintable(error));
        QStringList read;
        for (const TCommandEntry& entry : request->entries)
            read << QStringLiteral("%1/%2%3")
                        .arg(entry.Index)
                        .arg(entry.Task)
                        .arg(entry.Source == CommandSource::Kavioctl
                                 ? QString()
                                 : QLatin1Char('@') + sourceName(entry.Source));
        QCOMPARE(read.join(QLatin1Char(' ')), entries);
        // What encodeRequest writes reads back the same.
        if (!request->entries.isEmpty()) {
            const auto again = control::decodeRequest(control::encodeRequest(*request), &error);
            QVERIFY(again && again->entries.size() == request->entries.size());
            QCOMPARE(again->entries.first().Source, request->entries.first().Source);
        }
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
        sent.Source = CommandSource::CycleFollowUp;
        sent.Address = QStringLiteral("127.0.0.9");
        sent.Port = 65535;
        sent.StartedMs = 1796000000123;
        sent.DurationMs = 501;
        sent.TimedOut = !stored;
        sent.Written = stored;
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
        QCOMPARE(answer->result.Source, sent.Source);
        QCOMPARE(answer->result.Address, sent.Address);
        QCOMPARE(answer->result.Port, sent.Port);
        QCOMPARE(answer->result.StartedMs, sent.StartedMs);
        QCOMPARE(answer->result.DurationMs, sent.DurationMs);
        QCOMPARE(answer->result.TimedOut, sent.TimedOut);
        QCOMPARE(answer->result.Written, sent.Written);
    }

    // A subscriber reads only the notices as written; an answer, an error or anything malformed
    // is none.
    void noticesAreReadOnlyAsWritten() {
        control::Notice log{control::Notice::Kind::Log};
        log.log = TLogLine{1796000000123, QStringLiteral("Größe\n"), QStringLiteral("127.0.0.2"),
                           4001, QStringLiteral("  SUCCESS")};
        const auto again = control::decodeNotice(control::encodeNotice(log));
        QVERIFY(again && again->kind == control::Notice::Kind::Log);
        QCOMPARE(again->log.TimeMs, log.log.TimeMs);
        QCOMPARE(again->log.Name, log.log.Name);
        QCOMPARE(again->log.Address, log.log.Address);
        QCOMPARE(again->log.Port, log.log.Port);
        QCOMPARE(again->log.Text, log.log.Text);
        control::Notice queue{control::Notice::Kind::Queue};
        queue.queueLength = 65535;
        queue.queueHead = CommandSource::TimedPoll;
        const auto read = control::decodeNotice(control::encodeNotice(queue));
        QVERIFY(read && read->kind == control::Notice::Kind::Queue);
        QCOMPARE(read->queueLength, 65535);
        QCOMPARE(read->queueHead, CommandSource::TimedPoll);
        for (const QByteArray& line :
             {QByteArray("not JSON\n"), QByteArray("{}"), QByteArray("[1]"),
              QByteArray("{\"error\":\"no\"}"), QByteArray("{\"accepted\":1}"),
              QByteArray("{\"log\":{},\"fired\":\"k\"}"), QByteArray("{\"queue\":5}"),
              QByteArray("{\"log\":\"text\"}"), QByteArray("{\"fired\":5}"),
              QByteArray("{\"hello\":true}"), QByteArray("{\"finished\":[]}")})
            QVERIFY2(!control::decodeNotice(line), line.constData());
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

    // Subscribers hear of every exchange, whoever queued it, and of each other's changes but
    // not of their own; their requests get no answer, and their entries keep their source.
    void subscribersHearWhatTheServerDoes() {
        SimulatedUnit on(behaving(Behaviour::On));
        QVERIFY(on.listen());
        const quint16 a = TempDatabase::addUnit(QStringLiteral("a"), "127.0.0.1", on.port());
        server->setProgramName(QStringLiteral("kaviod"));
        server->setServedToday([] { return QStringList{QStringLiteral("k1")}; });
        struct Subscriber {
            QLocalSocket socket;
            QList<control::Notice> heard;
            QByteArray unread;
        };
        Subscriber first, second;
        for (Subscriber* each : {&first, &second}) {
            each->socket.connectToServer(server->serverName());
            QVERIFY(each->socket.waitForConnected(5000));
            connect(&each->socket, &QLocalSocket::readyRead, this, [each] {
                while (each->socket.canReadLine()) {
                    const QByteArray line = each->socket.readLine();
                    if (const auto notice = control::decodeNotice(line))
                        each->heard << *notice;
                    else
                        each->unread += line;
                }
            });
            control::Request subscribe;
            subscribe.subscribe = true;
            each->socket.write(control::encodeRequest(subscribe));
        }
        QTRY_VERIFY(!first.heard.isEmpty() && !second.heard.isEmpty());
        QCOMPARE(first.heard.first().kind, control::Notice::Kind::Hello);
        QCOMPARE(first.heard.first().program, QStringLiteral("kaviod"));
        QCOMPARE(first.heard.first().pid, QCoreApplication::applicationPid());
        QCOMPARE(first.heard.first().served, QStringList{QStringLiteral("k1")});
        QCOMPARE(server->subscriberCount(), 2);

        QSignalSpy changed(server.get(), &ControlServer::storeChanged);
        QSignalSpy settings(server.get(), &ControlServer::settingsChanged);
        TCommandEntry entry{a, TaskPowerOn, 0, CommandSource::Popup};
        second.socket.write(control::encodeRequest({{entry}}));
        second.socket.write(control::encodeRequest({{}, true}));
        second.socket.write(control::encodeRequest({{}, false, true}));
        const auto heardKind = [](const Subscriber& who, control::Notice::Kind kind) {
            return std::count_if(who.heard.cbegin(), who.heard.cend(),
                                 [kind](const control::Notice& n) { return n.kind == kind; });
        };
        QTRY_COMPARE_WITH_TIMEOUT(heardKind(second, control::Notice::Kind::Finished), 1, 5000);
        QTRY_COMPARE(heardKind(first, control::Notice::Kind::Status), 1);
        QCOMPARE(changed.size(), 1);
        QCOMPARE(settings.size(), 1);
        for (const Subscriber* who : {&first, &second}) {
            const auto finished =
                std::find_if(who->heard.cbegin(), who->heard.cend(), [](const auto& n) {
                    return n.kind == control::Notice::Kind::Finished;
                });
            QVERIFY(finished != who->heard.cend());
            QCOMPARE(finished->result.Source, CommandSource::Popup);
            QCOMPARE(finished->result.Status, quint8(StatusOn));
            QVERIFY(heardKind(*who, control::Notice::Kind::Log) >= 3);
            // The queue held the entry, then nothing.
            const auto queueLengths = [who] {
                QList<int> lengths;
                for (const control::Notice& n : who->heard)
                    if (n.kind == control::Notice::Kind::Queue)
                        lengths << n.queueLength;
                return lengths;
            };
            QTRY_COMPARE(queueLengths(), (QList<int>{0, 1, 0}));
            QVERIFY(who->unread.isEmpty()); // no answers, no errors
        }
        QCOMPARE(heardKind(first, control::Notice::Kind::Changed), 1);
        QCOMPARE(heardKind(first, control::Notice::Kind::Settings), 1);
        QCOMPARE(heardKind(second, control::Notice::Kind::Changed), 0);
        QCOMPARE(heardKind(second, control::Notice::Kind::Settings), 0);
        // kavioctl's refresh is told to every subscriber.
        QCOMPARE(exchange(control::encodeRequest({{}, true}), 1).size(), 1);
        QTRY_COMPARE(heardKind(second, control::Notice::Kind::Changed), 1);
        server->notifyFired(QStringLiteral("k2"));
        QTRY_VERIFY(!first.heard.isEmpty() && first.heard.last().key == QStringLiteral("k2"));
        first.socket.abort();
        QTRY_COMPARE(server->subscriberCount(), 1);
    }

    // A subscriber that reads nothing cannot make the server hold more than the bound: it is
    // closed, and the others are still served.
    void subscriberThatReadsNothingIsClosed() {
        QLocalSocket stalled, reading;
        for (QLocalSocket* socket : {&stalled, &reading}) {
            socket->connectToServer(server->serverName());
            QVERIFY(socket->waitForConnected(5000));
            socket->write(control::encodeRequest({{}, false, false, true}));
            QVERIFY(socket->waitForBytesWritten(5000));
        }
        QTRY_COMPARE(server->subscriberCount(), 2);
        stalled.setReadBufferSize(64 * 1024); // Qt would read on for it otherwise
        QByteArray heard;
        connect(&reading, &QLocalSocket::readyRead, this, [&] { heard += reading.readAll(); });
        const QString key(1 << 20, QLatin1Char('k'));
        for (int megabyte = 1; megabyte <= 20; ++megabyte) {
            server->notifyFired(key);
            // The reading subscriber keeps up; the other does not.
            QTRY_VERIFY_WITH_TIMEOUT(heard.size() > qsizetype(megabyte) << 20, 10000);
        }
        QTRY_COMPARE(server->subscriberCount(), 1);
        QCOMPARE(heard.count('\n'), 22); // hello, queue, 20 events
    }

    // A window following a program that accepts the subscription but never answers it gives up
    // in bounded time and serves its entries itself again.
    void followerGivesUpOnASilentServer() {
        QLocalServer silent;
        QVERIFY(silent.listen(runtime.filePath(QStringLiteral("silent"))));
        TCommandEngine window;
        ServiceClient client(window);
        QSignalSpy ended(&client, &ServiceClient::ended);
        QElapsedTimer clock;
        clock.start();
        client.follow(silent.fullServerName());
        QVERIFY(window.forwarding());
        window.AddToQueue(1, TaskQuery);
        QVERIFY(window.queue().isEmpty()); // handed on, not queued here
        QVERIFY(ended.wait(ServiceClient::HelloTimeoutMs + 3000));
        // The hello timer is a coarse one and may fire up to 5 % early; a busy machine adds more.
        QVERIFY2(clock.elapsed() >= ServiceClient::HelloTimeoutMs / 2,
                 qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!window.forwarding());
        QCOMPARE(ended.size(), 1);
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
