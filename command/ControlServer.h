#pragma once

#include "InstanceNames.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <memory>

class QLocalServer;
class QLocalSocket;

namespace kavio {

class TCommandEngine;
struct TCommandResult;

// The control center's end of the control socket: kavioctl hands its commands to the running
// program's queue here, so that units are still served one at a time and the commands show in
// the command log. Each entry's result goes back to the kavioctl that queued it as soon as its
// exchange ends. Only the user who runs the control center can connect.
class ControlServer : public QObject {
    Q_OBJECT

public:
    ControlServer(const QString& databasePath, TCommandEngine& engine, QObject* parent = nullptr);
    ~ControlServer() override;

    // Starts listening; the caller holds the file's lock, so a socket left there is stale.
    bool listen();
    QString serverName() const { return m_names.controlServerName(); }

signals:
    // kavioctl changed the units or groups (an import): the list is to be read again.
    void storeChanged();

private:
    struct Waiting {
        QPointer<QLocalSocket> caller;
        int entry = 0;
    };

    void accept();
    void readRequest(QLocalSocket* caller);
    void answer(const TCommandResult& result);

    InstanceNames m_names;
    TCommandEngine& m_engine;
    std::unique_ptr<QLocalServer> m_server;
    // Queued entries whose caller waits for them, by ticket.
    QHash<quint64, Waiting> m_waiting;
};

} // namespace kavio
