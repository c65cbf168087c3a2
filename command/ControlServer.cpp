#include "ControlServer.h"

#include "CommandEngine.h"
#include "ControlProtocol.h"
#include "LocalListener.h"

#include <QLocalSocket>
#include <QTimer>

namespace kavio {

ControlServer::ControlServer(const QString& databasePath, TCommandEngine& engine, QObject* parent)
    : QObject(parent)
    , m_names(databasePath)
    , m_engine(engine)
    , m_listener(new LocalListener(m_names.controlServerName(), this)) {
    connect(&m_engine, &TCommandEngine::exchangeFinished, this, &ControlServer::answer);
    connect(m_listener, &LocalListener::connected, this, &ControlServer::accept);
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

// One request per connection. Its entries join the queue behind everything queued already.
void ControlServer::readRequest(QLocalSocket* caller) {
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
    if (request->refresh) {
        caller->write(control::encodeAccepted(0));
        emit storeChanged();
        return;
    }
    caller->write(control::encodeAccepted(int(request->entries.size())));
    m_pending.append(Pending{caller, request->entries, 0});
    if (m_pending.size() == 1)
        queueSlice();
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
        m_waiting.insert(m_engine.AddToQueue(wanted.Index, wanted.Task, CommandSource::Kavioctl),
                         Waiting{request.caller, request.next});
    }
    if (request.next == request.entries.size())
        m_pending.removeFirst();
    m_engine.StartQueue();
    if (!m_pending.isEmpty())
        QTimer::singleShot(0, this, &ControlServer::queueSlice);
}

// A caller that has gone no longer hears of its entries; they are served all the same.
void ControlServer::answer(const TCommandResult& result) {
    const auto waiting = m_waiting.constFind(result.Ticket);
    if (waiting == m_waiting.cend())
        return;
    if (QLocalSocket* caller = waiting->caller; caller && caller->isOpen())
        caller->write(control::encodeResult(waiting->entry, result));
    m_waiting.erase(waiting);
}

} // namespace kavio
