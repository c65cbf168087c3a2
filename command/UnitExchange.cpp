#include "UnitExchange.h"

#include "CommandEntry.h"

#include <QTcpSocket>
#include <QTimer>

namespace kavio {
namespace {

// Qt buffers no more than this of a unit's reply between two reads.
constexpr qint64 SocketReadBuffer = 4096;

QTimer* makeTimer(QObject* owner, int interval) {
    auto* timer = new QTimer(owner);
    timer->setInterval(interval);
    timer->setSingleShot(true);
    // The reply limit is part of the protocol's timing: no coarse slack.
    timer->setTimerType(Qt::PreciseTimer);
    return timer;
}

} // namespace

UnitExchange::UnitExchange(int connectTimeoutMs, int replyLimitMs, int maxReplyBytes,
                           QObject* parent)
    : QObject(parent)
    , ResponseTimer(makeTimer(this, replyLimitMs))
    , ConnectTimer(makeTimer(this, connectTimeoutMs))
    , maxReply(maxReplyBytes) {
    qRegisterMetaType<Ending>();
    connect(ResponseTimer, &QTimer::timeout, this, &UnitExchange::ResponseTimerTimer);
    connect(ConnectTimer, &QTimer::timeout, this, [this] {
        limitRanOut = true;
        connectFailed();
    });
}

UnitExchange::~UnitExchange() {
    dropSocket();
}

void UnitExchange::start(const std::optional<QHostAddress>& address, quint16 port,
                         const QByteArray& password, char letter) {
    commandLetter = letter;
    commandFrame = CommandFrame(password, letter);
    replyBytes.clear();
    limitRanOut = false;
    commandWritten = false;
    phase = Phase::Connecting;
    if (!address || port == 0) {
        QMetaObject::invokeMethod(this, &UnitExchange::connectFailed, Qt::QueuedConnection);
        return;
    }
    TCP = socketFactory ? socketFactory(this) : new QTcpSocket(this);
    TCP->setReadBufferSize(SocketReadBuffer);
    connect(TCP, &QTcpSocket::connected, this, &UnitExchange::TCPConnected);
    connect(TCP, &QTcpSocket::disconnected, this, &UnitExchange::TCPDisconnected);
    connect(TCP, &QTcpSocket::readyRead, this, &UnitExchange::readReply);
    connect(TCP, &QTcpSocket::errorOccurred, this, &UnitExchange::socketError);
    ConnectTimer->start();
    TCP->connectToHost(*address, port);
}

void UnitExchange::TCPConnected() {
    if (phase != Phase::Connecting)
        return;
    ConnectTimer->stop();
    emit logged(QStringLiteral("  CONNECTED"));
    SendCommand();
}

bool UnitExchange::SendCommand() {
    emit logged(QStringLiteral("  Sending the %1 Command").arg(QLatin1Char(commandLetter)));
    phase = Phase::Reading;
    if (!TCP || TCP->write(commandFrame) != commandFrame.size()) {
        end(Ending::WriteFailed);
        return false;
    }
    commandWritten = true;
    ResponseTimer->start();
    // Bytes the unit sent before the command arrived belong to the reply too.
    readReply();
    return true;
}

// Everything that arrived so far joins the reply, up to one byte more than the longest status
// word: a reply that long can only mean "unknown", so the exchange ends at once.
void UnitExchange::readReply() {
    if (phase != Phase::Reading || !TCP)
        return;
    takeReplyBytes();
    if (replyBytes.size() >= maxReply)
        end(Ending::Read);
}

void UnitExchange::takeReplyBytes() {
    if (TCP)
        replyBytes.append(TCP->read(maxReply - replyBytes.size()));
}

void UnitExchange::TCPDisconnected() {
    if (phase != Phase::Reading)
        return;
    end(commandUnsent() ? Ending::WriteFailed : Ending::Read);
}

void UnitExchange::ResponseTimerTimer() {
    if (phase == Phase::Reading) {
        limitRanOut = true;
        end(Ending::Read);
    }
    ResponseTimer->stop();
}

void UnitExchange::socketError(QAbstractSocket::SocketError error) {
    if (phase == Phase::Connecting)
        connectFailed();
    else if (phase == Phase::Reading && commandUnsent())
        end(Ending::WriteFailed);
    else if (phase == Phase::Reading && error != QAbstractSocket::RemoteHostClosedError)
        end(Ending::Broken);
}

// The socket hands the command to the network after write() has returned; a connection that
// breaks while part of it is still waiting there has failed while writing, not while reading.
bool UnitExchange::commandUnsent() const {
    return TCP && TCP->bytesToWrite() > 0;
}

void UnitExchange::connectFailed() {
    if (phase == Phase::Connecting)
        end(Ending::NotConnected);
}

// The end, however it came. What was read up to now is kept (nothing after a failed write).
void UnitExchange::end(Ending ending) {
    ConnectTimer->stop();
    ResponseTimer->stop();
    if (ending == Ending::Read || ending == Ending::Broken)
        takeReplyBytes();
    else
        replyBytes.clear();
    if (ending == Ending::WriteFailed)
        commandWritten = false;
    phase = Phase::Idle;
    dropSocket();
    emit ended(ending);
}

void UnitExchange::dropSocket() {
    if (!TCP)
        return;
    TCP->disconnect(this);
    TCP->abort();
    TCP->deleteLater();
    TCP = nullptr;
}

} // namespace kavio
