#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QPointer>

class QTcpServer;
class QTcpSocket;
class QTimer;

namespace kavio::service {

// The limits every HTTP connection is held to before the HTTP server sees its bytes, so that no
// client can freeze the service or fill its memory: at most MaxConnections at once (the next is
// answered 503 and closed), a request line and headers of at most MaxHeaderBytes, a request of
// at most MaxRequestBytes, and no more than IdleMs without a byte. A request that is not HTTP
// gets 400 and is logged.
struct HttpLimits {
    static constexpr int MaxConnections = 128;
    static constexpr int MaxHeaderBytes = 8192;
    static constexpr int MaxHeaders = 64;
    static constexpr int MaxRequestBytes = 64 * 1024;
    static constexpr int IdleMs = 10000;
};

class ConnectionGuard;

// The connections of one server, oldest first.
struct ConnectionPool {
    QList<ConnectionGuard*> open;
};

// Watches one connection: it sees each chunk of bytes before the HTTP server reads it.
class ConnectionGuard : public QObject {
    Q_OBJECT

public:
    ConnectionGuard(QTcpSocket* socket, ConnectionPool* pool);
    ~ConnectionGuard() override;

    // Why a request head is not HTTP (empty when it is); `head` ends with the empty line.
    static QString malformation(const QByteArray& head, qint64& contentLength);
    // Between requests: nothing received since the last answer (or since it connected).
    bool idle() const { return m_expectingHead && m_head.isEmpty() && !m_rejected; }
    // Closes the connection to make room for a new one.
    void evict();
    // The pool is going away before the connection.
    void forgetPool() { m_pool = nullptr; }
    // The request is read and its answer waits for the queue, which bounds that wait itself:
    // the idle limit counts again from the answer on.
    void awaitAnswer();

private:
    void chunkArrived();
    void reject(int status, const QString& why);

    QPointer<QTcpSocket> m_socket;
    ConnectionPool* m_pool;
    QTimer* m_idle;
    QByteArray m_head;
    qint64 m_received = 0;
    bool m_expectingHead = true;
    bool m_rejected = false;
};

// Wraps a connection that the server accepts in a guard; beyond the limit refuses it and returns
// false (the server is not to see it).
bool guardConnection(QTcpSocket* socket, ConnectionPool& pool);

// Writes a whole response on the socket; `close` ends the connection after it.
void writeResponse(QTcpSocket* socket, int status, const QByteArray& contentType,
                   const QByteArray& body, const QList<QPair<QByteArray, QByteArray>>& headers = {},
                   bool close = false);

} // namespace kavio::service
