#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <functional>

class QTcpSocket;
class QTimer;

namespace kavio::service {

// The limits every HTTP connection is held to before the HTTP server sees its bytes, so that no
// client can freeze the service, fill its memory or keep others out: at most MaxConnections at
// once (further connections wait in the listen backlog), a request line and headers of at most
// MaxHeaderBytes, a request of at most MaxRequestBytes, no more than IdleMs without the first
// byte of a request and no more than RequestMs from that byte to the request's last. A request
// that is not HTTP gets 400 and is logged.
struct HttpLimits {
    static constexpr int MaxConnections = 128;
    static constexpr int ListenBacklog = 1024;
    static constexpr int MaxHeaderBytes = 8192;
    static constexpr int MaxHeaders = 64;
    static constexpr int MaxRequestBytes = 64 * 1024;
    // Requests a client may send ahead of the answers it waits for.
    static constexpr int MaxPipelined = 32;
    static constexpr int IdleMs = 10000;
    static constexpr int RequestMs = 10000;
    // A connection waiting this long for its request, with nothing unread, may be closed to make
    // room for one waiting in the backlog; a younger one has not had its chance yet.
    static constexpr int GraceMs = 500;
};

// What the guard read from a request head for the connection's sake.
struct RequestFraming {
    qint64 contentLength = 0;
    bool head = false;    // HEAD: the answer carries no body
    bool close = false;   // "Connection: close", or HTTP/1.0 without keep-alive
    bool http10 = false;  // the request line says HTTP/1.0
    bool chunked = false; // a Transfer-Encoding, which is not taken
};

class ConnectionGuard;

// The connections of one server, oldest first.
struct ConnectionPool {
    QList<ConnectionGuard*> open;
    // Called when a connection leaves the pool.
    std::function<void()> left;
};

// Stands between one connection and the HTTP server: it takes every byte off the socket, cuts
// the stream into requests and hands the server one request at a time, the next only once the
// previous one is answered, so that answers go out in the order the requests came in. It closes
// the connection after an answer when the client asked for that.
class ConnectionGuard : public QObject {
    Q_OBJECT

public:
    ConnectionGuard(QTcpSocket* socket, ConnectionPool* pool);
    ~ConnectionGuard() override;

    // The guard of a socket that the HTTP server writes to, or null.
    static ConnectionGuard* of(QTcpSocket* socket);
    // Why a request head is not HTTP (empty when it is); `head` ends with the empty line.
    static QString malformation(const QByteArray& head, RequestFraming& framing);

    // The request being answered.
    const RequestFraming& current() const { return m_current; }
    // An answer was written for the request handed over; `closing` when the connection ends.
    void answered(bool closing);

    // May be closed to make room: no request under way, waiting for one for GraceMs or more,
    // and no byte left unread.
    bool evictable(qint64 nowMs) const;
    // Bytes received of the request it is waiting for, and since when it waits (ms).
    qint64 receivedBytes() const { return m_partial.size(); }
    qint64 waitingSinceMs() const { return m_waitingSince; }
    // Closes the connection to make room for a new one.
    void evict();
    // The pool is going away before the connection.
    void forgetPool() { m_pool = nullptr; }
    // The request is read and its answer waits for the queue, which bounds that wait itself:
    // the idle limit counts again from the answer on.
    void awaitAnswer();

private:
    // A request cut from the stream, or an error to answer in its turn.
    struct Held {
        QByteArray bytes;
        RequestFraming framing;
        int errorStatus = 0;
        QString error;
    };

    void chunkArrived();
    void cutRequests();
    void refuse(int status, const QString& why);
    void handOverNext();
    void leavePool();
    void waitForRequest();

    QPointer<QTcpSocket> m_socket;
    ConnectionPool* m_pool;
    QTimer* m_idle;
    QTimer* m_deadline;
    QByteArray m_partial;
    QList<Held> m_queue;
    RequestFraming m_current;
    qint64 m_waitingSince = 0;
    bool m_underWay = false;
    bool m_refused = false;
    bool m_handing = false;
    bool m_closing = false;
};

// The monotonic clock the guards measure waits with, in ms.
qint64 guardClockMs();

// Wraps a connection that the server accepts in a guard.
void guardConnection(QTcpSocket* socket, ConnectionPool& pool);

// Writes a whole response on the socket; `close` ends the connection after it. The guard of the
// socket leaves out the body of an answer to HEAD and closes when the request asked for it.
void writeResponse(QTcpSocket* socket, int status, const QByteArray& contentType,
                   const QByteArray& body, const QList<QPair<QByteArray, QByteArray>>& headers = {},
                   bool close = false);

} // namespace kavio::service
