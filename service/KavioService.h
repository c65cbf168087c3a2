#pragma once

#include "CommandEngine.h"
#include "ServingCore.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <memory>

class QTimer;

namespace kavio::service {

// The serving core run alone, without a window: the queue with its exchange, the polling on
// "Poll/Mode", the timers, the control socket for kavioctl and the status reset at start, and an
// orderly end. The exchange's log goes to standard error.
class KavioService : public QObject {
    Q_OBJECT

public:
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

    TCommandEngine& engine() { return m_core.engine(); }
    int pollMode() const { return m_core.settings().pollMode; }

signals:
    // stop() is done: every status that could be written is.
    void finished();

private:
    void drainCheck();

    ServingCore m_core;
    QString m_databasePath;
    QTimer* m_drainTimer = nullptr;
    bool m_stopping = false;
    qint64 m_stopStartedMs = 0;
};

} // namespace kavio::service
