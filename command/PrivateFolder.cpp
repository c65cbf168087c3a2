#include "PrivateFolder.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <sys/stat.h>
#include <unistd.h>

namespace kavio {
namespace {

// Creates the folder, and any missing parents, readable by this user alone.
void createPrivately(const QString& path) {
    if (QFileInfo::exists(path))
        return;
    QDir().mkpath(QFileInfo(path).absolutePath());
    const QByteArray name = QFile::encodeName(path);
    ::mkdir(name.constData(), S_IRWXU);
}

} // namespace

bool PrivateFolder::isPrivate(const QString& path, QString* why) {
    QString reason;
    struct stat info {};
    const QByteArray name = QFile::encodeName(path);
    if (path.isEmpty() || ::lstat(name.constData(), &info) != 0)
        reason = QStringLiteral("%1 does not exist").arg(path);
    else if (S_ISLNK(info.st_mode))
        reason = QStringLiteral("%1 is a symbolic link").arg(path);
    else if (!S_ISDIR(info.st_mode))
        reason = QStringLiteral("%1 is not a folder").arg(path);
    else if (info.st_uid != ::geteuid())
        reason = QStringLiteral("%1 belongs to another user").arg(path);
    else if ((info.st_mode & 07777) != S_IRWXU)
        reason = QStringLiteral("%1 can be reached by other users (mode %2, not 0700)")
                     .arg(path)
                     .arg(info.st_mode & 07777, 4, 8, QLatin1Char('0'));
    if (why)
        *why = reason;
    return reason.isEmpty();
}

QString PrivateFolder::runtime(QString* why) {
    struct Candidate {
        QString path;
        bool ours; // made by this program when missing
    };
    QList<Candidate> candidates;
    const QString fromSession = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!fromSession.isEmpty())
        candidates.append({fromSession, false});
    candidates.append({QStringLiteral("/run/user/%1").arg(::geteuid()), false});
    const QString cache =
        QDir::cleanPath(QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
                        QStringLiteral("/KavioCC/run"));
    if (QFile::encodeName(cache).size() <= MaxFolderBytes)
        candidates.append({cache, true});
    candidates.append(
        {QDir::cleanPath(QDir::tempPath() + QStringLiteral("/kaviocc-%1").arg(::geteuid())), true});

    QStringList refused;
    for (const Candidate& candidate : std::as_const(candidates)) {
        if (candidate.ours)
            createPrivately(candidate.path);
        QString reason;
        if (!isPrivate(candidate.path, &reason))
            refused << reason;
        else if (QFile::encodeName(candidate.path).size() > MaxFolderBytes)
            refused << QStringLiteral("%1 is too long a path for a socket").arg(candidate.path);
        else
            return candidate.path;
    }
    if (why)
        *why = QStringLiteral("there is no private runtime folder (%1)")
                   .arg(refused.join(QStringLiteral("; ")));
    return {};
}

} // namespace kavio
