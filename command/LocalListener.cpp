#include "LocalListener.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>
#include <sys/socket.h>
#include <unistd.h>

namespace kavio {

bool peerIsThisUser(const QLocalSocket& socket) {
    struct ucred peer {};
    socklen_t size = sizeof peer;
    const qintptr descriptor = socket.socketDescriptor();
    return descriptor >= 0 &&
           ::getsockopt(int(descriptor), SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 &&
           size == sizeof peer && peer.uid == ::geteuid();
}

LocalListener::LocalListener(QString name, QObject* parent)
    : QObject(parent)
    , m_name(std::move(name))
    , m_watch(new QTimer(this)) {
    m_watch->setInterval(RelistenMs);
    connect(m_watch, &QTimer::timeout, this, &LocalListener::keepListening);
}

LocalListener::~LocalListener() = default;

bool LocalListener::listen() {
    m_watch->start();
    QLocalServer::removeServer(m_name);
    m_server = std::make_unique<QLocalServer>();
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // Every waiting connection is taken at once, so the backlog is the only queue.
    m_server->setMaxPendingConnections(INT_MAX);
    connect(m_server.get(), &QLocalServer::newConnection, this, &LocalListener::acceptPending);
    return m_server->listen(m_name);
}

bool LocalListener::isListening() const {
    return m_server && m_server->isListening();
}

void LocalListener::closeForTest() {
    if (m_server)
        m_server->close();
    QLocalServer::removeServer(m_name);
}

void LocalListener::keepListening() {
    if (!isListening())
        listen();
}

void LocalListener::acceptPending() {
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        socket->setParent(this);
        if (!peerIsThisUser(*socket)) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        emit connected(socket);
    }
}

} // namespace kavio
