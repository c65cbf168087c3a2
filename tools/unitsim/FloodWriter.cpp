#include "FloodWriter.h"

#include <QTcpSocket>

namespace kavio::sim {

FloodWriter::FloodWriter(QTcpSocket* socket, qint64 byteLimit, int timeLimitMs, QObject* parent)
    : QObject(parent)
    , socket_(socket)
    , chunk_(ChunkBytes, 'X')
    , byteLimit_(qMax<qint64>(0, byteLimit)) {
    deadline_.setSingleShot(true);
    deadline_.setInterval(qMax(0, timeLimitMs));
    connect(&deadline_, &QTimer::timeout, this, [this] {
        finished_ = true;
        socket_->abort();
    });
    connect(socket_, &QTcpSocket::bytesWritten, this, &FloodWriter::topUp);
}

void FloodWriter::start() {
    deadline_.start();
    topUp();
}

void FloodWriter::topUp() {
    if (finished_ || socket_->state() != QAbstractSocket::ConnectedState) {
        return;
    }
    // Two chunks in flight keep the pipe full without letting the buffer grow.
    while (socket_->bytesToWrite() < 2 * ChunkBytes && queued_ < byteLimit_) {
        const qint64 size = qMin<qint64>(ChunkBytes, byteLimit_ - queued_);
        const qint64 written = socket_->write(chunk_.constData(), size);
        if (written <= 0) {
            return;
        }
        queued_ += written;
    }
    if (queued_ >= byteLimit_) {
        // The deadline keeps running: a peer that stopped reading would hold a graceful close
        // open for ever.
        finished_ = true;
        socket_->disconnectFromHost();
    }
}

} // namespace kavio::sim
