#include "KavioService.h"

#include "Clock.h"
#include "Codes.h"
#include "ControlServer.h"
#include "GlobalFunctions.h"
#include "HistoryWriter.h"
#include "ServiceLog.h"
#include "Table.h"
#include "TimerFiring.h"

#include <QDateTime>
#include <QDir>
#include <QTimer>

namespace kavio::service {

KavioService::KavioService(const QString& databasePath, QObject* parent)
    : QObject(parent)
    , m_databasePath(databasePath) {
    TCommandEngine& engine = m_core.engine();
    // Each line names its unit and address, as the control center's log does.
    connect(&engine, &TCommandEngine::loggedLine, this, [](const TLogLine& line) {
        logLine(line.Name.isEmpty() ? line.Text
                                    : QStringLiteral("%1 %2:%3 %4")
                                          .arg(line.Name, line.Address)
                                          .arg(line.Port)
                                          .arg(line.Text));
    });
    connect(&m_core.history(), &HistoryWriter::rowsLost, this, &logLine);
    connect(&engine, &TCommandEngine::connectionFailed, this,
            [](const QString& name) { logLine(QStringLiteral("Could Not Connect to: ") + name); });
    connect(&engine, &TCommandEngine::storeFailed, this, &logLine);
    connect(&engine, &TCommandEngine::recordRefused, this, &logLine);
    connect(&m_core, &ServingCore::settingsRead, this, [](const ServingCore::Settings& settings) {
        if (!settings.problem.isEmpty())
            logLine(settings.problem);
        logLine(QStringLiteral("Settings read: Poll/Mode %1, Queue/Parallel %2")
                    .arg(settings.pollMode)
                    .arg(settings.exchanges));
    });
    reload();
}

KavioService::~KavioService() = default;

bool KavioService::start() {
    // Every unit starts as unknown until it answers, as in the control center.
    TTable master{QStringLiteral("Master.DB")};
    ResetAllStatuses(master);
    TimerFiring& firing = m_core.fireTimers();
    // kavioctl, or a window that follows the service, changed units, groups or timers: the
    // timers may name other units, or be other timers, now.
    connect(&m_core, &ServingCore::storeChanged, this, [this, &firing] {
        logLine(QStringLiteral("Units, groups or timers changed: timers read again"));
        firing.refresh();
        m_core.control()->notifyTimers();
    });
    connect(&m_core, &ServingCore::settingsChanged, this, [this] {
        if (ControlServer* control = m_core.control()) {
            control->notifySettings();
            control->notifyTimers();
        }
    });
    m_core.startPruning();
    m_core.startPolling();
    if (!m_core.serveControl(m_databasePath, QStringLiteral("kaviod"),
                             [&firing] { return firing.served(Clock::today()).values(); })) {
        logLine(QStringLiteral("kavioctl cannot reach the service: ") +
                QDir::toNativeSeparators(m_core.control()->serverName()));
        return false;
    }
    return true;
}

// Subscribers hear of it too: a window that follows the service shows the new poll interval,
// and the timers' bound may have changed what was missed.
void KavioService::reload() {
    m_core.readSettings();
    if (ControlServer* control = m_core.control()) {
        control->notifySettings();
        control->notifyTimers();
    }
}

void KavioService::stop() {
    if (m_stopping)
        return;
    m_stopping = true;
    m_core.hold();
    TCommandEngine& engine = m_core.engine();
    // An exchange under way that runs into its limit now is not tried again: the log says so.
    connect(&engine, &TCommandEngine::exchangeFinished, this, [](const TCommandResult& result) {
        if (result.TimedOut)
            logLine(QStringLiteral("Ending: %1 gave no reply in time: its exchange is given up")
                        .arg(result.Name));
    });
    const int waiting = engine.unfinishedCount() - engine.exchangesUnderWay();
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
    const TCommandEngine& engine = m_core.engine();
    const bool over = QDateTime::currentMSecsSinceEpoch() - m_stopStartedMs > DrainMs;
    if (!over && (engine.exchangesUnderWay() > 0 || !engine.unstoredStatuses().isEmpty()))
        return;
    m_drainTimer->stop();
    if (engine.exchangesUnderWay() > 0)
        logLine(QStringLiteral("Ending: an exchange under way was given up"));
    if (!engine.unstoredStatuses().isEmpty())
        logLine(QStringLiteral("Ending: the statuses of %1 unit(s) could not be written")
                    .arg(engine.unstoredStatuses().size()));
    try {
        m_core.history().flush();
    } catch (const std::exception& error) {
        logLine(QString::fromUtf8(error.what()));
    }
    emit finished();
}

} // namespace kavio::service
