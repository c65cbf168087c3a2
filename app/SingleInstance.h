#pragma once

#include "InstanceNames.h"

#include <QLockFile>
#include <QObject>
#include <QString>
#include <memory>

namespace kavio {

class LocalListener;

// One program per database file. The first program on a file holds a lock in the user's runtime
// folder and listens on a local socket beside it; a later one finds the lock taken, knocks on the
// socket (the first one then brings its window to the front) and ends. A lock left behind by a
// program that died is taken over.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    // The lock and socket names of a database file: the same file, however it is named (a
    // relative path, a link to it), gives the same name; another file gives another.
    static QString keyFor(const QString& databasePath);

    explicit SingleInstance(const QString& databasePath, QObject* parent = nullptr);
    ~SingleInstance() override;

    enum class Claim {
        Taken,               // this program is now the only one on the file
        HeldByControlCenter, // another control center runs on it
        HeldByService,       // the service kaviod serves it (see kavioctlPid for its pid)
        KavioctlKeptIt,      // a kavioctl served its units for longer than KavioctlWaitMs
        NoPrivateFolder,     // there is nowhere safe for the lock (see folderError)
    };
    // Takes the file when nobody holds it; this program then listens for knocks. A kavioctl
    // serving the file's units is waited for, at most KavioctlWaitMs, after waitingForKavioctl.
    Claim claimFile(int kavioctlWaitMs = KavioctlWaitMs);
    bool claim() { return claimFile() == Claim::Taken; }
    static constexpr int KavioctlWaitMs = 60000;
    // Whether this program holds the file.
    bool holds() const;
    // Listens for knocks without holding the file: a window that follows the service that holds
    // it is still the one a later start brings to the front.
    void listenForKnocks();
    // The process id of the kavioctl (or kaviod) that holds the file, or 0.
    qint64 kavioctlPid() const { return m_kavioctlPid; }
    QString folderError() const { return m_names.error(); }
    // Asks the program that holds the file to come to the front; false when it cannot be
    // reached within `waitMs`, or when whoever answers runs as another user.
    bool knock(int waitMs = 5000) const;

    QString lockPath() const;
    QString serverName() const;

signals:
    // Another program on the same file was started.
    void raiseRequested();
    // claimFile found a kavioctl serving the file's units and now waits for it.
    void waitingForKavioctl(qint64 pid);

private:
    InstanceNames m_names;
    std::unique_ptr<QLockFile> m_lock;
    LocalListener* m_listener = nullptr;
    qint64 m_kavioctlPid = 0;
};

} // namespace kavio
