#include "ControlServer.h"

#include "CommandEngine.h"
#include "ControlNotice.h"
#include "ControlProtocol.h"
#include "LocalListener.h"

#include <QCoreApplication>
#include <QLocalSocket>
#include <QTimer>

namespace kavio {

ControlServer::ControlServer(const QString& databasePath, TCommandEngine& engine, QObject* parent)
    : QObject(parent)
    , m_names(databasePath)
    , m_engine(engine)
    , m_listener(new LocalListener(m_names.controlServerName(), this)) {
    m_noticeTimer = new QTimer(this);
    connect(&m_engine, &TCommandEngine::exchangeFinished, this, &ControlServer::answer);
    connect(m_listener, &LocalListener::connected, this, &ControlServer::accept);
    connect(&m_engine, &TCommandEngine::loggedLine, this, [this](const TLogLine& line) {
        if (!m_subscribers.isEmpty()) {
            control::Notice notice{control::Notice::Kind::Log};
            notice.log = line;
            broadcast(control::encodeNotice(notice));
        }
    });
    connect(&m_engine, &TCommandEngine::statusChanged, this, [this] { m_statusPending = true; });
    m_noticeTimer->setInterval(NoticeIntervalMs);
    connect(m_noticeTimer, &QTimer::timeout, this, &ControlServer::noticeTick);
}

ControlServer::~ControlServer() = default;

bool ControlServer::listen() {
    return !serverName().isEmpty() && m_listener->listen();
}

void ControlServer::accept(QLocalSocket* caller) {
    if (m_clients >= MaxClients) {
        caller->write(control::encodeError(
            QStringLiteral("the control center is serving %1 other callers; try again later")
                .arg(MaxClients)));
        caller->disconnectFromServer();
        return;
    }
    ++m_clients;
    connect(caller, &QObject::destroyed, this, [this] { --m_clients; });
    caller->setReadBufferSize(control::MaxLineBytes + 1);
    auto* idle = new QTimer(caller);
    idle->setObjectName(QStringLiteral("idle"));
    idle->setSingleShot(true);
    connect(idle, &QTimer::timeout, caller, [caller] {
        caller->write(control::encodeError(QStringLiteral("no complete request came in time")));
        caller->disconnectFromServer();
    });
    idle->start(m_idleTimeoutMs);
    connect(caller, &QLocalSocket::readyRead, this, [this, caller] { readRequest(caller); });
    if (caller->bytesAvailable() > 0)
        readRequest(caller);
}

// One request per connection, unless it subscribes. Its entries join the queue behind everything
// queued already.
void ControlServer::readRequest(QLocalSocket* caller) {
    if (m_subscribers.contains(caller)) {
        serveSubscriber(caller);
        return;
    }
    if (caller->property("answered").toBool())
        return;
    if (!caller->canReadLine()) {
        if (caller->bytesAvailable() > control::MaxLineBytes) {
            caller->write(control::encodeError(QStringLiteral("the request is too long")));
            caller->disconnectFromServer();
        }
        return;
    }
    caller->setProperty("answered", true);
    delete caller->findChild<QTimer*>(QStringLiteral("idle"));
    QString error;
    const std::optional<control::Request> request =
        control::decodeRequest(caller->readLine(control::MaxLineBytes + 1), &error);
    if (!request) {
        caller->write(control::encodeError(error));
        caller->disconnectFromServer();
        return;
    }
    if (request->subscribe) {
        subscribe(caller);
        serveSubscriber(caller);
        return;
    }
    if (request->refresh || request->settings) {
        caller->write(control::encodeAccepted(0));
        if (request->refresh)
            notifyChanged();
        else
            notifySettings();
        if (request->refresh)
            emit storeChanged();
        else
            emit settingsChanged();
        return;
    }
    // The queue takes the whole request or none of it, counting what earlier requests still
    // have to queue.
    QList<TCommandEntry> wanted;
    for (const Pending& earlier : std::as_const(m_pending))
        wanted += earlier.entries.mid(earlier.next);
    wanted += request->entries;
    if (const TCommandEngine::Refusal refusal = m_engine.wouldRefuse(wanted);
        refusal != TCommandEngine::Refusal::None) {
        caller->write(control::encodeError(TCommandEngine::refusalText(refusal, QString())));
        caller->disconnectFromServer();
        return;
    }
    caller->write(control::encodeAccepted(int(request->entries.size())));
    m_pending.append(Pending{caller, request->entries, 0});
    if (m_pending.size() == 1)
        queueSlice();
}

void ControlServer::subscribe(QLocalSocket* caller) {
    m_subscribers.append(caller);
    connect(caller, &QObject::destroyed, this, [this] { m_subscribers.removeAll(nullptr); });
    control::Notice hello{control::Notice::Kind::Hello};
    hello.program = m_programName;
    hello.pid = QCoreApplication::applicationPid();
    if (m_servedToday)
        hello.served = m_servedToday();
    caller->write(control::encodeNotice(hello));
    control::Notice queue{control::Notice::Kind::Queue};
    queue.queueLength = m_lastQueueLength = m_engine.queueLength();
    queue.queueHead = m_lastQueueHead = m_engine.queueHead();
    caller->write(control::encodeNotice(queue));
    m_noticeTimer->start();
}

// A subscriber's requests are not answered: what they cause comes back as notices. Its own
// announcements are not told back to it.
void ControlServer::serveSubscriber(QLocalSocket* subscriber) {
    while (subscriber->canReadLine()) {
        QString error;
        const std::optional<control::Request> request =
            control::decodeRequest(subscriber->readLine(control::MaxLineBytes + 1), &error);
        if (!request) {
            subscriber->write(control::encodeError(error));
        } else if (request->refresh) {
            broadcast(control::encodeNotice({control::Notice::Kind::Changed}), subscriber);
            emit storeChanged();
        } else if (request->settings) {
            broadcast(control::encodeNotice({control::Notice::Kind::Settings}), subscriber);
            emit settingsChanged();
        } else if (!request->entries.isEmpty()) {
            m_pending.append(Pending{subscriber, request->entries, 0, false});
            if (m_pending.size() == 1)
                queueSlice();
        }
    }
    if (subscriber->bytesAvailable() > control::MaxLineBytes) {
        subscriber->write(control::encodeError(QStringLiteral("the request is too long")));
        subscriber->disconnectFromServer();
    }
}

void ControlServer::broadcast(const QByteArray& line, const QLocalSocket* except) {
    m_subscribers.removeAll(nullptr);
    for (const QPointer<QLocalSocket>& subscriber : std::as_const(m_subscribers)) {
        if (subscriber == except || subscriber->state() != QLocalSocket::ConnectedState)
            continue;
        if (subscriber->bytesToWrite() > MaxSubscriberBacklog) {
            subscriber->abort();
            continue;
        }
        subscriber->write(line);
    }
}

// Status writes come in bursts: subscribers hear of them at most once per interval, as they do
// of the queue's length, which changes without a signal.
void ControlServer::noticeTick() {
    m_subscribers.removeAll(nullptr);
    if (m_subscribers.isEmpty()) {
        m_noticeTimer->stop();
        return;
    }
    if (m_statusPending) {
        m_statusPending = false;
        broadcast(control::encodeNotice({control::Notice::Kind::Status}));
    }
    const int length = m_engine.queueLength();
    const CommandSource head = m_engine.queueHead();
    if (length != m_lastQueueLength || (length > 0 && head != m_lastQueueHead)) {
        m_lastQueueLength = length;
        m_lastQueueHead = head;
        control::Notice queue{control::Notice::Kind::Queue};
        queue.queueLength = length;
        queue.queueHead = head;
        broadcast(control::encodeNotice(queue));
    }
}

void ControlServer::notifyFired(const QString& key) {
    control::Notice fired{control::Notice::Kind::Fired};
    fired.key = key;
    broadcast(control::encodeNotice(fired));
}

void ControlServer::notifyDayBegan() {
    broadcast(control::encodeNotice({control::Notice::Kind::DayBegan}));
}

void ControlServer::notifyTimers() {
    broadcast(control::encodeNotice({control::Notice::Kind::Timers}));
}

void ControlServer::notifySettings() {
    broadcast(control::encodeNotice({control::Notice::Kind::Settings}));
}

void ControlServer::notifyChanged() {
    broadcast(control::encodeNotice({control::Notice::Kind::Changed}));
}

// Queues the next slice of the oldest request; the rest follows from the event loop. A caller
// that has gone meanwhile still has its entries served.
void ControlServer::queueSlice() {
    if (m_pending.isEmpty())
        return;
    Pending& request = m_pending.first();
    const int end = std::min(request.next + EntriesPerTurn, int(request.entries.size()));
    for (; request.next < end; ++request.next) {
        const TCommandEntry& wanted = request.entries.at(request.next);
        const quint64 ticket = m_engine.AddToQueue(wanted.Index, wanted.Task, wanted.Source);
        if (ticket == 0) {
            // Others filled the queue meanwhile: the entry ends at once, unserved.
            if (request.answered && request.caller && request.caller->isOpen()) {
                TCommandResult refused;
                refused.Index = wanted.Index;
                refused.Task = wanted.Task;
                refused.Source = wanted.Source;
                request.caller->write(control::encodeResult(request.next, refused));
            }
            continue;
        }
        if (request.answered)
            m_waiting.insert(ticket, Waiting{request.caller, request.next});
    }
    if (request.next == request.entries.size())
        m_pending.removeFirst();
    m_engine.StartQueue();
    // Subscribers see the queue grow at once, however soon it is worked off.
    if (!m_subscribers.isEmpty())
        noticeTick();
    if (!m_pending.isEmpty())
        QTimer::singleShot(0, this, &ControlServer::queueSlice);
}

// A caller that has gone no longer hears of its entries; they are served all the same.
void ControlServer::answer(const TCommandResult& result) {
    if (!m_subscribers.isEmpty()) {
        control::Notice finished{control::Notice::Kind::Finished};
        finished.result = result;
        broadcast(control::encodeNotice(finished));
    }
    const auto waiting = m_waiting.constFind(result.Ticket);
    if (waiting == m_waiting.cend())
        return;
    if (QLocalSocket* caller = waiting->caller; caller && caller->isOpen())
        caller->write(control::encodeResult(waiting->entry, result));
    m_waiting.erase(waiting);
}

} // namespace kavio
