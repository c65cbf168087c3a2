#include "KavioService.h"

#include "HistoryPruner.h"
#include "HistoryRecorder.h"
#include "HistoryWriter.h"

#include "Clock.h"
#include "Codes.h"
#include "ControlServer.h"
#include "GlobalFunctions.h"
#include "PollRule.h"
#include "QueueSettings.h"
#include "ServiceLog.h"
#include "SettingsFile.h"
#include "Table.h"
#include "TimerFiring.h"
#include "UnitDirectory.h"

#include <QDateTime>
#include <QDir>
#include <QTimer>

namespace kavio::service {
namespace {} // namespace

KavioService::KavioService(const QString& databasePath, QObject* parent)
    : QObject(parent)
    , m_databasePath(databasePath)
    , m_history(new HistoryWriter(this))
    , m_pruner(new HistoryPruner(HistoryRetention::fromSettings(), this))
    , m_pollTimer(new QTimer(this))
    , m_timerTick(new QTimer(this)) {
    // Each line names its unit and address, as the control center's log does.
    connect(&m_engine, &TCommandEngine::loggedLine, this, [](const TLogLine& line) {
        logLine(line.Name.isEmpty() ? line.Text
                                    : QStringLiteral("%1 %2:%3 %4")
                                          .arg(line.Name, line.Address)
                                          .arg(line.Port)
                                          .arg(line.Text));
    });
    // Every exchange is kept in the history, as in the control center.
    RecordHistory(m_engine, *m_history);
    connect(m_history, &HistoryWriter::rowsLost, this, &logLine);
    connect(&m_engine, &TCommandEngine::connectionFailed, this,
            [](const QString& name) { logLine(QStringLiteral("Could Not Connect to: ") + name); });
    connect(&m_engine, &TCommandEngine::storeFailed, this, &logLine);
    connect(&m_engine, &TCommandEngine::recordRefused, this, &logLine);

    reload();

    m_pollTimer->setInterval(PollTickMs);
    connect(m_pollTimer, &QTimer::timeout, this, &KavioService::pollTick);
    m_timerTick->setTimerType(Qt::PreciseTimer);
    m_timerTick->setInterval(TimerTickMs);
    connect(m_timerTick, &QTimer::timeout, this, [this] { m_firing->serveUpTo(Clock::now()); });
}

KavioService::~KavioService() = default;

bool KavioService::start() {
    // Every unit starts as unknown until it answers, as in the control center.
    TTable master{QStringLiteral("Master.DB")};
    ResetAllStatuses(master);
    m_firing = new TimerFiring(m_engine, this);
    m_control = new ControlServer(m_databasePath, m_engine, this);
    m_control->setProgramName(QStringLiteral("kaviod"));
    m_control->setServedToday([this] { return m_firing->served(Clock::today()).values(); });
    // kavioctl, or a window that follows the service, changed units, groups or timers: the
    // timers may name other units, or be other timers, now.
    connect(m_control, &ControlServer::storeChanged, this, [this] {
        logLine(QStringLiteral("Units, groups or timers changed: timers read again"));
        m_firing->refresh();
        m_control->notifyTimers();
    });
    connect(m_control, &ControlServer::settingsChanged, this, &KavioService::reload);
    connect(m_firing, &TimerFiring::fired, m_control, &ControlServer::notifyFired);
    connect(m_firing, &TimerFiring::dayBegan, m_control, &ControlServer::notifyDayBegan);

    m_pruner->start();
    m_pollTimer->start();
    m_timerTick->start();
    if (!m_control->listen()) {
        logLine(QStringLiteral("kavioctl cannot reach the service: ") +
                QDir::toNativeSeparators(m_control->serverName()));
        return false;
    }
    return true;
}

void KavioService::reload() {
    const QSettings settings = settingsFile();
    m_pollMode = poll::readMode(settings);
    const ParallelSetting parallel = readParallelSetting(settings);
    if (!parallel.problem.isEmpty())
        logLine(parallel.problem);
    m_engine.setParallel(parallel.exchanges);
    if (m_firing)
        m_firing->refresh();
    if (m_control) {
        m_control->notifySettings();
        m_control->notifyTimers();
    }
    logLine(QStringLiteral("Settings read: Poll/Mode %1, Queue/Parallel %2")
                .arg(m_pollMode)
                .arg(parallel.exchanges));
}

void KavioService::pollAll(CommandSource source) {
    for (const UnitTarget& unit : directory::unitsByKey())
        m_engine.AddToQueue(unit.index, TaskQuery, source);
}

// The control center's rule: the first tick polls once; after that each minute is checked once,
// on its first tick, and the minute of the first poll needs no second one.
void KavioService::pollTick() {
    const QDateTime now = Clock::now();
    const QDateTime minute = poll::minuteOf(now);
    try {
        if (m_firstPoll) {
            m_firstPoll = false;
            m_lastCheckedMinute = minute;
            pollAll(CommandSource::Poll);
            return;
        }
        if (minute == m_lastCheckedMinute)
            return;
        m_lastCheckedMinute = minute;
        if (poll::timedPollDue(m_pollMode, now))
            pollAll(CommandSource::TimedPoll);
    } catch (const std::exception& error) {
        logLine(QString::fromUtf8(error.what()));
    }
}

void KavioService::stop() {
    if (m_stopping)
        return;
    m_stopping = true;
    m_pollTimer->stop();
    m_timerTick->stop();
    m_engine.setHeld(true);
    // An exchange under way that runs into its limit now is not tried again: the log says so.
    connect(&m_engine, &TCommandEngine::exchangeFinished, this, [](const TCommandResult& result) {
        if (result.TimedOut)
            logLine(QStringLiteral("Ending: %1 gave no reply in time: its exchange is given up")
                        .arg(result.Name));
    });
    const int waiting = m_engine.unfinishedCount() - m_engine.exchangesUnderWay();
    if (waiting > 0)
        logLine(QStringLiteral("Ending: %1 waiting command(s) are not sent").arg(waiting));
    m_stopStartedMs = QDateTime::currentMSecsSinceEpoch();
    m_drainTimer = new QTimer(this);
    m_drainTimer->setInterval(20);
    connect(m_drainTimer, &QTimer::timeout, this, &KavioService::drainCheck);
    m_drainTimer->start();
    drainCheck();
}

void KavioService::drainCheck() {
    const bool over = QDateTime::currentMSecsSinceEpoch() - m_stopStartedMs > DrainMs;
    if (!over && (m_engine.exchangesUnderWay() > 0 || !m_engine.unstoredStatuses().isEmpty()))
        return;
    m_drainTimer->stop();
    if (m_engine.exchangesUnderWay() > 0)
        logLine(QStringLiteral("Ending: an exchange under way was given up"));
    if (!m_engine.unstoredStatuses().isEmpty())
        logLine(QStringLiteral("Ending: the statuses of %1 unit(s) could not be written")
                    .arg(m_engine.unstoredStatuses().size()));
    try {
        m_history->flush();
    } catch (const std::exception& error) {
        logLine(QString::fromUtf8(error.what()));
    }
    emit finished();
}

} // namespace kavio::service
