#include "SingleInstance.h"

#include "LocalListener.h"

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

bool SingleInstance::holds() const {
    return m_lock && m_lock->isLocked();
}

SingleInstance::Claim SingleInstance::claimFile(int kavioctlWaitMs) {
    if (m_lock && m_lock->isLocked())
        return Claim::Taken;
    if (!m_names.error().isEmpty())
        return Claim::NoPrivateFolder;
    m_lock = m_names.makeLock();
    if (!m_lock->tryLock(0)) {
        // kavioctl holds the lock only while it serves units itself, which ends by itself.
        if (InstanceNames::heldByService(*m_lock)) {
            m_lock->getLockInfo(&m_kavioctlPid, nullptr, nullptr);
            return Claim::HeldByService;
        }
        if (!InstanceNames::heldByKavioctl(*m_lock))
            return Claim::HeldByControlCenter;
        m_lock->getLockInfo(&m_kavioctlPid, nullptr, nullptr);
        if (kavioctlWaitMs > 0)
            emit waitingForKavioctl(m_kavioctlPid);
        if (!m_lock->tryLock(kavioctlWaitMs))
            return InstanceNames::heldByKavioctl(*m_lock) ? Claim::KavioctlKeptIt
                                                          : Claim::HeldByControlCenter;
    }
    // The lock is ours, so a socket left there belongs to a program that is gone.
    listenForKnocks();
    return Claim::Taken;
}

void SingleInstance::listenForKnocks() {
    if (m_listener)
        return;
    m_listener = new LocalListener(serverName(), this);
    connect(m_listener, &LocalListener::connected, this, [this](QLocalSocket* caller) {
        caller->deleteLater();
        emit raiseRequested();
    });
    m_listener->listen();
}

bool SingleInstance::knock(int waitMs) const {
    const QDeadlineTimer deadline(waitMs);
    // The holder may still be starting: try again until it listens.
    do {
        QLocalSocket socket;
        socket.connectToServer(serverName());
        if (socket.waitForConnected(AttemptMs))
            return peerIsThisUser(socket);
        QThread::msleep(RetryMs);
    } while (!deadline.hasExpired());
    return false;
}

} // namespace kavio
