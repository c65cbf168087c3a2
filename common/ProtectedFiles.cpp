#include "ProtectedFiles.h"

#include <QFileInfo>
#include <QMutex>
#include <QStringList>

#include <sys/stat.h>

namespace kavio::ProtectedFiles {
namespace {

const QStringList Journals = {QString(), QStringLiteral("-wal"), QStringLiteral("-shm"),
                              QStringLiteral("-journal")};

struct Registry {
    QMutex mutex;
    QStringList paths; // absolute, with each journal's name
};

Registry& registry() {
    static Registry instance;
    return instance;
}

// The device and inode that `path` names, or nothing for a missing file. stat() opens nothing.
bool identity(const QString& path, dev_t* device, ino_t* inode) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return false;
    *device = info.st_dev;
    *inode = info.st_ino;
    return true;
}

} // namespace

void add(const QString& databasePath) {
    const QString absolute = QFileInfo(databasePath).absoluteFilePath();
    Registry& r = registry();
    const QMutexLocker lock(&r.mutex);
    for (const QString& journal : Journals) {
        if (!r.paths.contains(absolute + journal))
            r.paths << absolute + journal;
    }
}

bool contains(const QString& path) {
    if (path.isEmpty())
        return false;
    const QString absolute = QFileInfo(path).absoluteFilePath();
    dev_t device = 0;
    ino_t inode = 0;
    const bool exists = identity(absolute, &device, &inode);
    Registry& r = registry();
    const QMutexLocker lock(&r.mutex);
    for (const QString& kept : std::as_const(r.paths)) {
        if (kept == absolute)
            return true;
        dev_t keptDevice = 0;
        ino_t keptInode = 0;
        if (exists && identity(kept, &keptDevice, &keptInode) && keptDevice == device &&
            keptInode == inode)
            return true;
    }
    return false;
}

} // namespace kavio::ProtectedFiles
