#include "CommandEngine.h"

#include "Codes.h"
#include "Exception.h"
#include "GlobalFunctions.h"
#include "UnitAddress.h"
#include "UnitLookup.h"

#include <QDateTime>
#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

namespace kavio {
namespace {

// Qt buffers no more than this of a unit's reply between two reads.
constexpr qint64 SocketReadBuffer = 4096;

QTimer* makeTimer(QObject* owner, int interval, bool singleShot) {
    auto* timer = new QTimer(owner);
    timer->setInterval(interval);
    timer->setSingleShot(singleShot);
    // The pause and the reply limit are part of the protocol's timing: no coarse slack.
    timer->setTimerType(Qt::PreciseTimer);
    return timer;
}

} // namespace

TCommandEngine::TCommandEngine(QObject* parent)
    : QObject(parent)
    , Timer1(makeTimer(this, PauseMs, true))
    , Timer2(makeTimer(this, WatchIntervalMs, false))
    , ResponseTimer(makeTimer(this, ReplyLimitMs, true))
    , StoreRetryTimer(makeTimer(this, StoreRetryMs, false))
    , ConnectTimer(makeTimer(this, ConnectTimeoutMs, true)) {
    qRegisterMetaType<TCommandResult>();
    connect(Timer1, &QTimer::timeout, this, &TCommandEngine::Timer1Timer);
    connect(Timer2, &QTimer::timeout, this, &TCommandEngine::Timer2Timer);
    connect(ResponseTimer, &QTimer::timeout, this, &TCommandEngine::ResponseTimerTimer);
    connect(ConnectTimer, &QTimer::timeout, this, [this] {
        timedOut = true;
        connectFailed();
    });
    connect(StoreRetryTimer, &QTimer::timeout, this, &TCommandEngine::retryStore);
    Timer2->start();
}

TCommandEngine::~TCommandEngine() {
    dropSocket();
}

quint64 TCommandEngine::AddToQueue(quint16 index, quint8 task, CommandSource source) {
    Queue.append(TCommandEntry{index, task, ++lastTicket, source});
    return lastTicket;
}

// StartQueue itself does nothing while Busy is set.
void TCommandEngine::Timer2Timer() {
    if (!Queue.isEmpty())
        StartQueue();
}

void TCommandEngine::StartQueue() {
    if (Busy)
        return;
    Busy = true;
    StartSession();
}

void TCommandEngine::StartSession() {
    // An entry that cannot be served (its unit is gone, it names a group, its task is unknown)
    // is dropped here without contacting anything; the queue goes on with the next. A long run
    // of such entries (a request naming thousands of keys) is dropped a slice at a time from the
    // event loop, so that the window and the other producers never wait for it.
    UnitLookup lookup;
    for (int dropped = 0; !Queue.isEmpty(); ++dropped) {
        if (dropped == DropsPerTurn) {
            QTimer::singleShot(0, this, &TCommandEngine::resumeSession);
            return;
        }
        if (takeHeadUnit(lookup))
            return;
        dropHead();
    }
    Busy = false;
}

void TCommandEngine::resumeSession() {
    if (Busy && phase == Phase::Idle)
        StartSession();
}

void TCommandEngine::dropHead() {
    const TCommandEntry head = Queue.takeFirst();
    TCommandResult result;
    result.Ticket = head.Ticket;
    result.Index = head.Index;
    result.Task = head.Task;
    result.Source = head.Source;
    result.StartedMs = QDateTime::currentMSecsSinceEpoch();
    announceResult(result);
}

void TCommandEngine::log(const QString& text) {
    emit logged(text);
    emit loggedLine({QDateTime::currentMSecsSinceEpoch(), unitName, unitAddress, unitPort, text});
}

// Reads the head entry's unit and starts connecting to it. False when the entry is to be dropped.
bool TCommandEngine::takeHeadUnit(UnitLookup& lookup) {
    const TCommandEntry head = Queue.first();
    startedMs = QDateTime::currentMSecsSinceEpoch();
    exchangeClock.start();
    timedOut = false;
    written = false;
    unitName.clear();
    unitAddress.clear();
    unitPort = 0;
    if (CommandLetterOf(head.Task) == 0) {
        log(QStringLiteral("Unknown task %1 for unit %2 dropped").arg(head.Task).arg(head.Index));
        return false;
    }
    std::optional<UnitRecord> unit;
    try {
        unit = lookup.find(head.Index);
    } catch (const Exception& error) {
        reportStoreFailure(error.message());
        return false;
    }
    if (!unit || unit->group)
        return false;
    const QString host = unit->address;
    const QVariant port = unit->port;
    UnitPassword = unit->password;
    unitName = unit->name;
    unitAddress = host;
    const uint portValue = port.toUInt();
    unitPort = portValue <= 65535 ? quint16(portValue) : 0;

    // The frame is ESC password ESC letter CR: a control character in a hand-edited password
    // would end the frame early and could carry a command of its own, so it is never sent.
    if (HasControlCharacter(UnitPassword)) {
        refuseRecord(head.Index);
        return true;
    }
    refusedRecords.remove(head.Index);

    log(QStringLiteral("Connecting ") + host);
    phase = Phase::Connecting;

    // The record may have been edited by hand: only a dotted IPv4 address and a port in range
    // are dialled, anything else fails like an unreachable unit (and no name lookup is made).
    const std::optional<QHostAddress> address = DottedIPv4(host);
    bool portOk = false;
    const qint64 portNumber = port.toLongLong(&portOk);
    if (!address || !portOk || portNumber < 1 || portNumber > 65535) {
        QMetaObject::invokeMethod(this, &TCommandEngine::connectFailed, Qt::QueuedConnection);
        return true;
    }

    TCP = socketFactory ? socketFactory(this) : new QTcpSocket(this);
    TCP->setReadBufferSize(SocketReadBuffer);
    connect(TCP, &QTcpSocket::connected, this, &TCommandEngine::TCPConnected);
    connect(TCP, &QTcpSocket::disconnected, this, &TCommandEngine::TCPDisconnected);
    connect(TCP, &QTcpSocket::readyRead, this, &TCommandEngine::readReply);
    connect(TCP, &QTcpSocket::errorOccurred, this, &TCommandEngine::socketError);
    ConnectTimer->start();
    TCP->connectToHost(*address, quint16(portNumber));
    return true;
}

char TCommandEngine::CommandLetter() const {
    return Queue.isEmpty() ? char(0) : CommandLetterOf(Queue.first().Task);
}

void TCommandEngine::TCPConnected() {
    if (phase != Phase::Connecting)
        return;
    ConnectTimer->stop();
    log(QStringLiteral("  CONNECTED"));
    SendCommand(CommandLetter());
}

bool TCommandEngine::SendCommand(char letter) {
    log(QStringLiteral("  Sending the %1 Command").arg(QLatin1Char(letter)));
    const QByteArray frame = CommandFrame(UnitPassword.toUtf8(), letter);
    reply.clear();
    phase = Phase::Reading;
    if (!TCP || TCP->write(frame) != frame.size()) {
        writeFailed();
        return false;
    }
    written = true;
    ResponseTimer->start();
    // Bytes the unit sent before the command arrived belong to the reply too.
    readReply();
    return true;
}

// Everything that arrived so far joins the reply, up to one byte more than the longest status
// word: a reply that long can only mean "unknown", so the exchange ends at once.
void TCommandEngine::readReply() {
    if (phase != Phase::Reading || !TCP)
        return;
    takeReplyBytes();
    if (reply.size() > LongestReplyWord)
        finishReading(false);
}

void TCommandEngine::takeReplyBytes() {
    if (!TCP)
        return;
    reply.append(TCP->read(MaxReplyBytes - reply.size()));
}

void TCommandEngine::TCPDisconnected() {
    if (phase == Phase::Reading && commandUnsent())
        writeFailed();
    else if (phase == Phase::Reading)
        finishReading(false);
}

void TCommandEngine::ResponseTimerTimer() {
    if (phase == Phase::Reading) {
        timedOut = true;
        finishReading(false);
    }
    ResponseTimer->stop();
}

void TCommandEngine::socketError(QAbstractSocket::SocketError error) {
    if (phase == Phase::Connecting)
        connectFailed();
    else if (phase == Phase::Reading && commandUnsent())
        writeFailed();
    else if (phase == Phase::Reading && error != QAbstractSocket::RemoteHostClosedError)
        finishReading(true);
}

// The socket hands the command to the network after write() has returned; a connection that
// breaks while part of it is still waiting there has failed while writing, not while reading.
bool TCommandEngine::commandUnsent() const {
    return TCP && TCP->bytesToWrite() > 0;
}

// Writing the command failed: nothing was read, so the unit's status stays as it was.
void TCommandEngine::writeFailed() {
    written = false;
    ResponseTimer->stop();
    phase = Phase::Pausing;
    dropSocket();
    log(QStringLiteral("  FAILED"));
    Timer1->start();
    finish(TCommandResult::Outcome::Broken, StatusUnknown, true);
}

// The end of the reading, however it came: the unit closed, the reply limit ran out, or an error.
void TCommandEngine::finishReading(bool failed) {
    ResponseTimer->stop();
    takeReplyBytes();
    phase = Phase::Pausing;
    dropSocket();

    const quint16 index = Queue.first().Index;
    const quint8 code = ParseStatus(reply);
    const bool stored = storeStatus(index, code);
    if (code == StatusCycle)
        AddToQueue(index, TaskQuery, CommandSource::CycleFollowUp);
    // The log never reports success for a status that is not in the database yet.
    if (stored)
        log(QStringLiteral("  SUCCESS"));
    if (failed || !stored)
        log(QStringLiteral("  FAILED"));
    // The pause starts before anyone hears of the change, so that nothing a listener does can
    // keep the queue from going on.
    Timer1->start();
    finish(failed ? TCommandResult::Outcome::Broken : TCommandResult::Outcome::Answered, code,
           stored);
    announceStatusChange();
}

// Tells the producer of the head entry how it ended; the entry itself stays at the head until
// NextEntry.
void TCommandEngine::finish(TCommandResult::Outcome outcome, quint8 status, bool stored) {
    announceResult(resultOf(Queue.first(), outcome, status, stored));
}

TCommandResult TCommandEngine::resultOf(const TCommandEntry& head, TCommandResult::Outcome outcome,
                                        quint8 status, bool stored) const {
    TCommandResult result;
    result.Ticket = head.Ticket;
    result.Index = head.Index;
    result.Task = head.Task;
    result.Result = outcome;
    result.Name = unitName;
    result.Reply = reply;
    result.Status = status;
    result.Stored = stored;
    result.Source = head.Source;
    result.Address = unitAddress;
    result.Port = unitPort;
    result.StartedMs = startedMs;
    result.DurationMs = exchangeClock.isValid() ? exchangeClock.elapsed() : 0;
    result.TimedOut = timedOut;
    result.Written = written;
    return result;
}

// A listener's failure is reported and goes no further: the queue must go on.
void TCommandEngine::announceResult(const TCommandResult& result) {
    try {
        emit exchangeFinished(result);
    } catch (const std::exception& error) {
        reportException(error);
    }
}

void TCommandEngine::announceStatusChange() {
    try {
        emit statusChanged();
    } catch (const std::exception& error) {
        reportException(error);
    }
}

// The head entry's record cannot be sent: the exchange ends before connecting, the unit's status
// stays as it was, and the operator hears of the record once.
void TCommandEngine::refuseRecord(quint16 index) {
    const QString why =
        QStringLiteral("The password of unit %1 (key %2) holds a control character; nothing was "
                       "sent to it")
            .arg(unitName)
            .arg(index);
    log(why);
    log(QStringLiteral("  FAILED"));
    reply.clear();
    phase = Phase::Pausing;
    Timer1->start();
    if (!refusedRecords.contains(index)) {
        refusedRecords.insert(index);
        emit recordRefused(why);
    }
    finish(TCommandResult::Outcome::Refused, StatusUnknown, true);
}

void TCommandEngine::connectFailed() {
    if (phase != Phase::Connecting)
        return;
    ConnectTimer->stop();
    dropSocket();
    phase = Phase::Idle;
    reply.clear();
    log(QStringLiteral("  FAILED"));
    emit connectionFailed(unitName);
    const bool stored = storeStatus(Queue.first().Index, StatusError);
    finish(TCommandResult::Outcome::NotConnected, StatusError, stored);
    announceStatusChange();
    NextEntry();
}

// Writes the unit's new status, after any that are still waiting (a newer status of the same
// unit replaces its waiting one). False when it had to be kept for later.
bool TCommandEngine::storeStatus(quint16 index, quint8 code) {
    pendingStatus.insert(index, code);
    const QString error = writeUnstoredStatuses();
    if (!error.isEmpty())
        reportStoreFailure(error);
    return error.isEmpty();
}

// Writes the waiting statuses one by one; at the first failure the rest wait too (each try may
// wait for the lock a little), and the retry timer takes over. Gives the store's error, if any.
QString TCommandEngine::writeUnstoredStatuses() {
    while (!pendingStatus.isEmpty()) {
        const auto first = pendingStatus.constBegin();
        try {
            SetStatus(MasterTable, first.key(), first.value());
        } catch (const Exception& error) {
            MasterTable.close();
            StoreRetryTimer->start();
            return error.message();
        }
        pendingStatus.erase(first);
    }
    StoreRetryTimer->stop();
    storeFailing = false;
    return {};
}

// Tries the waiting statuses again; the failure was told already.
void TCommandEngine::retryStore() {
    if (writeUnstoredStatuses().isEmpty())
        announceStatusChange();
}

// The failure goes into the log at once; the listeners hear of a failing store once, until it
// works again, and not in the middle of an exchange: the signal waits for the event loop.
void TCommandEngine::reportStoreFailure(const QString& message) {
    log(message);
    if (storeFailing)
        return;
    storeFailing = true;
    QTimer::singleShot(0, this, [this, message] { emit storeFailed(message); });
}

void TCommandEngine::Timer1Timer() {
    Timer1->stop();
    if (phase != Phase::Pausing)
        return;
    phase = Phase::Idle;
    NextEntry();
}

void TCommandEngine::NextEntry() {
    if (!Queue.isEmpty())
        Queue.removeFirst();
    if (!Queue.isEmpty())
        StartSession();
    else
        Busy = false;
}

void TCommandEngine::dropSocket() {
    if (!TCP)
        return;
    TCP->disconnect(this);
    TCP->abort();
    TCP->deleteLater();
    TCP = nullptr;
}

} // namespace kavio
