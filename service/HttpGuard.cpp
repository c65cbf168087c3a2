#include "HttpGuard.h"

#include "ServiceLog.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTimer>
#include <sys/socket.h>

namespace kavio::service {
namespace {

QByteArray reason(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 411:
        return "Length Required";
    case 413:
        return "Content Too Large";
    case 421:
        return "Misdirected Request";
    case 429:
        return "Too Many Requests";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

QString peerOf(const QTcpSocket* socket) {
    return socket->peerAddress().toString() + QLatin1Char(':') +
           QString::number(socket->peerPort());
}

// Whether the connection holds bytes that nobody has read yet, in the socket or in the kernel.
bool unreadBytes(QTcpSocket* socket) {
    if (socket->bytesAvailable() > 0)
        return true;
    char byte = 0;
    return ::recv(int(socket->socketDescriptor()), &byte, 1, MSG_PEEK | MSG_DONTWAIT) > 0;
}

// Whether a comma-separated header value holds `token` (case-insensitive).
bool hasToken(const QByteArray& value, const char* token) {
    for (const QByteArray& part : value.split(','))
        if (part.trimmed().compare(token, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

} // namespace

qint64 guardClockMs() {
    static QElapsedTimer clock = [] {
        QElapsedTimer started;
        started.start();
        return started;
    }();
    return clock.elapsed();
}

void writeResponse(QTcpSocket* socket, int status, const QByteArray& contentType,
                   const QByteArray& body, const QList<QPair<QByteArray, QByteArray>>& headers,
                   bool close) {
    if (!socket || socket->state() != QAbstractSocket::ConnectedState)
        return;
    ConnectionGuard* guard = ConnectionGuard::of(socket);
    const bool head = guard && guard->current().head;
    close = close || (guard && guard->current().close);
    QByteArray response = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason(status) + "\r\n";
    if (!contentType.isEmpty())
        response += "Content-Type: " + contentType + "\r\n";
    response += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    for (const auto& header : headers)
        response += header.first + ": " + header.second + "\r\n";
    if (close)
        response += "Connection: close\r\n";
    response += "\r\n";
    // A large body goes to the socket's buffer apart, without being copied; a small one with
    // the head, so that the answer leaves in one segment and no delayed acknowledgement holds
    // its end back. HEAD gets the head alone.
    if (head) {
        socket->write(response);
    } else if (body.size() > 65536) {
        socket->write(response);
        socket->write(body);
    } else {
        socket->write(response + body);
    }
    if (guard)
        guard->answered(close);
    if (close)
        socket->disconnectFromHost();
}

ConnectionGuard::ConnectionGuard(QTcpSocket* socket, ConnectionPool* pool)
    : QObject(socket)
    , m_socket(socket)
    , m_pool(pool)
    , m_idle(new QTimer(this))
    , m_deadline(new QTimer(this)) {
    m_pool->open.append(this);
    m_idle->setSingleShot(true);
    m_idle->setInterval(HttpLimits::IdleMs);
    connect(m_idle, &QTimer::timeout, this, [this] {
        if (m_socket)
            m_socket->abort();
    });
    m_deadline->setSingleShot(true);
    m_deadline->setInterval(HttpLimits::RequestMs);
    connect(m_deadline, &QTimer::timeout, this, [this] {
        refuse(
            408,
            QStringLiteral("a request not complete within %1 s").arg(HttpLimits::RequestMs / 1000));
        handOverNext();
    });
    waitForRequest();
    // Connected before the HTTP server connects: the guard takes the bytes first.
    connect(socket, &QTcpSocket::readyRead, this, &ConnectionGuard::chunkArrived);
    connect(socket, &QTcpSocket::disconnected, this, &ConnectionGuard::leavePool);
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
}

void ConnectionGuard::awaitAnswer() {
    m_idle->stop();
}

ConnectionGuard::~ConnectionGuard() {
    leavePool();
}

ConnectionGuard* ConnectionGuard::of(QTcpSocket* socket) {
    return socket ? socket->findChild<ConnectionGuard*>(QString(), Qt::FindDirectChildrenOnly)
                  : nullptr;
}

void ConnectionGuard::leavePool() {
    if (!m_pool)
        return;
    m_pool->open.removeOne(this);
    const std::function<void()> left = m_pool->left;
    m_pool = nullptr;
    if (left)
        left();
}

void ConnectionGuard::waitForRequest() {
    m_waitingSince = guardClockMs();
    if (m_partial.isEmpty() && m_queue.isEmpty())
        m_idle->start();
}

bool ConnectionGuard::evictable(qint64 nowMs) const {
    return m_pool && m_socket && !m_underWay && !m_closing && m_queue.isEmpty() &&
           nowMs - m_waitingSince >= HttpLimits::GraceMs && !unreadBytes(m_socket);
}

void ConnectionGuard::evict() {
    logLine(QStringLiteral("HTTP 408 to %1: closed to make room, after %2 bytes in %3 ms")
                .arg(peerOf(m_socket))
                .arg(m_partial.size())
                .arg(guardClockMs() - m_waitingSince));
    leavePool();
    m_refused = true;
    m_partial.clear();
    m_deadline->stop();
    m_current = RequestFraming();
    writeResponse(m_socket, 408, "text/plain; charset=utf-8", "Closed to make room\n", {}, true);
}

QString ConnectionGuard::malformation(const QByteArray& head, RequestFraming& framing) {
    static const QRegularExpression requestLine(
        QStringLiteral("^([A-Z]{1,16}) /[\\x21-\\x7e]* HTTP/1\\.([01])$"));
    static const QRegularExpression headerLine(
        QStringLiteral("^[!#$%&'*+.^_`|~0-9A-Za-z-]+:[\\t\\x20-\\x7e\\x80-\\xff]*$"));
    framing = RequestFraming();
    if (!head.endsWith("\r\n\r\n"))
        return QStringLiteral("a head without its empty line");
    const QList<QByteArray> lines = head.left(head.size() - 4).split('\n');
    if (lines.size() > HttpLimits::MaxHeaders + 1)
        return QStringLiteral("more than %1 header lines").arg(HttpLimits::MaxHeaders);
    bool keepAlive = false;
    bool lengthSeen = false;
    for (qsizetype number = 0; number < lines.size(); ++number) {
        QByteArray line = lines[number];
        if (!line.endsWith('\r') && number + 1 < lines.size())
            return QStringLiteral("a line without CR LF");
        if (line.endsWith('\r'))
            line.chop(1);
        const QString text = QString::fromLatin1(line);
        if (number == 0) {
            const QRegularExpressionMatch match = requestLine.match(text);
            if (!match.hasMatch())
                return QStringLiteral("not a request line: ") + text.left(80);
            framing.head = match.captured(1) == QLatin1String("HEAD");
            framing.http10 = match.captured(2) == QLatin1String("0");
            continue;
        }
        if (!headerLine.match(text).hasMatch())
            return QStringLiteral("not a header line: ") + text.left(80);
        const qsizetype colon = line.indexOf(':');
        const QByteArray name = line.left(colon);
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name.compare("content-length", Qt::CaseInsensitive) == 0) {
            bool ok = !value.isEmpty() && value.size() <= 18;
            for (const char digit : value)
                ok = ok && digit >= '0' && digit <= '9';
            const qint64 length = ok ? value.toLongLong() : -1;
            if (!ok)
                return QStringLiteral("a Content-Length that is no number");
            if (lengthSeen && length != framing.contentLength)
                return QStringLiteral("two different Content-Lengths");
            framing.contentLength = length;
            lengthSeen = true;
        } else if (name.compare("transfer-encoding", Qt::CaseInsensitive) == 0) {
            framing.chunked = true;
        } else if (name.compare("connection", Qt::CaseInsensitive) == 0) {
            framing.close = framing.close || hasToken(value, "close");
            keepAlive = keepAlive || hasToken(value, "keep-alive");
        }
    }
    if (framing.http10 && !keepAlive)
        framing.close = true;
    return {};
}

void ConnectionGuard::chunkArrived() {
    if (!m_socket || m_handing)
        return;
    // The server reads inside a transaction of its own; what it has read is its business.
    if (m_socket->isTransactionStarted())
        m_socket->commitTransaction();
    const QByteArray chunk = m_socket->readAll();
    if (m_refused || m_closing || chunk.isEmpty())
        return;
    m_idle->stop();
    if (m_partial.isEmpty())
        m_deadline->start();
    m_partial += chunk;
    cutRequests();
    handOverNext();
}

void ConnectionGuard::cutRequests() {
    while (!m_refused && !m_partial.isEmpty()) {
        const qsizetype end = m_partial.indexOf("\r\n\r\n");
        if (end < 0) {
            RequestFraming ignored;
            if (m_partial.size() > HttpLimits::MaxHeaderBytes)
                refuse(431, QStringLiteral("a request head of more than %1 bytes")
                                .arg(HttpLimits::MaxHeaderBytes));
            else if (const qsizetype lineEnd = m_partial.indexOf("\r\n"); lineEnd >= 0) {
                const QString why = malformation(m_partial.left(lineEnd) + "\r\n\r\n", ignored);
                if (!why.isEmpty())
                    refuse(400, why);
            }
            break;
        }
        if (end + 4 > HttpLimits::MaxHeaderBytes) {
            refuse(431, QStringLiteral("a request head of more than %1 bytes")
                            .arg(HttpLimits::MaxHeaderBytes));
            break;
        }
        RequestFraming framing;
        if (const QString why = malformation(m_partial.left(end + 4), framing); !why.isEmpty()) {
            refuse(400, why);
            break;
        }
        if (framing.chunked) {
            refuse(411, QStringLiteral("a body without Content-Length"));
            break;
        }
        if (framing.contentLength > HttpLimits::MaxRequestBytes) {
            refuse(413, QStringLiteral("a body of %1 bytes").arg(framing.contentLength));
            break;
        }
        const qsizetype total = end + 4 + framing.contentLength;
        if (m_partial.size() < total)
            break;
        qsizetype ahead = 0;
        for (const Held& held : std::as_const(m_queue))
            ahead += held.bytes.size();
        if (m_queue.size() >= HttpLimits::MaxPipelined ||
            (!m_queue.isEmpty() && ahead + total > HttpLimits::MaxRequestBytes)) {
            refuse(
                429,
                QStringLiteral("more than %1 requests ahead of their answers").arg(m_queue.size()));
            break;
        }
        m_queue.append(Held{m_partial.left(total), framing, 0, {}});
        m_partial.remove(0, total);
        // The next request's time runs from its own first byte.
        if (!m_partial.isEmpty())
            m_deadline->start();
    }
    if (m_partial.isEmpty())
        m_deadline->stop();
}

// Every later byte is dropped; the answer goes out in the refused request's turn and the
// connection ends with it.
void ConnectionGuard::refuse(int status, const QString& why) {
    m_refused = true;
    m_partial.clear();
    m_deadline->stop();
    logLine(QStringLiteral("HTTP %1 to %2: %3").arg(status).arg(peerOf(m_socket), why));
    m_queue.append(Held{{}, {}, status, why});
}

void ConnectionGuard::handOverNext() {
    if (m_underWay || m_closing || m_queue.isEmpty() || !m_socket ||
        m_socket->state() != QAbstractSocket::ConnectedState)
        return;
    const Held next = m_queue.takeFirst();
    m_current = next.framing;
    m_underWay = true;
    m_idle->stop();
    if (next.errorStatus != 0) {
        writeResponse(m_socket, next.errorStatus, "text/plain; charset=utf-8",
                      QByteArray("Bad request: ") + next.error.toUtf8() + '\n', {}, true);
        return;
    }
    // The server reads what is in the socket's buffer when it hears readyRead: this request,
    // and nothing after it.
    if (m_socket->isTransactionStarted())
        m_socket->commitTransaction();
    for (qsizetype at = next.bytes.size() - 1; at >= 0; --at)
        m_socket->ungetChar(next.bytes[at]);
    m_handing = true;
    emit m_socket->readyRead();
    m_handing = false;
}

void ConnectionGuard::answered(bool closing) {
    m_underWay = false;
    if (closing) {
        m_closing = true;
        m_queue.clear();
        m_deadline->stop();
        m_idle->start();
        leavePool();
        return;
    }
    waitForRequest();
    if (!m_queue.isEmpty())
        QMetaObject::invokeMethod(this, &ConnectionGuard::handOverNext, Qt::QueuedConnection);
}

void guardConnection(QTcpSocket* socket, ConnectionPool& pool) {
    new ConnectionGuard(socket, &pool);
}

} // namespace kavio::service
