#pragma once

#include "InstanceNames.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>

class QLocalSocket;

namespace kavio {

class LocalListener;
class TCommandEngine;
struct TCommandEntry;
struct TCommandResult;

// The control center's end of the control socket: kavioctl hands its commands to the running
// program's queue here, so that units are still served one at a time and the commands show in
// the command log. Each entry's result goes back to the kavioctl that queued it as soon as its
// exchange ends.
//
// Only the user who runs the control center can connect. However callers behave, the socket
// stays reachable while the program runs: no more than MaxClients are served at once (the next
// is told so and closed), a caller that sends no complete request within IdleTimeoutMs is closed,
// and the server listens again should it ever stop.
class ControlServer : public QObject {
    Q_OBJECT

public:
    static constexpr int MaxClients = 64;
    static constexpr int IdleTimeoutMs = 10000;
    // A request's entries join the queue this many at a time, one slice per turn of the event
    // loop, so that a request naming every possible unit never freezes the window.
    static constexpr int EntriesPerTurn = 1024;

    ControlServer(const QString& databasePath, TCommandEngine& engine, QObject* parent = nullptr);
    ~ControlServer() override;

    // Starts listening; the caller holds the file's lock, so a socket left there is stale.
    bool listen();
    QString serverName() const { return m_names.controlServerName(); }
    // The listener itself, for a test that makes it stop as Qt does when an accept fails.
    LocalListener& listener() { return *m_listener; }
    // For a test that does not want to wait IdleTimeoutMs.
    void setIdleTimeout(int ms) { m_idleTimeoutMs = ms; }

signals:
    // kavioctl changed the units or groups (an import): the list is to be read again.
    void storeChanged();

private:
    struct Waiting {
        QPointer<QLocalSocket> caller;
        int entry = 0;
    };
    struct Pending {
        QPointer<QLocalSocket> caller;
        QList<TCommandEntry> entries;
        int next = 0;
    };

    void accept(QLocalSocket* caller);
    void readRequest(QLocalSocket* caller);
    void queueSlice();
    void answer(const TCommandResult& result);

    InstanceNames m_names;
    TCommandEngine& m_engine;
    LocalListener* m_listener;
    int m_clients = 0;
    int m_idleTimeoutMs = IdleTimeoutMs;
    // Queued entries whose caller waits for them, by ticket.
    QHash<quint64, Waiting> m_waiting;
    // Requests whose entries are still being queued, in the order they came.
    QList<Pending> m_pending;
};

} // namespace kavio
