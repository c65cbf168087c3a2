#pragma once

#include "CommandFrame.h"
#include "Response.h"

#include <QByteArray>
#include <QObject>

class QTcpSocket;

namespace kavio::sim {

class FloodWriter;

// One accepted connection of a simulated unit: writes the preamble, collects the command frame
// however it is split, and carries out the Response the unit decided on. Owns its socket.
class UnitConnection : public QObject {
    Q_OBJECT
public:
    // Bytes a connection keeps after its command; anything beyond is read and dropped.
    static constexpr qsizetype MaxRecordedBytes = CommandFrame::MaxFrameBytes;

    UnitConnection(QTcpSocket* socket, int serial, QObject* parent = nullptr);

    // Starts serving: the preamble goes out before anything is read.
    void start(const QByteArray& preamble);

    void carryOut(const Response& response, qint64 floodByteLimit, int floodTimeLimitMs);

    // Ends the connection at once, without a word.
    void abort();

    int serial() const { return serial_; }
    qint64 unsentBytes() const;

signals:
    void bytesArrived(int serial, QByteArray bytes);
    void bytesSent(qint64 count);
    void commandArrived(int serial, QByteArray password, char letter);
    void malformedCommand(int serial);
    void closed(int serial);

private:
    void readAvailable();
    void closeGracefully();
    void answer(const QByteArray& reply);
    void onDisconnected();

    QTcpSocket* socket_;
    int serial_;
    CommandFrame frame_;
    qsizetype received_ = 0;
    bool closing_ = false;
    bool closedReported_ = false;
    FloodWriter* flood_ = nullptr;
};

} // namespace kavio::sim
