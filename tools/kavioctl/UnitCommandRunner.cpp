#include "UnitCommandRunner.h"

#include "CommandEngine.h"
#include "ControlCharacters.h"
#include "ControlProtocol.h"
#include "Database.h"
#include "InstanceNames.h"
#include "LocalListener.h"
#include "ServingCore.h"
#include "UnitDirectory.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QLocalSocket>
#include <QLockFile>
#include <QTextStream>
#include <QThread>
#include <QTimer>

namespace kavio::ctl {
namespace {

// How often a waiting kavioctl looks whether the other one is done, and how often a connection
// to a control center that is still starting is tried again.
constexpr int LockPollMs = 200;
constexpr int ConnectRetryMs = 50;
// The longest one exchange may take once it has started: the connect limit and the reply limit.
constexpr int ExchangeAllowanceMs = TCommandEngine::ConnectTimeoutMs + TCommandEngine::ReplyLimitMs;

QString databaseName() {
    return escapeControlCharacters(QDir::toNativeSeparators(Database::path()));
}

// Reads one line, waiting until `deadline` (which may be forever); empty when none came in time,
// the line is too long, or the connection ended.
QByteArray readLine(QLocalSocket& socket, const QDeadlineTimer& deadline) {
    while (!socket.canReadLine()) {
        if (socket.bytesAvailable() > control::MaxLineBytes || deadline.hasExpired())
            return {};
        // Sleeps until bytes come; false when the time is up or the other side has gone.
        const qint64 left = deadline.remainingTime();
        if (!socket.waitForReadyRead(deadline.isForever() ? -1 : int(qMax<qint64>(1, left))) &&
            !socket.canReadLine())
            return {};
    }
    return socket.readLine(control::MaxLineBytes + 1);
}

} // namespace

namespace {
int exchangesAtOnce = 1;
} // namespace

void UnitCommandRunner::setExchangesAtOnce(int exchanges) {
    exchangesAtOnce = exchanges;
}

UnitCommandRunner::UnitCommandRunner(QTextStream& err, int waitMs)
    : m_err(err)
    , m_waitMs(waitMs) {}

bool UnitCommandRunner::run(const QList<TCommandEntry>& commands, const ResultHandler& handler) {
    if (commands.isEmpty())
        return true;
    const InstanceNames names(Database::path());
    if (!names.error().isEmpty()) {
        m_err << "kavioctl: " << escapeControlCharacters(names.error()) << "; nothing was sent\n";
        return false;
    }
    const std::unique_ptr<QLockFile> lock = names.makeLock();
    const QDeadlineTimer deadline(m_waitMs);
    bool toldWaiting = false;
    for (;;) {
        if (lock->tryLock(0))
            return runOwnEngine(commands, handler);
        if (!InstanceNames::heldByKavioctl(*lock)) {
            if (lock->tryLock(0)) // the holder ended just now
                return runOwnEngine(commands, handler);
            return runInControlCenter(commands, handler,
                                      InstanceNames::heldByService(*lock)
                                          ? InstanceNames::ServiceProgram
                                          : QStringLiteral("the Kavio Control Center"));
        }
        if (deadline.hasExpired()) {
            m_err << "kavioctl: the other kavioctl still serves the units of " << databaseName()
                  << " after " << m_waitMs / 1000 << " s; nothing was sent\n";
            return false;
        }
        if (!toldWaiting) {
            qint64 pid = 0;
            lock->getLockInfo(&pid, nullptr, nullptr);
            m_err << "kavioctl: waiting up to " << m_waitMs / 1000
                  << " s for another kavioctl (pid " << pid << ") serving the units of "
                  << databaseName() << '\n';
            m_err.flush();
            toldWaiting = true;
        }
        QThread::msleep(LockPollMs);
    }
}

bool UnitCommandRunner::runOwnEngine(const QList<TCommandEntry>& commands,
                                     const ResultHandler& handler) {
    // The engine and the history of the serving core: every exchange goes into the history too,
    // and what still waits is written when the run ends.
    ServingCore core;
    TCommandEngine& engine = core.engine();
    engine.setParallel(exchangesAtOnce);
    // A unit that keeps cycling is asked again for --wait, as the follow-ups are waited for.
    engine.setCycleLimit(m_waitMs);
    QEventLoop loop;
    QHash<quint64, int> entryOf;
    bool storeGaveUp = false;
    bool cyclingGaveUp = false;
    bool done = false;
    QTimer storeWait;
    storeWait.setSingleShot(true);
    storeWait.setInterval(m_waitMs);
    QTimer cycleWait;
    cycleWait.setSingleShot(true);
    cycleWait.setInterval(m_waitMs);
    QHash<quint16, QString> names;
    // Units the engine stopped asking, still cycling.
    QList<quint16> leftCycling;

    // Done when every command has its result, the queue holds nothing more than the entry just
    // finished (a "CYCLE" reply queues a query that is still served), and every status is in.
    // Follow-up queries get their own time, from the last command's result on.
    auto checkDone = [&] {
        if (!entryOf.isEmpty())
            return;
        if (engine.unfinishedCount() > 0) {
            if (!cycleWait.isActive())
                cycleWait.start();
            return;
        }
        if (engine.unstoredStatuses().isEmpty()) {
            done = true;
            loop.quit();
        } else if (!storeWait.isActive())
            storeWait.start();
    };
    QObject::connect(&engine, &TCommandEngine::exchangeFinished, &loop,
                     [&](const TCommandResult& result) {
                         names.insert(result.Index, result.Name);
                         if (result.StillCycling && !leftCycling.contains(result.Index))
                             leftCycling << result.Index;
                         const auto entry = entryOf.constFind(result.Ticket);
                         if (entry != entryOf.cend()) {
                             handler(entry.value(), result);
                             entryOf.erase(entry);
                         }
                         checkDone();
                     });
    QObject::connect(&engine, &TCommandEngine::statusChanged, &loop, checkDone);
    QObject::connect(&engine, &TCommandEngine::storeFailed, &loop, [this](const QString& message) {
        m_err << "kavioctl: " << escapeControlCharacters(message) << '\n';
        m_err.flush();
    });
    QObject::connect(&engine, &TCommandEngine::recordRefused, &loop,
                     [this](const QString& message) {
                         m_err << "kavioctl: " << escapeControlCharacters(message) << '\n';
                         m_err.flush();
                     });
    QObject::connect(&storeWait, &QTimer::timeout, &loop, [&] {
        storeGaveUp = true;
        loop.quit();
    });
    QObject::connect(&cycleWait, &QTimer::timeout, &loop, [&] {
        cyclingGaveUp = true;
        loop.quit();
    });

    for (int entry = 0; entry < commands.size(); ++entry)
        entryOf.insert(
            engine.AddToQueue(commands[entry].Index, commands[entry].Task, CommandSource::Kavioctl),
            entry);
    engine.StartQueue();
    // Entries whose unit is gone end at once, before the loop runs.
    if (!done)
        loop.exec();

    if (cyclingGaveUp || !leftCycling.isEmpty()) {
        // The units with a follow-up query still waiting or under way, or left cycling.
        QList<quint16> cycling = leftCycling;
        for (const TCommandEntry& entry : engine.unfinished()) {
            if (!cycling.contains(entry.Index))
                cycling << entry.Index;
        }
        for (const quint16 index : std::as_const(cycling))
            m_err << "kavioctl: " << escapeControlCharacters(names.value(index))
                  << ": still CYCLE after " << m_waitMs / 1000
                  << " s of asking again; it is left so\n";
    }
    if (!engine.unstoredStatuses().isEmpty() || storeGaveUp) {
        m_err << "kavioctl: the statuses of " << engine.unstoredStatuses().size()
              << " unit(s) could not be written to " << databaseName() << '\n';
        return false;
    }
    return !cyclingGaveUp && leftCycling.isEmpty();
}

bool UnitCommandRunner::runInControlCenter(const QList<TCommandEntry>& commands,
                                           const ResultHandler& handler, const QString& program) {
    const InstanceNames names(Database::path());
    const QDeadlineTimer deadline(control::AnswerTimeoutMs);
    QLocalSocket socket;
    // The control center may still be starting: it listens once its windows exist.
    for (;;) {
        socket.connectToServer(names.controlServerName());
        if (socket.waitForConnected(int(qMax<qint64>(1, deadline.remainingTime()))))
            break;
        if (deadline.hasExpired()) {
            m_err << "kavioctl: " << program << " running on " << databaseName()
                  << " does not answer; nothing was sent\n";
            return false;
        }
        QThread::msleep(ConnectRetryMs);
    }
    // Only a control center of this user is told anything or believed.
    if (!peerIsThisUser(socket)) {
        m_err << "kavioctl: the program answering on "
              << escapeControlCharacters(QDir::toNativeSeparators(names.controlServerName()))
              << " runs as another user; nothing was sent\n";
        return false;
    }
    socket.write(control::encodeRequest(control::Request{commands, false}));
    const std::optional<control::Answer> accepted =
        control::decodeAnswer(readLine(socket, deadline));
    if (!accepted || accepted->kind != control::Answer::Kind::Accepted ||
        accepted->count != commands.size()) {
        if (accepted && accepted->kind == control::Answer::Kind::Error)
            m_err << "kavioctl: " << program
                  << " refused the commands: " << escapeControlCharacters(accepted->message)
                  << '\n';
        else
            m_err << "kavioctl: " << program << " running on " << databaseName()
                  << " does not answer; nothing was sent\n";
        return false;
    }

    // The commands are in its queue now. Each result is waited for at most --wait, plus the time
    // one exchange may take: a long queue ahead of them is reported instead of waited out, and
    // the commands stay queued there.
    const int resultWaitMs = m_waitMs + ExchangeAllowanceMs;
    qsizetype missing = commands.size();
    QDeadlineTimer nextResult(resultWaitMs);
    while (missing > 0) {
        const QByteArray line = readLine(socket, nextResult);
        if (line.isEmpty())
            break;
        nextResult.setRemainingTime(resultWaitMs);
        const std::optional<control::Answer> answer = control::decodeAnswer(line);
        if (!answer || answer->kind != control::Answer::Kind::Result ||
            answer->entry >= commands.size())
            continue;
        handler(answer->entry, answer->result);
        --missing;
    }
    if (missing > 0 && nextResult.hasExpired()) {
        m_err << "kavioctl: " << program << " has not served " << missing << " command(s) within "
              << resultWaitMs / 1000
              << " s; they stay in its queue and are sent when their turn comes\n";
        return false;
    }
    if (missing > 0) {
        m_err << "kavioctl: " << program << " ended before " << missing
              << " command(s) were served\n";
        return false;
    }
    return true;
}

void UnitCommandRunner::announceStoreChanged() {
    const InstanceNames names(Database::path());
    const std::unique_ptr<QLockFile> lock = names.makeLock();
    if (lock->tryLock(0) || InstanceNames::heldByKavioctl(*lock))
        return; // no control center: nobody to tell
    QLocalSocket socket;
    socket.connectToServer(names.controlServerName());
    if (!socket.waitForConnected(control::AnswerTimeoutMs) || !peerIsThisUser(socket))
        return;
    socket.write(control::encodeRequest(control::Request{{}, true}));
    readLine(socket, QDeadlineTimer(control::AnswerTimeoutMs));
}

} // namespace kavio::ctl
