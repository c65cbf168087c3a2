#pragma once

#include "CommandEntry.h"
#include "CommandResult.h"
#include "Table.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <functional>

class QTcpSocket;
class QTimer;

namespace kavio {

class UnitLookup;

// The exchange with the units: one queue of commands, served strictly one at a time over one
// short TCP connection each. It has no window: the control center shows its log in the command
// processor window, and kavioctl runs one of its own when no control center is running.
//
// Any number of producers (buttons, polling, timers, kavioctl through the control center, and
// the engine itself after a "CYCLE" reply) only ever append to the queue with AddToQueue. Only
// the engine removes an entry, and only the head, once its exchange is over (NextEntry).
// Everything runs on the event loop: no call here waits.
//
// A status that cannot be written (another program holds the database locked) is kept and
// written again every StoreRetryMs until it goes in; storeFailed is emitted once per failing
// spell, and the log says "  FAILED" instead of "  SUCCESS" for that exchange.
class TCommandEngine : public QObject {
    Q_OBJECT

public:
    // A connect that has not succeeded by then is given up like a refused one.
    static constexpr int ConnectTimeoutMs = 5000;
    // The reply ends when the unit closes the connection or this long after the write.
    static constexpr int ReplyLimitMs = 500;
    // The pause between the end of one exchange and the next entry.
    static constexpr int PauseMs = 100;
    // How often the idle engine looks for work.
    static constexpr int WatchIntervalMs = 100;
    // The longest status word a unit answers ("CYCLE").
    static constexpr int LongestReplyWord = 5;
    // A reply that grows beyond the longest status word can only mean "unknown": the exchange
    // ends as soon as it does, and no more than this is ever kept.
    static constexpr int MaxReplyBytes = LongestReplyWord + 1;
    // How often statuses that could not be written are tried again.
    static constexpr int StoreRetryMs = 500;
    // At most this many entries that name no unit are dropped in one turn of the event loop.
    static constexpr int DropsPerTurn = 128;

    // Makes the socket of each exchange; a test hands in one that fails on demand.
    using SocketFactory = std::function<QTcpSocket*(QObject* parent)>;

    explicit TCommandEngine(QObject* parent = nullptr);
    ~TCommandEngine() override;

    // nullptr (the default): a plain QTcpSocket.
    void setSocketFactory(SocketFactory factory) { socketFactory = std::move(factory); }

    // Appends a command; the ticket returned comes back in its exchangeFinished.
    quint64 AddToQueue(quint16 index, quint8 task, CommandSource source = CommandSource::Button);
    void StartQueue();
    void StartSession();
    char CommandLetter() const;
    bool SendCommand(char letter);
    void NextEntry();

    bool busy() const { return Busy; }
    const QList<TCommandEntry>& queue() const { return Queue; }
    // The reply of the current or last exchange, as kept.
    const QByteArray& lastReply() const { return reply; }
    // Statuses read from units but not written yet (unit index -> status code).
    const QMap<quint16, quint8>& unstoredStatuses() const { return pendingStatus; }

    QTimer* Timer1;
    QTimer* Timer2;
    QTimer* ResponseTimer;
    QTimer* StoreRetryTimer;

signals:
    // One line of the exchange's log ("Connecting 10.0.0.5", "  SUCCESS", ...).
    void logged(const QString& line);
    // The same line with its time and the unit of its exchange, for logs that show them.
    void loggedLine(const kavio::TLogLine& line);
    // After every exchange, after a failed connection, and when statuses kept while the
    // database was locked have been written.
    void statusChanged();
    // No connection could be made to the unit of that name.
    void connectionFailed(const QString& unitName);
    // The database refused a read or a status write; emitted from the event loop, once until
    // the store works again.
    void storeFailed(const QString& message);
    // A unit's record cannot be sent as it stands (a control character in its password);
    // emitted once per record, before the entry's exchangeFinished.
    void recordRefused(const QString& message);
    // The entry with this ticket is done, however it ended.
    void exchangeFinished(const kavio::TCommandResult& result);

public slots:
    void Timer1Timer();
    void Timer2Timer();
    void ResponseTimerTimer();
    void TCPConnected();
    void TCPDisconnected();

private:
    enum class Phase { Idle, Connecting, Reading, Pausing };

    bool takeHeadUnit(UnitLookup& lookup);
    void resumeSession();
    void refuseRecord(quint16 index);
    void connectFailed();
    void readReply();
    void takeReplyBytes();
    bool storeStatus(quint16 index, quint8 code);
    QString writeUnstoredStatuses();
    void retryStore();
    void reportStoreFailure(const QString& message);
    void finishReading(bool failed);
    bool commandUnsent() const;
    void writeFailed();
    void finish(TCommandResult::Outcome outcome, quint8 status, bool stored);
    void dropHead();
    void log(const QString& text);
    TCommandResult resultOf(const TCommandEntry& head, TCommandResult::Outcome outcome,
                            quint8 status, bool stored) const;
    void announceResult(const TCommandResult& result);
    void announceStatusChange();
    void socketError(QAbstractSocket::SocketError error);
    void dropSocket();

    TTable MasterTable{QStringLiteral("Master.DB")};
    QList<TCommandEntry> Queue;
    quint64 lastTicket = 0;
    bool Busy = false;
    Phase phase = Phase::Idle;
    QPointer<QTcpSocket> TCP;
    QTimer* ConnectTimer;
    QString UnitPassword;
    QString unitName;
    // The context of the current exchange, for its log lines and its result.
    QString unitAddress;
    quint16 unitPort = 0;
    qint64 startedMs = 0;
    QElapsedTimer exchangeClock;
    bool timedOut = false;
    bool written = false;
    QByteArray reply;
    SocketFactory socketFactory;
    QMap<quint16, quint8> pendingStatus;
    bool storeFailing = false;
    // Records refused already, told once each.
    QSet<quint16> refusedRecords;
};

} // namespace kavio
