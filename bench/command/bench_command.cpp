// Figures of the command processor against simulated units in a separate process (kaviosim),
// so that the units' own work does not run on the processor's event loop.
#include "BenchSupport.h"
#include "Codes.h"
#include "CommandEngine.h"
#include "ControlServer.h"
#include "Database.h"
#include "Messages.h"
#include "SqliteTool.h"
#include "Table.h"
#include "UnitSim.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QPlainTextEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <sys/resource.h>

using namespace kavio;
using namespace kavio::bench;

namespace {

// Starts kaviosim with `arguments` and returns the ports its units listen on.
QList<quint16> startSimulator(QProcess& simulator, int count, const QStringList& arguments) {
    const QString program = QCoreApplication::applicationDirPath() + QStringLiteral("/kaviosim");
    simulator.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    simulator.start(program,
                    QStringList{QStringLiteral("--count"), QString::number(count)} + arguments);
    QList<quint16> ports;
    static const QRegularExpression listening(QStringLiteral(" listening on [0-9.]+:(\\d+)"));
    QByteArray pending;
    while (ports.size() < count && simulator.waitForReadyRead(10000)) {
        pending += simulator.readAll();
        qsizetype end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const auto match = listening.match(QString::fromUtf8(pending.left(end)));
            if (match.hasMatch())
                ports << quint16(match.captured(1).toUInt());
            pending.remove(0, end + 1);
        }
    }
    if (ports.size() != count)
        qFatal("kaviosim did not start %d units", count);
    return ports;
}

QList<quint16> addUnits(const QList<quint16>& ports) {
    QList<quint16> indexes;
    TTable master(QStringLiteral("Master.DB"));
    master.open();
    for (quint16 port : ports) {
        master.append();
        master.fieldByName(QStringLiteral("Name")).setString(QStringLiteral("Sim %1").arg(port));
        master.fieldByName(QStringLiteral("IPAddress")).setString(QStringLiteral("127.0.0.1"));
        master.fieldByName(QStringLiteral("Port")).setInteger(port);
        master.fieldByName(QStringLiteral("Password")).setString(QStringLiteral("secret"));
        master.post();
        indexes << quint16(master.fieldByName(QStringLiteral("Index")).asInteger());
    }
    master.close();
    return indexes;
}

void waitUntilIdle(TCommandEngine& processor) {
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (!processor.busy() && processor.queue().isEmpty())
            loop.quit();
    });
    check.start(1);
    loop.exec();
}

bool drainQueue() {
    constexpr int Units = 200;
    QProcess simulator;
    const QList<quint16> indexes = addUnits(
        startSimulator(simulator, Units, {QStringLiteral("--behaviour"), QStringLiteral("on")}));

    TCommandEngine processor;
    for (quint16 index : indexes)
        processor.AddToQueue(index, TaskQuery);

    StallWatch heartbeat;
    heartbeat.start();

    QElapsedTimer clock;
    clock.start();
    processor.StartQueue();
    waitUntilIdle(processor);
    const double total = millisecondsOf(clock);
    heartbeat.stop();

    bool met = true;
    met &= report("200 loopback units answering at once, drain time", total, "ms", Units * 102.0);
    met &= report("overhead per exchange beyond the 100 ms pause", total / Units - 100, "ms", 2);
    met &= report("worst wait of a 10 ms timer while draining", heartbeat.worstMs(), "ms", 20);
    simulator.kill();
    simulator.waitForFinished();
    return met;
}

// The silent unit runs in a thread of its own, so that it notes the moment the command
// arrives without waiting for the processor's event loop.
bool silentUnit() {
    QThread unitThread;
    QObject inUnitThread;
    inUnitThread.moveToThread(&unitThread);
    unitThread.start();
    QElapsedTimer clock;
    clock.start();
    std::atomic<qint64> arrivedNs{0};
    sim::SimulatedUnit* unit = nullptr;
    QMetaObject::invokeMethod(
        &inUnitThread,
        [&] {
            sim::UnitConfig config;
            config.behaviour = sim::Behaviour::Silent;
            unit = new sim::SimulatedUnit(config);
            unit->listen();
            QObject::connect(unit, &sim::SimulatedUnit::commandReceived, unit,
                             [&] { arrivedNs = clock.nsecsElapsed(); });
        },
        Qt::BlockingQueuedConnection);

    const QList<quint16> indexes = addUnits({unit->port()});
    TCommandEngine processor;
    std::vector<double> deviations;
    QObject::connect(&processor, &TCommandEngine::statusChanged, [&] {
        const double waited = (clock.nsecsElapsed() - arrivedNs) / 1e6;
        deviations.push_back(std::abs(waited - TCommandEngine::ReplyLimitMs));
    });
    for (int run = 0; run < 10; ++run) {
        processor.AddToQueue(indexes.first(), TaskQuery);
        processor.StartQueue();
        waitUntilIdle(processor);
    }
    QMetaObject::invokeMethod(
        &inUnitThread, [&] { delete unit; }, Qt::BlockingQueuedConnection);
    unitThread.quit();
    unitThread.wait();
    return report("silent unit: |status 3 after the write - 500 ms| (worst of 10)",
                  maximum(deviations), "ms", 25);
}

// Another program holds a write transaction for 10 s while 20 units are polled over and over:
// the window must never wait long for the lock, and every status must reach the file once the
// lock goes.
bool lockedDatabase() {
    constexpr int Units = 20;
    constexpr int LockMs = 10000;
    QProcess simulator;
    const QList<quint16> indexes = addUnits(
        startSimulator(simulator, Units, {QStringLiteral("--behaviour"), QStringLiteral("off")}));
    TCommandEngine processor;
    RecordingMessageSink messages; // the operator's error box would wait for a click

    StallWatch heartbeat;

    test::SqliteWriteLock lock(Database::path());
    if (!lock.isHeld())
        qFatal("the sqlite3 tool could not take a write lock");
    heartbeat.start();
    QElapsedTimer clock;
    clock.start();
    int exchanges = 0;
    QObject::connect(&processor, &TCommandEngine::statusChanged, [&] { ++exchanges; });
    while (clock.elapsed() < LockMs) {
        if (!processor.busy() && processor.queue().isEmpty()) {
            for (quint16 index : indexes)
                processor.AddToQueue(index, TaskQuery);
        }
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    waitUntilIdle(processor);
    const int unstored = processor.unstoredStatuses().size();
    lock.release();
    QElapsedTimer sinceRelease;
    sinceRelease.start();
    while (!processor.unstoredStatuses().isEmpty()) {
        QEventLoop loop;
        QTimer::singleShot(1, &loop, &QEventLoop::quit);
        loop.exec();
    }
    const double writtenAfter = millisecondsOf(sinceRelease);
    heartbeat.stop();

    QSqlQuery count(Database::connection());
    count.exec(QStringLiteral("SELECT count(*) FROM Master WHERE Status = 1"));
    count.next();
    std::printf("(%d exchanges under the lock, %d statuses kept, %d of %d units stored as off, "
                "%d error report(s))\n",
                exchanges, unstored, count.value(0).toInt(), Units, int(messages.shown.size()));
    bool met = true;
    met &= report("write lock held 10 s elsewhere, 20 units polled: longest stall",
                  heartbeat.worstMs() / 1000, "s", 0.3);
    met &= report("kept statuses written after the lock went", writtenAfter, "ms",
                  TCommandEngine::StoreRetryMs + 100);
    met &= count.value(0).toInt() == Units;
    simulator.kill();
    simulator.waitForFinished();
    return met;
}

// kavioctl (here a client in another process) hands over one request naming every possible key,
// none of them a unit: the entries are queued and dropped while the window's event loop keeps
// turning.
bool largeControlRequest() {
    TCommandEngine engine;
    ControlServer server(Database::path(), engine);
    if (!server.listen())
        qFatal("the control socket does not listen");
    QProcess client;
    client.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    client.start(QStringLiteral("python3"), {QStringLiteral("-c"), QStringLiteral(R"(
import json, socket, sys
s = socket.socket(socket.AF_UNIX)
s.connect(sys.argv[1])
request = {"queue": [[k, 5] for k in range(1, 65536)]}  # compact, as kavioctl writes it
s.sendall((json.dumps(request, separators=(",", ":")) + "\n").encode())
lines = 0
with s.makefile("rb") as answers:
    for line in answers:
        lines += 1
        if lines == 65536:
            break
print(lines)
)"),
                                             server.serverName()});
    StallWatch heartbeat;
    heartbeat.start();
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QObject::connect(&client, &QProcess::finished, &loop, &QEventLoop::quit);
    loop.exec();
    const double total = millisecondsOf(clock);
    heartbeat.stop();
    bool met = client.readAllStandardOutput().trimmed() == "65536";
    met &= report("control request of 65,535 keys without units: every result back", total, "ms",
                  5000);
    met &= report("worst wait of a 10 ms timer meanwhile", heartbeat.worstMs(), "ms", 50);
    return met;
}

// A poll of 1,000 units in another process, one exchange at a time and then 16 and 64 at once.
bool parallelPoll() {
    constexpr int Units = 1000;
    QProcess simulator;
    const QList<quint16> indexes = addUnits(
        startSimulator(simulator, Units, {QStringLiteral("--behaviour"), QStringLiteral("on")}));
    bool met = true;
    double serial = 0;
    for (const int parallel : {1, 16, 64}) {
        TCommandEngine processor;
        processor.setParallel(parallel);
        for (quint16 index : indexes)
            processor.AddToQueue(index, TaskQuery);
        StallWatch heartbeat;
        heartbeat.start();
        QElapsedTimer clock;
        clock.start();
        processor.StartQueue();
        waitUntilIdle(processor);
        const double total = millisecondsOf(clock);
        heartbeat.stop();
        if (parallel == 1)
            serial = total;
        std::printf("poll of 1,000 loopback units, %d at once:\n", parallel);
        // One at a time is the pacing of the 100 ms pause plus each exchange: the baseline.
        met &= report("  time", total / 1000, "s",
                      parallel == 1 ? Units * 0.11 : Units * 0.102 / parallel + 1);
        if (parallel > 1)
            met &= reportAtLeast("  times faster than one at a time", serial / total, "x",
                                 parallel == 64 ? 30 : 8);
        met &= report("  worst wait of a 10 ms timer meanwhile", heartbeat.worstMs(), "ms", 20);
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    met &= report("peak resident memory of the polling process", double(usage.ru_maxrss) / 1024,
                  "MB", 150);
    simulator.kill();
    simulator.waitForFinished();
    return met;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QTemporaryDir dir;
    // "parallel": only the poll of 1,000 units, one at a time and side by side.
    if (QCoreApplication::arguments().contains(QStringLiteral("parallel"))) {
        Database::open(dir.filePath(QStringLiteral("Fleet.db")));
        const bool met = parallelPoll();
        Database::close();
        return met ? 0 : 1;
    }
    Database::open(dir.filePath(QStringLiteral("Empty.db")));
    bool met = largeControlRequest();
    Database::open(dir.filePath(QStringLiteral("KavioCC.db")));
    met &= drainQueue();
    met &= silentUnit();
    met &= lockedDatabase();
    Database::open(dir.filePath(QStringLiteral("Fleet.db")));
    met &= parallelPoll();
    Database::close();
    return met ? 0 : 1;
}
