#pragma once

#include "CommandEntry.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

class QLocalSocket;
class QTimer;

namespace kavio {

class TCommandEngine;

// A control center's window that follows the program serving the units (the service kaviod):
// it subscribes on the control socket, hands every entry its engine is given to that program's
// queue, and replays what that program reports (log lines, finished exchanges, status writes,
// the queue's length) through the engine's signals, so the window's log, list, notices and
// status bar work as if the exchanges ran here. Timer events and changes come out as signals of
// their own.
//
// Nothing here waits: the connection, the subscription and every line go through the event
// loop. If the serving program ends or cannot be reached, ended() is emitted once and the engine
// serves the units itself again (nothing is queued there meanwhile; whoever takes over decides).
class ServiceClient : public QObject {
    Q_OBJECT

public:
    // The program has this long to answer the subscription.
    static constexpr int HelloTimeoutMs = 2000;

    ServiceClient(TCommandEngine& engine, QObject* parent = nullptr);
    ~ServiceClient() override;

    // Connects to the control socket of that name and subscribes; from now on the engine's
    // entries go there.
    void follow(const QString& serverName);
    bool following() const { return m_helloSeen && m_socket; }
    QString program() const { return m_program; }
    qint64 pid() const { return m_pid; }
    // Today's timer events that the serving program fired or missed, as it told.
    const QSet<QString>& servedToday() const { return m_served; }

public slots:
    // The units, groups or timers were changed here: the serving program rereads them.
    void announceChange();
    // The settings file was changed here: the serving program reads it again.
    void announceSettings();

signals:
    // The subscription was answered.
    void followed(const QString& program, qint64 pid);
    // A timer event fired in the serving program; a new day began there; its timers were
    // computed again.
    void fired(const QString& key);
    void dayBegan();
    void timersComputed();
    // Another program changed the units, groups or timers, or the settings file.
    void storeChanged();
    void settingsChanged();
    // The serving program ended, closed the subscription or never answered it.
    void ended();

private:
    void read();
    void flush();
    void send(const QByteArray& line);
    void end();

    TCommandEngine& m_engine;
    QLocalSocket* m_socket = nullptr;
    QTimer* m_helloTimer;
    QTimer* m_flushTimer;
    QList<TCommandEntry> m_outgoing;
    bool m_helloSeen = false;
    QString m_program;
    qint64 m_pid = 0;
    QSet<QString> m_served;
};

} // namespace kavio
