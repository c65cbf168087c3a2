#include "ControlServer.h"

#include "CommandEngine.h"
#include "ControlProtocol.h"

#include <QLocalServer>
#include <QLocalSocket>

namespace kavio {

ControlServer::ControlServer(const QString& databasePath, TCommandEngine& engine, QObject* parent)
    : QObject(parent)
    , m_names(databasePath)
    , m_engine(engine) {
    connect(&m_engine, &TCommandEngine::exchangeFinished, this, &ControlServer::answer);
}

ControlServer::~ControlServer() = default;

bool ControlServer::listen() {
    QLocalServer::removeServer(serverName());
    m_server = std::make_unique<QLocalServer>();
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server.get(), &QLocalServer::newConnection, this, &ControlServer::accept);
    return m_server->listen(serverName());
}

void ControlServer::accept() {
    while (QLocalSocket* caller = m_server->nextPendingConnection()) {
        caller->setParent(this);
        caller->setReadBufferSize(control::MaxLineBytes + 1);
        connect(caller, &QLocalSocket::readyRead, this, [this, caller] { readRequest(caller); });
        connect(caller, &QLocalSocket::disconnected, caller, &QObject::deleteLater);
    }
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
    for (int entry = 0; entry < request->entries.size(); ++entry) {
        const TCommandEntry& wanted = request->entries.at(entry);
        m_waiting.insert(m_engine.AddToQueue(wanted.Index, wanted.Task), Waiting{caller, entry});
    }
    m_engine.StartQueue();
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
