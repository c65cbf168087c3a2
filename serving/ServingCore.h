#pragma once

#include "CommandEngine.h"
#include "PollRule.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class QTimer;

namespace kavio {

class ControlServer;
class HistoryPruner;
class HistoryWriter;
class TimerFiring;

// What every program that serves the units runs, whatever shows it: the queue with its exchange,
// the history of every exchange and its pruning, the rereading of the settings, the poll's
// clock, the firing of the timers and the control socket for kavioctl and the windows that
// follow. The control center's window, the service kaviod and kavioctl (when nobody else serves
// the units) each make one and start the parts they use:
//
// - kavioctl: the engine and the history alone;
// - the window: and the pruning and the control socket; its Poll menu and its timer runner tick
//   the polls and the timers on the window's own clocks;
// - the service: all of it, polling on "Poll/Mode" and firing the timers on its own ticks.
//
// The history still waiting is written when the core goes.
class ServingCore : public QObject {
    Q_OBJECT

public:
    static constexpr int PollTickMs = 1000;
    static constexpr int TimerTickMs = 1000;

    explicit ServingCore(QObject* parent = nullptr);
    ~ServingCore() override;

    TCommandEngine& engine() { return m_engine; }
    HistoryWriter& history() { return *m_history; }

    // What the settings file said at the last reading.
    struct Settings {
        int pollMode = poll::NeverMode;
        int exchanges = 1;
        QString problem; // a value that is not a setting, and what was taken instead
    };
    // Reads "Poll/Mode" and "Queue/Parallel" again; the engine takes the number of exchanges at
    // once, and the timers (when fired here) their bound. Emits settingsRead.
    Settings readSettings();
    const Settings& settings() const { return m_settings; }

    // Keeps the history within its retention from now on.
    void startPruning();

    // Polls on its own tick by "Poll/Mode": a first poll at the first tick, then timed polls.
    void startPolling();
    // Queues a Query for every unit, by key.
    void pollAll(CommandSource source);

    // Fires the timers on its own tick; made at the first call (which recomputes every timer's
    // next event date).
    TimerFiring& fireTimers();
    TimerFiring* timers() const { return m_firing; }

    // Listens on the control socket of the database at `databasePath` as `programName`; a
    // client's announcements come back as storeChanged and settingsChanged (the settings are
    // read again first), and the timers fired here are announced to subscribers. `servedToday`
    // gives the events fired or missed today. False when kavioctl cannot be served; the server
    // is kept either way.
    bool serveControl(const QString& databasePath, const QString& programName,
                      std::function<QStringList()> servedToday);
    ControlServer* control() const { return m_control; }

    // Stops the polls and the timers' ticks and holds the queue: nothing new starts.
    void hold();

signals:
    // The settings were read (readSettings).
    void settingsRead(const ServingCore::Settings& settings);
    // A client of the control socket changed units, groups or timers, or the settings.
    void storeChanged();
    void settingsChanged();

private:
    void pollTick();

    TCommandEngine m_engine;
    HistoryWriter* m_history;
    HistoryPruner* m_pruner;
    TimerFiring* m_firing = nullptr;
    ControlServer* m_control = nullptr;
    QTimer* m_pollTimer = nullptr;
    QTimer* m_timerTick = nullptr;
    poll::Schedule m_polls;
    Settings m_settings;
};

} // namespace kavio
