#pragma once

#include "CommandEngine.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <memory>

class QTimer;

namespace kavio {
class ControlServer;
class HistoryPruner;
class HistoryWriter;
class TimerFiring;
} // namespace kavio

namespace kavio::service {

// Everything the control center runs apart from its windows: the queue with its exchange, the
// polling on "Poll/Mode", the timers, the control socket for kavioctl and the status reset at
// start. The exchange's log goes to standard error.
class KavioService : public QObject {
    Q_OBJECT

public:
    static constexpr int PollTickMs = 1000;
    static constexpr int TimerTickMs = 1000;
    // The longest an exchange under way may still take when the service is told to end: a
    // connect, the reply limit and a little for the statuses to be written.
    static constexpr int DrainMs = TCommandEngine::ConnectTimeoutMs + TCommandEngine::ReplyLimitMs +
                                   2 * TCommandEngine::StoreRetryMs;

    // Expects the database open and its lock held. Changes nothing in the store yet, so that a
    // start refused for another reason (an HTTP option) leaves every record as it was.
    explicit KavioService(const QString& databasePath, QObject* parent = nullptr);
    ~KavioService() override;

    // Resets every status to unknown, recomputes the timers, and starts polling, the timers and
    // the control socket; false when kavioctl cannot be served. Throws DatabaseError when the
    // store refuses.
    bool start();
    // Reads the settings file again: the poll interval, the exchanges at once, the timers' bound.
    void reload();
    // Holds the queue, lets the exchanges under way end (at most DrainMs) and emits finished.
    void stop();

    TCommandEngine& engine() { return m_engine; }
    int pollMode() const { return m_pollMode; }
    // Queues a Query for every unit, by key.
    void pollAll(CommandSource source);

signals:
    // stop() is done: every status that could be written is.
    void finished();

private:
    void pollTick();
    void drainCheck();

    TCommandEngine m_engine;
    QString m_databasePath;
    HistoryWriter* m_history;
    HistoryPruner* m_pruner;
    TimerFiring* m_firing = nullptr;
    ControlServer* m_control = nullptr;
    QTimer* m_pollTimer;
    QTimer* m_timerTick;
    QTimer* m_drainTimer = nullptr;
    int m_pollMode = 2;
    bool m_firstPoll = true;
    bool m_stopping = false;
    QDateTime m_lastCheckedMinute;
    qint64 m_stopStartedMs = 0;
};

} // namespace kavio::service
