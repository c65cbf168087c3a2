#pragma once

#include <QString>
#include <memory>

class QLockFile;

namespace kavio {

// Where the programs working on one database file find each other: a lock and two local sockets
// in the user's private runtime folder, named from the file. The same file, however it is named
// (a relative path, a symbolic or hard link to it), gives the same names; another file gives
// other names. The file is named by its identity once it exists, so a program creates it before
// it takes the lock.
//
// The lock says which program serves the file's units (the control center, or a kavioctl running
// its own exchange); the control center answers a second start on the raise socket and takes
// kavioctl's commands on the control socket.
class InstanceNames {
public:
    explicit InstanceNames(const QString& databasePath);

    // "kaviocc-" and 20 hex digits of a hash of the file's device and inode (of its resolved
    // path while it does not exist).
    static QString keyFor(const QString& databasePath);
    // The user's private runtime folder (see PrivateFolder); empty when there is none.
    static QString runtimeFolder();

    // Why there is no folder for the lock and sockets; empty when there is one. Without one no
    // lock can be taken and no socket reached.
    QString error() const { return m_error; }

    QString lockPath() const;
    // The file's lock, not taken yet. A holder keeps it however long it runs; only the lock of
    // a program that died is stale.
    std::unique_ptr<QLockFile> makeLock() const;
    // Whether `lock` is held by a kavioctl serving the units itself (and not by a control
    // center): the lock names the program file of its holder.
    static bool heldByKavioctl(const QLockFile& lock);
    // Whether `lock` is held by the service kaviod, which serves the file's units for as long as
    // it runs (and has no window to bring to the front).
    static bool heldByService(const QLockFile& lock);
    static inline const QString ServiceProgram = QStringLiteral("kaviod");
    QString raiseServerName() const;
    QString controlServerName() const;

private:
    QString inFolder(const QString& ending) const;

    QString m_key;
    QString m_error;
    QString m_folder;
};

} // namespace kavio
