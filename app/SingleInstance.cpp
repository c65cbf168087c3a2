#include "SingleInstance.h"

#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QThread>

namespace kavio {
namespace {

// How long one attempt to reach the holder may take, and the pause before the next one.
constexpr int AttemptMs = 1000;
constexpr int RetryMs = 100;

} // namespace

QString SingleInstance::keyFor(const QString& databasePath) {
    return InstanceNames::keyFor(databasePath);
}

SingleInstance::SingleInstance(const QString& databasePath, QObject* parent)
    : QObject(parent)
    , m_names(databasePath) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::lockPath() const {
    return m_names.lockPath();
}

QString SingleInstance::serverName() const {
    return m_names.raiseServerName();
}

bool SingleInstance::claim() {
    if (m_lock && m_lock->isLocked())
        return true;
    m_lock = m_names.makeLock();
    // kavioctl holds the lock only while it serves units itself, which ends by itself.
    if (!m_lock->tryLock(0) &&
        !(InstanceNames::heldByKavioctl(*m_lock) && m_lock->tryLock(KavioctlWaitMs)))
        return false;
    // The lock is ours, so a socket left there belongs to a program that is gone.
    QLocalServer::removeServer(serverName());
    m_server = std::make_unique<QLocalServer>();
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server.get(), &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* caller = m_server->nextPendingConnection()) {
            delete caller;
            emit raiseRequested();
        }
    });
    m_server->listen(serverName());
    return true;
}

bool SingleInstance::knock(int waitMs) const {
    const QDeadlineTimer deadline(waitMs);
    // The holder may still be starting: try again until it listens.
    do {
        QLocalSocket socket;
        socket.connectToServer(serverName());
        if (socket.waitForConnected(AttemptMs))
            return true;
        QThread::msleep(RetryMs);
    } while (!deadline.hasExpired());
    return false;
}

} // namespace kavio
