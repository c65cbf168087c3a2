#pragma once

#include "CommandEntry.h"
#include "CommandResult.h"
#include "Table.h"
#include "UnitExchange.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

class QTcpSocket;
class QTimer;

namespace kavio {

class UnitLookup;
struct UnitRecord;

// The exchange with the units: one queue of commands, each served over one short TCP connection.
// It has no window: the control center shows its log in the command processor window, and
// kavioctl runs one of its own when no control center is running.
//
// Any number of producers (buttons, polling, timers, kavioctl through the control center, and
// the engine itself after a "CYCLE" reply) only ever append to the queue with AddToQueue. Only
// the engine removes an entry, once its exchange and the pause after it are over.
// Everything runs on the event loop: no call here waits.
//
// By default one exchange runs at a time, the head entry's, with a pause after each (Timer1).
// With setParallel(N) up to N exchanges run at once, one per lane. A unit never has two: an entry
// waits while an earlier entry of its key, or any exchange with the same address and port, is
// under way or in the pause after it, so each unit keeps its own pause and its commands run in
// the order they were queued; entries of different units may overtake each other. A parallel
// exchange's log lines are written together when it ends, each led by the unit's name.
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
    // The pause between the end of one exchange and the next entry (of the lane, and so of the
    // unit).
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
    // At most this many exchanges start in one turn of the event loop.
    static constexpr int StartsPerTurn = 8;
    // The range of exchanges that may run at once.
    static constexpr int MinParallel = 1;
    static constexpr int MaxParallel = 256;
    // Looking for entries that may start, no more than this many waiting ones are passed over
    // in one go; the rest are looked at when a lane comes free.
    static constexpr int ScanLimit = 4096;

    // Makes the socket of each exchange; a test hands in one that fails on demand.
    using SocketFactory = UnitExchange::SocketFactory;

    explicit TCommandEngine(QObject* parent = nullptr);
    ~TCommandEngine() override;

    // nullptr (the default): a plain QTcpSocket.
    void setSocketFactory(SocketFactory factory);
    // How many exchanges may run at once, clamped to MinParallel..MaxParallel. Lowered while
    // more run, the lanes beyond finish what they serve and take nothing new.
    void setParallel(int exchanges);
    int parallel() const { return Parallel; }
    // Held, the engine starts no new exchange; those under way end as usual. A service that is
    // told to end holds its queue and waits for them.
    void setHeld(bool held);
    // Exchanges under way now (not counting the pause after one).
    int exchangesUnderWay() const;

    // Another program serves the units (a control center following the service): every entry
    // goes to `forward` instead of the queue here, and nothing is served here. The program's
    // reports come out of this engine's signals as if its exchanges ran here, and its queue's
    // length is kept with setForwardedQueue. An empty function serves the units here again.
    using Forward = std::function<void(const TCommandEntry& entry)>;
    void setForward(Forward forward);
    bool forwarding() const { return bool(forwardTo); }
    void setForwardedQueue(int length, CommandSource head);
    // The entries not finished yet and who queued the first of them: here, or as the program
    // serving the units last told.
    int queueLength() const;
    CommandSource queueHead() const;

    // Appends a command; the ticket returned comes back in its exchangeFinished.
    quint64 AddToQueue(quint16 index, quint8 task, CommandSource source = CommandSource::Button);
    void StartQueue();
    void StartSession();
    char CommandLetter() const;

    bool busy() const { return Busy; }
    // The entries not finished yet, in the order they were queued: those under way or in the
    // pause after their exchange among them.
    const QList<TCommandEntry>& queue() const { return Queue; }
    // Entries whose exchange has not ended yet: waiting or under way (not those in the pause
    // after theirs).
    int unfinishedCount() const;
    QList<TCommandEntry> unfinished() const;
    // Entries not started yet, and a guess of how long serving them takes at the current pacing.
    int entriesLeft() const;
    qint64 estimatedMsLeft() const;
    // The reply of the last exchange, as kept.
    const QByteArray& lastReply() const { return reply; }
    // Statuses read from units but not written yet (unit index -> status code).
    const QMap<quint16, quint8>& unstoredStatuses() const { return pendingStatus; }

    QTimer* Timer1;
    QTimer* Timer2;
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

private:
    struct Lane;
    enum class Pick { Started, Waits, Dropped };

    Lane& lane(int number);
    Lane* idleLane();
    bool anyLaneActive() const;
    Pick startEntry(int position, Lane& lane, UnitLookup& lookup);
    void resumeSession();
    void refuseRecord(Lane& lane);
    void exchangeEnded(Lane& lane, UnitExchange::Ending ending);
    void connectFailed(Lane& lane);
    void readingEnded(Lane& lane, bool failed);
    void log(Lane& lane, const QString& line);
    void log(const QString& line);
    TCommandResult resultOf(const Lane& lane, TCommandResult::Outcome outcome, quint8 status,
                            bool stored) const;
    void flushLog(Lane& lane);
    bool storeStatus(quint16 index, quint8 code);
    QString writeUnstoredStatuses();
    void retryStore();
    void reportStoreFailure(const QString& message);
    void finish(Lane& lane, TCommandResult::Outcome outcome, quint8 status, bool stored);
    void startPause(Lane& lane);
    void laneDone(Lane& lane);
    void dropAt(int position);
    void announceResult(const TCommandResult& result);
    void announceStatusChange();

    TTable MasterTable{QStringLiteral("Master.DB")};
    QList<TCommandEntry> Queue;
    quint64 lastTicket = 0;
    bool Busy = false;
    bool Held = false;
    int Parallel = MinParallel;
    std::vector<std::unique_ptr<Lane>> lanes;
    SocketFactory socketFactory;
    Forward forwardTo;
    int forwardedLength = 0;
    CommandSource forwardedHead = CommandSource::Button;
    QByteArray reply;
    // Recent exchanges' length, for the estimate.
    double averageExchangeMs = 0;
    QMap<quint16, quint8> pendingStatus;
    bool storeFailing = false;
    // Records refused already, told once each.
    QSet<quint16> refusedRecords;
};

} // namespace kavio
