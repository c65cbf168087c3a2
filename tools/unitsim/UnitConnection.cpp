#include "UnitConnection.h"

#include "FloodWriter.h"

#include <QTcpSocket>
#include <QTimer>

namespace kavio::sim {

UnitConnection::UnitConnection(QTcpSocket* socket, int serial, QObject* parent)
    : QObject(parent)
    , socket_(socket)
    , serial_(serial) {
    socket_->setParent(this);
    connect(socket_, &QTcpSocket::readyRead, this, &UnitConnection::readAvailable);
    connect(socket_, &QTcpSocket::bytesWritten, this, &UnitConnection::bytesSent);
    connect(socket_, &QTcpSocket::disconnected, this, &UnitConnection::onDisconnected);
}

void UnitConnection::start(const QByteArray& preamble) {
    if (!preamble.isEmpty()) {
        socket_->write(preamble);
    }
    // The client may have written its command before the unit got round to accepting.
    if (socket_->bytesAvailable() > 0) {
        QTimer::singleShot(0, this, &UnitConnection::readAvailable);
    }
    if (socket_->state() != QAbstractSocket::ConnectedState) {
        QTimer::singleShot(0, this, &UnitConnection::onDisconnected);
    }
}

qint64 UnitConnection::unsentBytes() const {
    return socket_->bytesToWrite();
}

void UnitConnection::readAvailable() {
    const QByteArray bytes = socket_->readAll();
    if (bytes.isEmpty() || closedReported_) {
        return;
    }
    // Record what fits; the rest is read anyway so that a chatty client cannot fill memory.
    const qsizetype room = qMax<qsizetype>(0, MaxRecordedBytes - received_);
    if (room > 0) {
        emit bytesArrived(serial_, bytes.left(room));
    }
    received_ += bytes.size();
    if (closing_ || frame_.state() != CommandFrame::State::Incomplete) {
        return;
    }
    frame_.feed(bytes);
    switch (frame_.state()) {
    case CommandFrame::State::Incomplete:
        return;
    case CommandFrame::State::Invalid:
        emit malformedCommand(serial_);
        closeGracefully();
        return;
    case CommandFrame::State::Complete:
        emit commandArrived(serial_, frame_.password(), frame_.letter());
        return;
    }
}

void UnitConnection::carryOut(const Response& response, qint64 floodByteLimit,
                              int floodTimeLimitMs) {
    if (closing_) {
        return;
    }
    switch (response.outcome) {
    case Outcome::Answered:
        if (response.delayMs > 0) {
            QTimer::singleShot(response.delayMs, this,
                               [this, reply = response.reply] { answer(reply); });
        } else {
            answer(response.reply);
        }
        return;
    case Outcome::WrongPassword:
    case Outcome::ClosedWithoutAnswer:
        closeGracefully();
        return;
    case Outcome::NoAnswer:
        return;
    case Outcome::Flooding:
        flood_ = new FloodWriter(socket_, floodByteLimit, floodTimeLimitMs, this);
        flood_->start();
        return;
    }
}

void UnitConnection::answer(const QByteArray& reply) {
    if (closing_ || socket_->state() != QAbstractSocket::ConnectedState) {
        return;
    }
    socket_->write(reply);
    closeGracefully();
}

void UnitConnection::closeGracefully() {
    closing_ = true;
    // Flushes whatever is still queued (preamble, reply) before the FIN goes out.
    socket_->disconnectFromHost();
}

void UnitConnection::abort() {
    closing_ = true;
    socket_->abort();
    // abort() on a socket that was already closing may not report the end again.
    onDisconnected();
}

void UnitConnection::onDisconnected() {
    if (closedReported_) {
        return;
    }
    if (socket_->state() != QAbstractSocket::UnconnectedState) {
        return;
    }
    closedReported_ = true;
    closing_ = true;
    emit closed(serial_);
}

} // namespace kavio::sim
