#pragma once

#include <QAbstractSocket>
#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <functional>
#include <optional>

class QTcpSocket;
class QTimer;

namespace kavio {

// One exchange with one unit over one short TCP connection: connect, write the command frame,
// read the reply until the unit closes, the reply limit runs out, or the reply grows beyond the
// longest status word. It knows nothing of the queue or the database: the engine reads the unit
// before and stores what it answered after.
class UnitExchange : public QObject {
    Q_OBJECT

public:
    using SocketFactory = std::function<QTcpSocket*(QObject* parent)>;

    enum class Ending {
        // No connection was made (refused, timed out, or no address that may be dialled).
        NotConnected,
        // The connection broke while the command was being written: nothing was read.
        WriteFailed,
        // The reading ended normally: the unit closed, or the limit ran out.
        Read,
        // The connection broke while the reply was read.
        Broken,
    };

    UnitExchange(int connectTimeoutMs, int replyLimitMs, int maxReplyBytes, QObject* parent);
    ~UnitExchange() override;

    void setSocketFactory(SocketFactory factory) { socketFactory = std::move(factory); }

    // Starts the exchange; ended() follows from the event loop, never from within this call. No
    // address (a record that does not hold a dotted IPv4 address and a port in range) ends it as
    // NotConnected without dialling anything.
    void start(const std::optional<QHostAddress>& address, quint16 port, const QByteArray& password,
               char letter);
    bool running() const { return phase != Phase::Idle; }
    // The reply as kept: at most maxReplyBytes.
    const QByteArray& reply() const { return replyBytes; }
    // The connect limit or the reply limit ran out (the reply is what arrived by then).
    bool timedOut() const { return limitRanOut; }
    // The whole command was handed to the connection.
    bool written() const { return commandWritten; }

    QTimer* ResponseTimer;

signals:
    void logged(const QString& line);
    void ended(kavio::UnitExchange::Ending ending);

public slots:
    void TCPConnected();
    void TCPDisconnected();
    void ResponseTimerTimer();

private:
    enum class Phase { Idle, Connecting, Reading };

    bool SendCommand();
    void readReply();
    void takeReplyBytes();
    void socketError(QAbstractSocket::SocketError error);
    bool commandUnsent() const;
    void connectFailed();
    void end(Ending ending);
    void dropSocket();

    Phase phase = Phase::Idle;
    QPointer<QTcpSocket> TCP;
    QTimer* ConnectTimer;
    QByteArray commandFrame;
    char commandLetter = 0;
    QByteArray replyBytes;
    bool limitRanOut = false;
    bool commandWritten = false;
    const int maxReply;
    SocketFactory socketFactory;
};

} // namespace kavio

Q_DECLARE_METATYPE(kavio::UnitExchange::Ending)
