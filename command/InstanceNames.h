#pragma once

#include <QString>
#include <memory>

class QLockFile;

namespace kavio {

// Where the programs working on one database file find each other: a lock and two local sockets
// in the user's runtime folder, named from the file. The same file, however it is named (a
// relative path, a link to it), gives the same names; another file gives other names.
//
// The lock says which program serves the file's units (the control center, or a kavioctl running
// its own exchange); the control center answers a second start on the raise socket and takes
// kavioctl's commands on the control socket.
class InstanceNames {
public:
    explicit InstanceNames(const QString& databasePath);

    // "kaviocc-" and 20 hex digits of the resolved path's hash.
    static QString keyFor(const QString& databasePath);
    // The user's runtime folder ($XDG_RUNTIME_DIR), or the temporary folder where there is none.
    static QString runtimeFolder();

    QString lockPath() const;
    // The file's lock, not taken yet. A holder keeps it however long it runs; only the lock of
    // a program that died is stale.
    std::unique_ptr<QLockFile> makeLock() const;
    // Whether `lock` is held by a kavioctl serving the units itself (and not by a control
    // center): the lock names the program file of its holder.
    static bool heldByKavioctl(const QLockFile& lock);
    QString raiseServerName() const;
    QString controlServerName() const;

private:
    QString m_key;
    QString m_folder;
};

} // namespace kavio
