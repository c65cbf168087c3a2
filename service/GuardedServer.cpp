#include "GuardedServer.h"

#include <QSslSocket>
#include <QTimer>
#include <algorithm>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace kavio::service {
namespace {

// How often a full pool looks for someone waiting in the backlog.
constexpr int RoomCheckMs = 100;

} // namespace

GuardedServer::GuardedServer(QObject* parent)
    : QTcpServer(parent)
    , m_roomCheck(new QTimer(this)) {
    setListenBacklogSize(HttpLimits::ListenBacklog);
    setMaxPendingConnections(HttpLimits::MaxConnections);
    m_pool.left = [this] { connectionLeft(); };
    m_roomCheck->setInterval(RoomCheckMs);
    connect(m_roomCheck, &QTimer::timeout, this, &GuardedServer::makeRoom);
}

GuardedServer::~GuardedServer() {
    for (ConnectionGuard* guard : std::as_const(m_pool.open))
        guard->forgetPool();
}

void GuardedServer::setTls(const QSslConfiguration& configuration) {
    m_tls = configuration;
    m_useTls = true;
}

int GuardedServer::backlogLength() const {
    // For a listening socket Linux reports the length of its accept queue as "unacked".
    tcp_info info = {};
    socklen_t size = sizeof info;
    if (::getsockopt(int(socketDescriptor()), IPPROTO_TCP, TCP_INFO, &info, &size) != 0)
        return 0;
    return int(info.tcpi_unacked);
}

void GuardedServer::incomingConnection(qintptr descriptor) {
    QTcpSocket* socket = nullptr;
    if (m_useTls) {
        auto* secure = new QSslSocket(this);
        secure->setSslConfiguration(m_tls);
        socket = secure;
    } else {
        socket = new QTcpSocket(this);
    }
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        return;
    }
    guardConnection(socket, m_pool);
    if (auto* secure = qobject_cast<QSslSocket*>(socket)) {
        QObject::connect(secure, &QSslSocket::sslErrors, secure, [secure] { secure->abort(); });
        secure->startServerEncryption();
    }
    if (m_pool.open.size() >= HttpLimits::MaxConnections && !m_full) {
        // QTcpServer stops taking connections off the backlog, and stops listening for them,
        // while this many are pending; resumeAccepting() listens again.
        m_full = true;
        setMaxPendingConnections(0);
        m_roomCheck->start();
    }
    addPendingConnection(socket);
}

void GuardedServer::connectionLeft() {
    // A connection that leaves always leaves room: the pool never grows past the limit.
    if (!m_full)
        return;
    m_full = false;
    m_roomCheck->stop();
    setMaxPendingConnections(HttpLimits::MaxConnections);
    resumeAccepting();
}

void GuardedServer::makeRoom() {
    const int waiting = backlogLength();
    if (waiting <= 0)
        return;
    const qint64 now = guardClockMs();
    QList<ConnectionGuard*> candidates;
    for (ConnectionGuard* guard : std::as_const(m_pool.open))
        if (guard->evictable(now))
            candidates << guard;
    // The lowest rate first: bytes over time waited, compared without dividing.
    std::sort(candidates.begin(), candidates.end(),
              [now](const ConnectionGuard* a, const ConnectionGuard* b) {
                  const qint64 aTime = now - a->waitingSinceMs();
                  const qint64 bTime = now - b->waitingSinceMs();
                  const qint64 aRate = a->receivedBytes() * bTime;
                  const qint64 bRate = b->receivedBytes() * aTime;
                  return aRate != bRate ? aRate < bRate : aTime > bTime;
              });
    candidates.resize(std::min<qsizetype>(candidates.size(), waiting));
    for (ConnectionGuard* guard : std::as_const(candidates))
        guard->evict();
}

} // namespace kavio::service
