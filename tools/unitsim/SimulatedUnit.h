#pragma once

#include "CommandResponder.h"
#include "Response.h"
#include "UnitConfig.h"

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QTcpServer>

namespace kavio::sim {

class UnitConnection;

// One simulated Kavio unit: a TCP server that takes one command per connection and reacts as
// its UnitConfig says. Everything runs on the thread's event loop; nothing blocks.
class SimulatedUnit : public QObject {
    Q_OBJECT
public:
    explicit SimulatedUnit(UnitConfig config = {}, QObject* parent = nullptr);
    ~SimulatedUnit() override;

    // port 0: any free port. False if the address/port cannot be bound.
    bool listen(quint16 port = 0, const QHostAddress& address = QHostAddress::LocalHost);
    // Stops accepting and ends every open connection without a word.
    void close();
    bool isListening() const { return server_.isListening(); }
    quint16 port() const { return server_.serverPort(); }
    QHostAddress address() const { return server_.serverAddress(); }

    // Applies to commands that arrive from now on, and starts the unit afresh: a Switch unit is
    // off again and a Cycle unit counts its "CYCLE" answers from zero.
    void setConfig(const UnitConfig& config);
    const UnitConfig& config() const { return config_; }

    // Whether a Switch (or Slow) unit is currently on; a cycle in progress counts as its start
    // state until it has ended.
    bool isOn() const { return responder_.switchMachine().isOn(); }

    int connectionCount() const { return accepted_; } // accepted so far
    int openConnectionCount() const { return int(open_.size()); }
    qint64 bytesSent() const { return bytesSent_; } // over all connections, as handed to TCP
    // Bytes queued in open connections that TCP has not taken yet; stays small even while
    // flooding a client that has stopped reading.
    qint64 unsentBytes() const;

    // Per accepted connection, every byte received on it in order (the first 4 KiB of each).
    QList<QByteArray> received() const { return received_; }
    // Per complete command (also those refused for a wrong password), its letter.
    QList<QByteArray> commandLetters() const { return letters_; }
    // A long-running simulator turns recording off so that its memory stays flat; the switch
    // applies to connections accepted and commands completed from then on.
    void setRecording(bool on) { recording_ = on; }
    void clearRecords();

signals:
    // After a complete ESC password ESC letter CR, whatever the password.
    void commandReceived(QByteArray password, char letter);
    // Right after commandReceived, with what the unit does about it.
    void commandHandled(char letter, kavio::sim::Response response);
    // Bytes that do not form a command; the unit closed without an answer.
    void malformedCommand();
    void connectionClosed(); // a connection ended, whichever side closed it

private:
    void accept();
    void onCommand(int serial, const QByteArray& password, char letter);
    void onBytes(int serial, const QByteArray& bytes);
    void onClosed(int serial);

    UnitConfig config_;
    CommandResponder responder_;
    QTcpServer server_;
    QHash<int, UnitConnection*> open_;
    int accepted_ = 0;
    qint64 bytesSent_ = 0;
    bool recording_ = true;
    QHash<int, qsizetype> recordOf_; // open connection serial -> its entry in received_
    QList<QByteArray> received_;
    QList<QByteArray> letters_;
};

} // namespace kavio::sim
