#include "SingleInstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

namespace kavio {
namespace {

// How long one attempt to reach the holder may take, and the pause before the next one.
constexpr int AttemptMs = 1000;
constexpr int RetryMs = 100;

// The absolute path with every link resolved in the part that exists already; the file itself
// may not exist yet when the first program starts.
QString resolved(const QString& path) {
    QFileInfo info(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
    QStringList missing;
    while (!info.exists()) {
        const QString parent = info.absolutePath();
        missing.prepend(info.fileName());
        if (parent == info.absoluteFilePath())
            break;
        info = QFileInfo(parent);
    }
    QString base = info.exists() ? info.canonicalFilePath() : info.absoluteFilePath();
    for (const QString& part : std::as_const(missing))
        base = QDir(base).filePath(part);
    return QDir::cleanPath(base);
}

QString runtimeFolder() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return folder;
}

} // namespace

QString SingleInstance::keyFor(const QString& databasePath) {
    const QByteArray digest =
        QCryptographicHash::hash(resolved(databasePath).toUtf8(), QCryptographicHash::Sha1);
    return QStringLiteral("kaviocc-") + QString::fromLatin1(digest.toHex().left(20));
}

SingleInstance::SingleInstance(const QString& databasePath, QObject* parent)
    : QObject(parent)
    , m_key(keyFor(databasePath))
    , m_folder(runtimeFolder()) {}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::lockPath() const {
    return QDir(m_folder).filePath(m_key + QStringLiteral(".lock"));
}

QString SingleInstance::serverName() const {
    return QDir(m_folder).filePath(m_key + QStringLiteral(".socket"));
}

bool SingleInstance::claim() {
    if (m_lock && m_lock->isLocked())
        return true;
    m_lock = std::make_unique<QLockFile>(lockPath());
    // A running program keeps its lock however long it runs; only a dead owner's lock is stale.
    m_lock->setStaleLockTime(0);
    if (!m_lock->tryLock(0))
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
