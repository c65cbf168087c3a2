#include "SimulatedUnit.h"

#include "UnitConnection.h"

#include <QTcpSocket>

namespace kavio::sim {

SimulatedUnit::SimulatedUnit(UnitConfig config, QObject* parent)
    : QObject(parent)
    , config_(std::move(config))
    , responder_(config_) {
    connect(&server_, &QTcpServer::newConnection, this, &SimulatedUnit::accept);
}

SimulatedUnit::~SimulatedUnit() {
    // Connections are children; detach them first so none reports back into a half-gone unit.
    for (UnitConnection* connection : std::as_const(open_)) {
        connection->disconnect(this);
    }
}

bool SimulatedUnit::listen(quint16 port, const QHostAddress& address) {
    return server_.listen(address, port);
}

void SimulatedUnit::close() {
    server_.close();
    const auto connections = open_.values();
    for (UnitConnection* connection : connections) {
        connection->abort();
    }
}

qint64 SimulatedUnit::unsentBytes() const {
    qint64 total = 0;
    for (const UnitConnection* connection : open_) {
        total += connection->unsentBytes();
    }
    return total;
}

void SimulatedUnit::setConfig(const UnitConfig& config) {
    config_ = config;
    responder_ = CommandResponder(config_);
}

void SimulatedUnit::clearRecords() {
    received_.clear();
    letters_.clear();
    recordOf_.clear();
}

void SimulatedUnit::accept() {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        const int serial = accepted_++;
        auto* connection = new UnitConnection(socket, serial, this);
        open_.insert(serial, connection);
        if (recording_) {
            recordOf_.insert(serial, received_.size());
            received_.append(QByteArray());
        }
        connect(connection, &UnitConnection::bytesArrived, this, &SimulatedUnit::onBytes);
        connect(connection, &UnitConnection::bytesSent, this,
                [this](qint64 count) { bytesSent_ += count; });
        connect(connection, &UnitConnection::commandArrived, this, &SimulatedUnit::onCommand);
        connect(connection, &UnitConnection::malformedCommand, this,
                &SimulatedUnit::malformedCommand);
        connect(connection, &UnitConnection::closed, this, &SimulatedUnit::onClosed);
        connection->start(config_.preamble);
    }
}

void SimulatedUnit::onBytes(int serial, const QByteArray& bytes) {
    const qsizetype index = recordOf_.value(serial, -1);
    if (index >= 0 && index < received_.size()) {
        received_[index].append(bytes);
    }
}

void SimulatedUnit::onCommand(int serial, const QByteArray& password, char letter) {
    if (recording_) {
        letters_.append(QByteArray(1, letter));
    }
    const Response response = responder_.respond(password, letter);
    emit commandReceived(password, letter);
    emit commandHandled(letter, response);
    if (UnitConnection* connection = open_.value(serial)) {
        connection->carryOut(response, config_.floodByteLimit, config_.floodTimeLimitMs);
    }
}

void SimulatedUnit::onClosed(int serial) {
    recordOf_.remove(serial);
    UnitConnection* connection = open_.take(serial);
    if (!connection) {
        return;
    }
    // Not deleted on the spot: the socket is still inside its own signal emission.
    connection->deleteLater();
    emit connectionClosed();
}

} // namespace kavio::sim
