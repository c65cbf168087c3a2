#include "ServingCore.h"

#include "Clock.h"
#include "Codes.h"
#include "ControlServer.h"
#include "HistoryPruner.h"
#include "HistoryRecorder.h"
#include "HistoryWriter.h"
#include "QueueSettings.h"
#include "SettingsFile.h"
#include "TimerFiring.h"
#include "UnitDirectory.h"

#include <QDateTime>
#include <QTimer>

namespace kavio {

ServingCore::ServingCore(QObject* parent)
    : QObject(parent)
    , m_history(new HistoryWriter(this))
    , m_pruner(new HistoryPruner(HistoryRetention::fromSettings(), this)) {
    // Every exchange is kept in the history, whichever program served it.
    RecordHistory(m_engine, *m_history);
}

// The rows that still wait are written before the core goes; a failure was reported as the
// rows were lost. The parts that refer to the engine go before it.
ServingCore::~ServingCore() {
    delete m_control;
    delete m_firing;
    try {
        m_history->flush();
    } catch (const std::exception&) {
    }
}

ServingCore::Settings ServingCore::readSettings() {
    const QSettings file = settingsFile();
    const ParallelSetting parallel = readParallelSetting(file);
    m_settings = Settings{poll::readMode(file), parallel.exchanges, parallel.problem};
    m_engine.setParallel(parallel.exchanges);
    if (m_firing)
        m_firing->refresh();
    emit settingsRead(m_settings);
    return m_settings;
}

void ServingCore::startPruning() {
    m_pruner->start();
}

void ServingCore::startPolling() {
    if (m_pollTimer)
        return;
    m_polls.arm();
    m_pollTimer = new QTimer(this);
    m_pollTimer->setInterval(PollTickMs);
    connect(m_pollTimer, &QTimer::timeout, this, &ServingCore::pollTick);
    m_pollTimer->start();
}

void ServingCore::pollAll(CommandSource source) {
    for (const quint16 index : directory::unitKeys())
        m_engine.AddToQueue(index, TaskQuery, source);
}

// A store that cannot be read now is logged; the next due poll tries again.
void ServingCore::pollTick() {
    try {
        if (const std::optional<CommandSource> source =
                m_polls.tick(Clock::now(), m_settings.pollMode))
            pollAll(*source);
    } catch (const std::exception& error) {
        emit m_engine.loggedLine(TLogLine{
            QDateTime::currentMSecsSinceEpoch(), {}, {}, 0, QString::fromUtf8(error.what())});
    }
}

TimerFiring& ServingCore::fireTimers() {
    if (m_firing)
        return *m_firing;
    m_firing = new TimerFiring(m_engine, this);
    if (m_control) {
        connect(m_firing, &TimerFiring::fired, m_control, &ControlServer::notifyFired);
        connect(m_firing, &TimerFiring::dayBegan, m_control, &ControlServer::notifyDayBegan);
    }
    m_timerTick = new QTimer(this);
    // The tick that serves a minute comes as near its start as the clock allows.
    m_timerTick->setTimerType(Qt::PreciseTimer);
    m_timerTick->setInterval(TimerTickMs);
    connect(m_timerTick, &QTimer::timeout, this, [this] { m_firing->serveUpTo(Clock::now()); });
    m_timerTick->start();
    return *m_firing;
}

bool ServingCore::serveControl(const QString& databasePath, const QString& programName,
                               std::function<QStringList()> servedToday) {
    delete m_control;
    m_control = new ControlServer(databasePath, m_engine, this);
    m_control->setProgramName(programName);
    m_control->setServedToday(std::move(servedToday));
    connect(m_control, &ControlServer::storeChanged, this, &ServingCore::storeChanged);
    connect(m_control, &ControlServer::settingsChanged, this, [this] {
        readSettings();
        emit settingsChanged();
    });
    if (m_firing) {
        connect(m_firing, &TimerFiring::fired, m_control, &ControlServer::notifyFired);
        connect(m_firing, &TimerFiring::dayBegan, m_control, &ControlServer::notifyDayBegan);
    }
    return m_control->listen();
}

void ServingCore::hold() {
    if (m_pollTimer)
        m_pollTimer->stop();
    if (m_timerTick)
        m_timerTick->stop();
    m_engine.setHeld(true);
}

} // namespace kavio
