#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>

class QTcpSocket;

namespace kavio::sim {

// Streams 'X' bytes into a socket, topping its write buffer up only as the peer drains it, so
// memory stays at a couple of chunks however fast or slow the peer reads. Ends the connection
// itself once `byteLimit` bytes are queued (gracefully) or `timeLimitMs` has passed (abort, as
// a peer that stopped reading would never let a graceful close finish).
class FloodWriter : public QObject {
    Q_OBJECT
public:
    static constexpr qsizetype ChunkBytes = 64 * 1024;

    FloodWriter(QTcpSocket* socket, qint64 byteLimit, int timeLimitMs, QObject* parent = nullptr);

    void start();

private:
    void topUp();

    QTcpSocket* socket_;
    QByteArray chunk_;
    qint64 byteLimit_;
    qint64 queued_ = 0;
    bool finished_ = false;
    QTimer deadline_;
};

} // namespace kavio::sim
