#include "InstanceNames.h"

#include "PrivateFolder.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <sys/stat.h>

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

// What names the file: its device and inode once it exists (so that every name of it, hard
// links included, meets at one lock), its resolved path before.
QByteArray identity(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) == 0 && S_ISREG(info.st_mode))
        return "file:" + QByteArray::number(quint64(info.st_dev)) + ':' +
               QByteArray::number(quint64(info.st_ino));
    return resolved(path).toUtf8();
}

} // namespace

InstanceNames::InstanceNames(const QString& databasePath)
    : m_key(keyFor(databasePath))
    , m_folder(PrivateFolder::runtime(&m_error)) {}

QString InstanceNames::keyFor(const QString& databasePath) {
    const QByteArray digest =
        QCryptographicHash::hash(identity(databasePath), QCryptographicHash::Sha1);
    return QStringLiteral("kaviocc-") + QString::fromLatin1(digest.toHex().left(20));
}

QString InstanceNames::runtimeFolder() {
    return PrivateFolder::runtime();
}

// Nothing at all without a private folder: a relative name would land wherever the program was
// started.
QString InstanceNames::inFolder(const QString& ending) const {
    return m_folder.isEmpty() ? QString() : QDir(m_folder).filePath(m_key + ending);
}

QString InstanceNames::lockPath() const {
    return inFolder(QStringLiteral(".lock"));
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

bool InstanceNames::heldByService(const QLockFile& lock) {
    qint64 pid = 0;
    QString host, program;
    return lock.getLockInfo(&pid, &host, &program) && program == ServiceProgram;
}

QString InstanceNames::raiseServerName() const {
    return inFolder(QStringLiteral(".socket"));
}

QString InstanceNames::controlServerName() const {
    return inFolder(QStringLiteral(".control"));
}

} // namespace kavio
