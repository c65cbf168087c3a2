#include "CommandProcessor.h"

#include "Codes.h"
#include "ConnectFailed.h"
#include "Exception.h"
#include "GlobalFunctions.h"
#include "UnitAddress.h"

#include <QHostAddress>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTcpSocket>
#include <QTimer>

namespace kavio {
namespace {

constexpr int MemoWidth = 185;
constexpr int ButtonWidth = 75;
constexpr int ButtonHeight = 25;
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

TCmndProc::TCmndProc(QWidget* parent)
    : QWidget(parent, Qt::Window)
    , Memo1(new QPlainTextEdit(this))
    , Button1(new QPushButton(tr("Clear"), this))
    , Button2(new QPushButton(tr("Close"), this))
    , Timer1(makeTimer(this, PauseMs, true))
    , Timer2(makeTimer(this, WatchIntervalMs, false))
    , ResponseTimer(makeTimer(this, ReplyLimitMs, true))
    , StoreRetryTimer(makeTimer(this, StoreRetryMs, false))
    , ConnectTimer(makeTimer(this, ConnectTimeoutMs, true))
    , logFlushTimer(new QTimer(this)) {
    setWindowTitle(QStringLiteral("CmndProc"));
    Memo1->setReadOnly(true);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Button1->resize(ButtonWidth, ButtonHeight);
    Button2->resize(ButtonWidth, ButtonHeight);
    resize(272, 304);

    connect(Button1, &QPushButton::clicked, this, &TCmndProc::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TCmndProc::Button2Click);
    connect(Timer1, &QTimer::timeout, this, &TCmndProc::Timer1Timer);
    connect(Timer2, &QTimer::timeout, this, &TCmndProc::Timer2Timer);
    connect(ResponseTimer, &QTimer::timeout, this, &TCmndProc::ResponseTimerTimer);
    connect(ConnectTimer, &QTimer::timeout, this, &TCmndProc::connectFailed);
    connect(StoreRetryTimer, &QTimer::timeout, this, &TCmndProc::retryStore);
    logFlushTimer->setInterval(LogFlushDelayMs);
    connect(logFlushTimer, &QTimer::timeout, this, &TCmndProc::flushLog);
    Timer2->start();
}

TCmndProc::~TCmndProc() {
    dropSocket();
}

void TCmndProc::resizeEvent(QResizeEvent*) {
    Memo1->setGeometry(0, 0, MemoWidth, height());
    const int x = MemoWidth + (width() - MemoWidth - ButtonWidth) / 2;
    Button2->move(x, height() - 2 * ButtonHeight);
    Button1->move(x, height() - 4 * ButtonHeight);
}

// Log lines are gathered and handed to the memo together shortly after: laying out text is the
// costliest step of an exchange, and this keeps it out of the exchange's own path.
void TCmndProc::log(const QString& line) {
    pendingLog << line;
    if (!logFlushTimer->isActive())
        logFlushTimer->start();
}

void TCmndProc::flushLog() {
    logFlushTimer->stop();
    if (pendingLog.isEmpty())
        return;
    Memo1->appendPlainText(pendingLog.join(QLatin1Char('\n')));
    pendingLog.clear();
}

QStringList TCmndProc::logLines() {
    flushLog();
    const QString text = Memo1->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

void TCmndProc::showEvent(QShowEvent* event) {
    flushLog();
    QWidget::showEvent(event);
}

void TCmndProc::Button1Click() {
    pendingLog.clear();
    Memo1->clear();
}

void TCmndProc::Button2Click() {
    hide();
}

void TCmndProc::AddToQueue(quint16 index, quint8 task) {
    Queue.append(TCommandEntry{index, task});
}

// StartQueue itself does nothing while Busy is set.
void TCmndProc::Timer2Timer() {
    if (!Queue.isEmpty())
        StartQueue();
}

void TCmndProc::StartQueue() {
    if (Busy)
        return;
    Busy = true;
    StartSession();
}

void TCmndProc::StartSession() {
    // An entry that cannot be served (its unit is gone, it names a group, its task is unknown)
    // is dropped here without contacting anything; the queue goes on with the next.
    while (!Queue.isEmpty()) {
        if (takeHeadUnit())
            return;
        Queue.removeFirst();
    }
    Busy = false;
}

// Reads the head entry's unit and starts connecting to it. False when the entry is to be dropped.
bool TCmndProc::takeHeadUnit() {
    const TCommandEntry head = Queue.first();
    if (CommandLetterOf(head.Task) == 0) {
        log(QStringLiteral("Unknown task %1 for unit %2 dropped").arg(head.Task).arg(head.Index));
        return false;
    }
    QString host;
    QVariant port;
    try {
        OpenByIndex(MasterTable, head.Index);
        if (MasterTable.eof() || MasterTable.fieldByName(QStringLiteral("Group")).asBoolean()) {
            MasterTable.close();
            return false;
        }
        host = MasterTable.fieldByName(QStringLiteral("IPAddress")).asString();
        port = MasterTable.fieldByName(QStringLiteral("Port")).value();
        UnitPassword = MasterTable.fieldByName(QStringLiteral("Password")).asString();
        unitName = MasterTable.fieldByName(QStringLiteral("Name")).asString();
        MasterTable.close();
    } catch (const Exception& error) {
        MasterTable.close();
        storeFailed(error.message());
        return false;
    }

    log(QStringLiteral("Connecting ") + host);
    phase = Phase::Connecting;

    // The record may have been edited by hand: only a dotted IPv4 address and a port in range
    // are dialled, anything else fails like an unreachable unit (and no name lookup is made).
    const std::optional<QHostAddress> address = DottedIPv4(host);
    bool portOk = false;
    const qint64 portNumber = port.toLongLong(&portOk);
    if (!address || !portOk || portNumber < 1 || portNumber > 65535) {
        QMetaObject::invokeMethod(this, &TCmndProc::connectFailed, Qt::QueuedConnection);
        return true;
    }

    TCP = socketFactory ? socketFactory(this) : new QTcpSocket(this);
    TCP->setReadBufferSize(SocketReadBuffer);
    connect(TCP, &QTcpSocket::connected, this, &TCmndProc::TCPConnected);
    connect(TCP, &QTcpSocket::disconnected, this, &TCmndProc::TCPDisconnected);
    connect(TCP, &QTcpSocket::readyRead, this, &TCmndProc::readReply);
    connect(TCP, &QTcpSocket::errorOccurred, this, &TCmndProc::socketError);
    ConnectTimer->start();
    TCP->connectToHost(*address, quint16(portNumber));
    return true;
}

char TCmndProc::CommandLetter() const {
    return Queue.isEmpty() ? char(0) : CommandLetterOf(Queue.first().Task);
}

void TCmndProc::TCPConnected() {
    if (phase != Phase::Connecting)
        return;
    ConnectTimer->stop();
    log(QStringLiteral("  CONNECTED"));
    SendCommand(CommandLetter());
}

bool TCmndProc::SendCommand(char letter) {
    log(QStringLiteral("  Sending the %1 Command").arg(QLatin1Char(letter)));
    const QByteArray frame = CommandFrame(UnitPassword.toUtf8(), letter);
    reply.clear();
    phase = Phase::Reading;
    if (!TCP || TCP->write(frame) != frame.size()) {
        writeFailed();
        return false;
    }
    ResponseTimer->start();
    // Bytes the unit sent before the command arrived belong to the reply too.
    readReply();
    return true;
}

// Everything that arrived so far joins the reply, up to one byte more than the longest status
// word: a reply that long can only mean "unknown", so the exchange ends at once.
void TCmndProc::readReply() {
    if (phase != Phase::Reading || !TCP)
        return;
    takeReplyBytes();
    if (reply.size() > LongestReplyWord)
        finishReading(false);
}

void TCmndProc::takeReplyBytes() {
    if (!TCP)
        return;
    reply.append(TCP->read(MaxReplyBytes - reply.size()));
}

void TCmndProc::TCPDisconnected() {
    if (phase == Phase::Reading && commandUnsent())
        writeFailed();
    else if (phase == Phase::Reading)
        finishReading(false);
}

void TCmndProc::ResponseTimerTimer() {
    if (phase == Phase::Reading)
        finishReading(false);
    ResponseTimer->stop();
}

void TCmndProc::socketError(QAbstractSocket::SocketError error) {
    if (phase == Phase::Connecting)
        connectFailed();
    else if (phase == Phase::Reading && commandUnsent())
        writeFailed();
    else if (phase == Phase::Reading && error != QAbstractSocket::RemoteHostClosedError)
        finishReading(true);
}

// The socket hands the command to the network after write() has returned; a connection that
// breaks while part of it is still waiting there has failed while writing, not while reading.
bool TCmndProc::commandUnsent() const {
    return TCP && TCP->bytesToWrite() > 0;
}

// Writing the command failed: nothing was read, so the unit's status stays as it was.
void TCmndProc::writeFailed() {
    ResponseTimer->stop();
    phase = Phase::Pausing;
    dropSocket();
    log(QStringLiteral("  FAILED"));
    Timer1->start();
}

// The end of the reading, however it came: the unit closed, the reply limit ran out, or an error.
void TCmndProc::finishReading(bool failed) {
    ResponseTimer->stop();
    takeReplyBytes();
    phase = Phase::Pausing;
    dropSocket();

    const quint16 index = Queue.first().Index;
    const quint8 code = ParseStatus(reply);
    const bool stored = storeStatus(index, code);
    if (code == StatusCycle)
        AddToQueue(index, TaskQuery);
    // The log never reports success for a status that is not in the database yet.
    if (stored)
        log(QStringLiteral("  SUCCESS"));
    if (failed || !stored)
        log(QStringLiteral("  FAILED"));
    // The pause starts before anyone hears of the change, so that nothing a listener does can
    // keep the queue from going on.
    Timer1->start();
    announceStatusChange();
}

void TCmndProc::announceStatusChange() {
    try {
        emit statusChanged();
    } catch (const std::exception& error) {
        reportException(error);
    }
}

void TCmndProc::connectFailed() {
    if (phase != Phase::Connecting)
        return;
    ConnectTimer->stop();
    dropSocket();
    phase = Phase::Idle;
    log(QStringLiteral("  FAILED"));
    ShowConnectFailed(unitName);
    storeStatus(Queue.first().Index, StatusError);
    announceStatusChange();
    NextEntry();
}

// Writes the unit's new status, after any that are still waiting (a newer status of the same
// unit replaces its waiting one). False when it had to be kept for later.
bool TCmndProc::storeStatus(quint16 index, quint8 code) {
    pendingStatus.insert(index, code);
    const QString error = writeUnstoredStatuses();
    if (!error.isEmpty())
        storeFailed(error);
    return error.isEmpty();
}

// Writes the waiting statuses one by one; at the first failure the rest wait too (each try may
// wait for the lock a little), and the retry timer takes over. Gives the store's error, if any.
QString TCmndProc::writeUnstoredStatuses() {
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
void TCmndProc::retryStore() {
    if (writeUnstoredStatuses().isEmpty())
        announceStatusChange();
}

// The operator hears of a failing store once, until it works again, and not in the middle of an
// exchange: the report waits for the event loop.
void TCmndProc::storeFailed(const QString& message) {
    log(message);
    if (storeFailing)
        return;
    storeFailing = true;
    QTimer::singleShot(0, this, [message] { reportException(DatabaseError(message)); });
}

void TCmndProc::Timer1Timer() {
    Timer1->stop();
    if (phase != Phase::Pausing)
        return;
    phase = Phase::Idle;
    NextEntry();
}

void TCmndProc::NextEntry() {
    if (!Queue.isEmpty())
        Queue.removeFirst();
    if (!Queue.isEmpty())
        StartSession();
    else
        Busy = false;
}

void TCmndProc::dropSocket() {
    if (!TCP)
        return;
    TCP->disconnect(this);
    TCP->abort();
    TCP->deleteLater();
    TCP = nullptr;
}

} // namespace kavio
