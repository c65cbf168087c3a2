#pragma once

#include <QObject>
#include <QString>
#include <memory>

class QLocalServer;
class QLocalSocket;
class QTimer;

namespace kavio {

// True when the program at the other end of a connected local socket runs as this user. Whoever
// answers on a socket in the runtime folder is trusted with commands and results only then.
bool peerIsThisUser(const QLocalSocket& socket);

// A local server for this user alone that stays reachable while the program runs:
// - the socket file is user-only, and a connection from another user is closed at once;
// - should the server ever stop listening (Qt closes a local server whose accept fails, as when
//   the process has run out of descriptors, and removes its socket file), it listens again.
class LocalListener : public QObject {
    Q_OBJECT

public:
    // How often a server that stopped is tried again.
    static constexpr int RelistenMs = 1000;

    explicit LocalListener(QString name, QObject* parent = nullptr);
    ~LocalListener() override;

    // Starts listening; a socket file left there by a program that is gone is replaced.
    bool listen();
    bool isListening() const;
    QString name() const { return m_name; }
    // Stops listening as Qt does when an accept fails: the socket file goes too.
    void closeForTest();

signals:
    // A new connection from this user; the socket is a child of the listener.
    void connected(QLocalSocket* socket);

private:
    void acceptPending();
    void keepListening();

    QString m_name;
    std::unique_ptr<QLocalServer> m_server;
    QTimer* m_watch;
};

} // namespace kavio
