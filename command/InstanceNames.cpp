#include "InstanceNames.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QStandardPaths>

namespace kavio {
namespace {

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

} // namespace

InstanceNames::InstanceNames(const QString& databasePath)
    : m_key(keyFor(databasePath))
    , m_folder(runtimeFolder()) {}

QString InstanceNames::keyFor(const QString& databasePath) {
    const QByteArray digest =
        QCryptographicHash::hash(resolved(databasePath).toUtf8(), QCryptographicHash::Sha1);
    return QStringLiteral("kaviocc-") + QString::fromLatin1(digest.toHex().left(20));
}

QString InstanceNames::runtimeFolder() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return folder;
}

QString InstanceNames::lockPath() const {
    return QDir(m_folder).filePath(m_key + QStringLiteral(".lock"));
}

std::unique_ptr<QLockFile> InstanceNames::makeLock() const {
    auto lock = std::make_unique<QLockFile>(lockPath());
    lock->setStaleLockTime(0);
    return lock;
}

bool InstanceNames::heldByKavioctl(const QLockFile& lock) {
    qint64 pid = 0;
    QString host, program;
    return lock.getLockInfo(&pid, &host, &program) && program == QLatin1String("kavioctl");
}

QString InstanceNames::raiseServerName() const {
    return QDir(m_folder).filePath(m_key + QStringLiteral(".socket"));
}

QString InstanceNames::controlServerName() const {
    return QDir(m_folder).filePath(m_key + QStringLiteral(".control"));
}

} // namespace kavio
