#include "HttpGuard.h"

#include "ServiceLog.h"

#include <QRegularExpression>
#include <QTcpSocket>
#include <QTimer>

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
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 413:
        return "Content Too Large";
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

} // namespace

void writeResponse(QTcpSocket* socket, int status, const QByteArray& contentType,
                   const QByteArray& body, const QList<QPair<QByteArray, QByteArray>>& headers,
                   bool close) {
    if (!socket || socket->state() != QAbstractSocket::ConnectedState)
        return;
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
    // its end back.
    if (body.size() > 65536) {
        socket->write(response);
        socket->write(body);
    } else {
        socket->write(response + body);
    }
    if (close)
        socket->disconnectFromHost();
}

ConnectionGuard::ConnectionGuard(QTcpSocket* socket, ConnectionPool* pool)
    : QObject(socket)
    , m_socket(socket)
    , m_pool(pool)
    , m_idle(new QTimer(this)) {
    m_pool->open.append(this);
    m_idle->setSingleShot(true);
    m_idle->setInterval(HttpLimits::IdleMs);
    connect(m_idle, &QTimer::timeout, this, [this] {
        if (m_socket)
            m_socket->abort();
    });
    m_idle->start();
    connect(socket, &QTcpSocket::readyRead, this, &ConnectionGuard::chunkArrived);
    // A response written: the next bytes begin a new request.
    connect(socket, &QTcpSocket::bytesWritten, this, [this] {
        m_expectingHead = true;
        m_head.clear();
        m_received = 0;
        m_idle->start();
    });
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
}

void ConnectionGuard::awaitAnswer() {
    m_idle->stop();
}

ConnectionGuard::~ConnectionGuard() {
    if (m_pool)
        m_pool->open.removeOne(this);
}

void ConnectionGuard::evict() {
    m_pool->open.removeOne(this);
    m_pool = nullptr;
    m_rejected = true;
    if (m_socket)
        m_socket->abort();
}

QString ConnectionGuard::malformation(const QByteArray& head, qint64& contentLength) {
    static const QRegularExpression requestLine(
        QStringLiteral("^[A-Z]{1,16} /[\\x21-\\x7e]* HTTP/1\\.[01]$"));
    static const QRegularExpression headerLine(
        QStringLiteral("^[!#$%&'*+.^_`|~0-9A-Za-z-]+:[\\t\\x20-\\x7e\\x80-\\xff]*$"));
    const QList<QByteArray> lines = head.left(head.size() - 4).split('\n');
    if (lines.size() > HttpLimits::MaxHeaders + 1)
        return QStringLiteral("more than %1 header lines").arg(HttpLimits::MaxHeaders);
    contentLength = 0;
    for (qsizetype number = 0; number < lines.size(); ++number) {
        QByteArray line = lines[number];
        if (!line.endsWith('\r') && number + 1 < lines.size())
            return QStringLiteral("a line without CR LF");
        if (line.endsWith('\r'))
            line.chop(1);
        const QString text = QString::fromLatin1(line);
        if (number == 0) {
            if (!requestLine.match(text).hasMatch())
                return QStringLiteral("not a request line: ") + text.left(80);
            continue;
        }
        if (!headerLine.match(text).hasMatch())
            return QStringLiteral("not a header line: ") + text.left(80);
        const qsizetype colon = line.indexOf(':');
        if (line.left(colon).compare("content-length", Qt::CaseInsensitive) == 0) {
            bool ok = false;
            contentLength = line.mid(colon + 1).trimmed().toLongLong(&ok);
            if (!ok || contentLength < 0)
                return QStringLiteral("a Content-Length that is no number");
        }
    }
    return {};
}

void ConnectionGuard::chunkArrived() {
    if (!m_socket)
        return;
    m_idle->start();
    if (m_rejected) {
        m_socket->readAll();
        return;
    }
    const QByteArray chunk = m_socket->peek(m_socket->bytesAvailable());
    m_received += chunk.size();
    if (m_received > HttpLimits::MaxRequestBytes) {
        reject(413,
               QStringLiteral("a request of more than %1 bytes").arg(HttpLimits::MaxRequestBytes));
        return;
    }
    if (!m_expectingHead)
        return;
    m_head += chunk;
    const qsizetype end = m_head.indexOf("\r\n\r\n");
    if (end < 0) {
        if (m_head.size() > HttpLimits::MaxHeaderBytes)
            reject(431, QStringLiteral("a request head of more than %1 bytes")
                            .arg(HttpLimits::MaxHeaderBytes));
        else if (const qsizetype lineEnd = m_head.indexOf("\r\n"); lineEnd >= 0) {
            qint64 ignored = 0;
            const QString why = malformation(m_head.left(lineEnd) + "\r\n\r\n", ignored);
            if (!why.isEmpty())
                reject(400, why);
        }
        return;
    }
    if (end + 4 > HttpLimits::MaxHeaderBytes) {
        reject(
            431,
            QStringLiteral("a request head of more than %1 bytes").arg(HttpLimits::MaxHeaderBytes));
        return;
    }
    qint64 contentLength = 0;
    const QString why = malformation(m_head.left(end + 4), contentLength);
    if (!why.isEmpty()) {
        reject(400, why);
        return;
    }
    if (contentLength > HttpLimits::MaxRequestBytes) {
        reject(413, QStringLiteral("a body of %1 bytes").arg(contentLength));
        return;
    }
    m_expectingHead = false;
    m_head.clear();
}

// The bytes are taken away before the HTTP server reads them, the answer goes out and the
// connection ends.
void ConnectionGuard::reject(int status, const QString& why) {
    m_rejected = true;
    logLine(QStringLiteral("HTTP %1 to %2: %3").arg(status).arg(peerOf(m_socket), why));
    m_socket->readAll();
    writeResponse(m_socket, status, "text/plain; charset=utf-8",
                  QByteArray("Bad request: ") + why.toUtf8() + '\n', {}, true);
}

bool guardConnection(QTcpSocket* socket, ConnectionPool& pool) {
    if (pool.open.size() >= HttpLimits::MaxConnections) {
        for (ConnectionGuard* guard : std::as_const(pool.open)) {
            if (guard->idle()) {
                guard->evict();
                break;
            }
        }
    }
    if (pool.open.size() >= HttpLimits::MaxConnections) {
        logLine(QStringLiteral("HTTP 503 to %1: more than %2 connections")
                    .arg(peerOf(socket))
                    .arg(HttpLimits::MaxConnections));
        writeResponse(socket, 503, "text/plain; charset=utf-8", "Too many connections\n", {}, true);
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        return false;
    }
    new ConnectionGuard(socket, &pool);
    return true;
}

} // namespace kavio::service
