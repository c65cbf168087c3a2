#pragma once

#include "CommandSource.h"
#include "InstanceNames.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <functional>

class QTimer;

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
// A caller may subscribe instead: it then hears of every log line, exchange, status write, timer
// event and change (ControlNotice.h) for as long as it stays, and may send any number of
// requests, which are not answered. A control center whose window follows the service is such
// a subscriber.
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
    // A subscriber that lets this much go unread is closed: it cannot hold up the queue or fill
    // memory. It may subscribe again.
    static constexpr qint64 MaxSubscriberBacklog = 16 * 1024 * 1024;
    // How often the queue's length is looked at for subscribers, and status writes gathered.
    static constexpr int NoticeIntervalMs = 100;

    ControlServer(const QString& databasePath, TCommandEngine& engine, QObject* parent = nullptr);
    ~ControlServer() override;

    // Starts listening; the caller holds the file's lock, so a socket left there is stale.
    bool listen();
    QString serverName() const { return m_names.controlServerName(); }
    // The listener itself, for a test that makes it stop as Qt does when an accept fails.
    LocalListener& listener() { return *m_listener; }
    // For a test that does not want to wait IdleTimeoutMs.
    void setIdleTimeout(int ms) { m_idleTimeoutMs = ms; }

    // Who serves the units, as subscribers are told ("kaviod", "kaviocc").
    void setProgramName(const QString& name) { m_programName = name; }
    // Today's timer events served already, for a new subscriber.
    void setServedToday(std::function<QStringList()> served) { m_servedToday = std::move(served); }
    int subscriberCount() const { return int(m_subscribers.size()); }

public slots:
    // Tell the subscribers: a timer event fired; a new day began; the timers were computed
    // again; the units, groups or timers were changed here.
    void notifyFired(const QString& key);
    void notifyDayBegan();
    void notifyTimers();
    void notifyChanged();
    // The settings file was changed here.
    void notifySettings();

signals:
    // A caller changed the units, groups or timers (an import, an edit in a window that follows
    // this program): they are to be read again.
    void storeChanged();
    // A caller changed the settings file: it is to be read again.
    void settingsChanged();

private:
    struct Waiting {
        QPointer<QLocalSocket> caller;
        int entry = 0;
    };
    struct Pending {
        QPointer<QLocalSocket> caller;
        QList<TCommandEntry> entries;
        int next = 0;
        bool answered = true; // each entry's result goes back to the caller
    };

    void accept(QLocalSocket* caller);
    void readRequest(QLocalSocket* caller);
    void serveSubscriber(QLocalSocket* subscriber);
    void subscribe(QLocalSocket* caller);
    void queueSlice();
    void answer(const TCommandResult& result);
    void broadcast(const QByteArray& line, const QLocalSocket* except = nullptr);
    void noticeTick();

    QString m_programName = QStringLiteral("kaviocc");
    std::function<QStringList()> m_servedToday;
    QList<QPointer<QLocalSocket>> m_subscribers;
    QTimer* m_noticeTimer = nullptr;
    bool m_statusPending = false;
    int m_lastQueueLength = 0;
    CommandSource m_lastQueueHead = CommandSource::Button;

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
