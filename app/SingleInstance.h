#pragma once

#include "InstanceNames.h"

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <memory>

namespace kavio {

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

    // True when this program is now the only one on the file; it then listens for knocks. A
    // kavioctl serving the file's units is waited for, at most KavioctlWaitMs.
    bool claim();
    static constexpr int KavioctlWaitMs = 60000;
    // Asks the program that holds the file to come to the front; false when it cannot be
    // reached within `waitMs`.
    bool knock(int waitMs = 5000) const;

    QString lockPath() const;
    QString serverName() const;

signals:
    // Another program on the same file was started.
    void raiseRequested();

private:
    InstanceNames m_names;
    std::unique_ptr<QLockFile> m_lock;
    std::unique_ptr<QLocalServer> m_server;
};

} // namespace kavio
