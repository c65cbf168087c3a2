#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>

// A client that talks to a simulated unit the way the control center does: connect, write,
// collect every byte until the unit closes. Event-driven; waiting is done by the caller's
// event loop (QTest::qWaitFor / QSignalSpy::wait).
class LoopbackClient {
public:
    explicit LoopbackClient(quint16 port) {
        QObject::connect(&socket, &QTcpSocket::readyRead, &socket,
                         [this] { received += socket.readAll(); });
        QObject::connect(&socket, &QTcpSocket::disconnected, &socket,
                         [this] { closedByUnit = !closedHere; });
        QObject::connect(&socket, &QTcpSocket::errorOccurred, &socket, [this] {
            if (socket.state() != QAbstractSocket::ConnectedState && !wasConnected) {
                refused = true;
            }
        });
        QObject::connect(&socket, &QTcpSocket::connected, &socket, [this] { wasConnected = true; });
        socket.connectToHost(QHostAddress::LocalHost, port);
    }

    bool waitConnected(int timeoutMs = 5000) {
        return QTest::qWaitFor([this] { return wasConnected || refused; }, timeoutMs) &&
               wasConnected;
    }

    void send(const QByteArray& bytes) { socket.write(bytes); }

    // True once the unit has closed the connection.
    bool waitClosedByUnit(int timeoutMs = 5000) {
        return QTest::qWaitFor([this] { return closedByUnit; }, timeoutMs);
    }

    bool waitReceived(qsizetype atLeast, int timeoutMs = 5000) {
        return QTest::qWaitFor([this, atLeast] { return received.size() >= atLeast; }, timeoutMs);
    }

    // Stops taking bytes off the wire once `bufferBytes` are waiting unread, like a client that
    // hangs.
    void stopReading(qint64 bufferBytes) {
        QObject::disconnect(&socket, &QTcpSocket::readyRead, nullptr, nullptr);
        socket.setReadBufferSize(bufferBytes);
    }

    void closeHere() {
        closedHere = true;
        socket.abort();
    }

    QTcpSocket socket;
    QByteArray received;
    bool closedByUnit = false;
    bool closedHere = false;
    bool wasConnected = false;
    bool refused = false; // the connection could not be made
};

// One whole exchange: connect, write `bytes`, read until the unit closes (at most 5 s).
// `closed` tells whether the unit did close.
inline QByteArray exchange(quint16 port, const QByteArray& bytes, bool* closed = nullptr) {
    LoopbackClient client(port);
    if (!client.waitConnected()) {
        if (closed) {
            *closed = false;
        }
        return QByteArrayLiteral("<no connection>");
    }
    client.send(bytes);
    const bool unitClosed = client.waitClosedByUnit();
    if (closed) {
        *closed = unitClosed;
    }
    return client.received;
}
