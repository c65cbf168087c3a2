#pragma once

#include "CommandEntry.h"
#include "CommandResult.h"
#include "Table.h"
#include "UnitExchange.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <unordered_map>
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
// Each unit (key) has its own line of waiting entries, served in the order they were queued; the
// units with work take turns, so however many entries one unit has waiting, another unit's first
// entry waits for at most one exchange of each unit ahead of it. A unit never has two exchanges
// at once, nor do two keys with the same address and port, and each unit rests PauseMs after an
// exchange before its next. The queue is bounded: MaxWaitingPerUnit entries waiting for one unit
// and MaxQueued in all; AddToQueue refuses beyond that (ticket 0, refusal() says why).
//
// By default one exchange runs at a time, with a pause after each (Timer1) before the next unit's.
// With setParallel(N) up to N exchanges run at once, one per lane; a lane is free again as soon
// as its exchange ends, while its unit rests. A parallel exchange's log lines are written
// together when it ends, each led by the unit's name.
//
// A unit answering "CYCLE" is asked again after each such answer, for at most the cycle limit
// (CycleLimitMs unless set) from its first "CYCLE": then it is left so, and that last result says
// so (StillCycling).
//
// A status that cannot be written (another program holds the database locked) is kept and
// written again every StoreRetryMs until it goes in; storeFailed is emitted once per failing
// spell, and the log says "  FAILED" instead of "  SUCCESS" for that exchange. With a row writer
// set, the exchange's history row goes into the database in the same transaction as its status.
class TCommandEngine : public QObject {
    Q_OBJECT

public:
    // A connect that has not succeeded by then is given up like a refused one.
    static constexpr int ConnectTimeoutMs = 5000;
    // The reply ends when the unit closes the connection or this long after the write.
    static constexpr int ReplyLimitMs = 500;
    // The pause between the end of one exchange and the unit's next (and, one at a time, the
    // next unit's).
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
    // The range of exchanges that may run at once; the open-files limit may allow fewer.
    static constexpr int MinParallel = 1;
    static constexpr int MaxParallel = 512;
    // Files kept free for everything but the exchanges' sockets (the database, the log, clients).
    static constexpr int FilesKeptFree = 64;
    // The queue's bounds: entries waiting for one unit, and entries in all.
    static constexpr int MaxWaitingPerUnit = 64;
    static constexpr int MaxQueued = 100000;
    // How long a unit that keeps answering "CYCLE" is asked again.
    static constexpr int CycleLimitMs = 60000;

    // Why AddToQueue refused an entry.
    enum class Refusal { None, UnitFull, QueueFull };

    // Makes the socket of each exchange; a test hands in one that fails on demand.
    using SocketFactory = UnitExchange::SocketFactory;

    explicit TCommandEngine(QObject* parent = nullptr);
    ~TCommandEngine() override;

    // nullptr (the default): a plain QTcpSocket.
    void setSocketFactory(SocketFactory factory);
    // How many exchanges may run at once, clamped to MinParallel..lanesAllowed(). Lowered while
    // more run, the lanes beyond finish what they serve and take nothing new.
    void setParallel(int exchanges);
    // MaxParallel, or fewer when the open-files limit leaves no room for that many sockets.
    static int lanesAllowed();
    // How long a unit answering "CYCLE" is asked again (CycleLimitMs by default).
    void setCycleLimit(int ms) { cycleLimitMs = ms; }
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

    // Appends a command; the ticket returned comes back in its exchangeFinished. 0 when the
    // queue refuses it (refusal() and refusalText() say why); nothing is queued then.
    quint64 AddToQueue(quint16 index, quint8 task, CommandSource source = CommandSource::Button);
    Refusal refusal() const { return lastRefusal; }
    QString refusalText() const { return refusalText(lastRefusal, QString()); }
    // The reason in words, naming the unit when it is given.
    static QString refusalText(Refusal why, const QString& unitName);
    // Why entries for these units would be refused now, all of them together; None when they
    // fit.
    Refusal wouldRefuse(const QList<TCommandEntry>& entries) const;
    // Entries waiting (not started) for the unit.
    int waitingFor(quint16 index) const;
    void StartQueue();
    void StartSession();
    char CommandLetter() const;

    bool busy() const { return Busy; }
    // The entries not finished yet, in the order they were queued: those under way or in the
    // pause after their exchange among them.
    QList<TCommandEntry> queue() const;
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

    // Writes a finished exchange's history row inside the transaction that writes its status;
    // throws Exception when it cannot. Results whose row went in so say (Recorded).
    using RowWriter = std::function<void(const TCommandResult& result)>;
    void setRowWriter(RowWriter writer) { rowWriter = std::move(writer); }

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
    struct UnitLine;
    struct Rest;
    enum class Pick { Started, Waits, Dropped };

    Lane& lane(int number);
    Lane* idleLane();
    bool anyLaneActive() const;
    Pick startEntry(quint64 ticket, Lane& lane, UnitLookup& lookup, quint64& endpoint);
    void resumeSession();
    void scheduleSession();
    void makeReady(quint16 key, bool first);
    void release(quint16 key, quint64 endpoint, quint64 ticket);
    void endRests();
    void armRestTimer();
    void refuseRecord(Lane& lane);
    void exchangeEnded(Lane& lane, UnitExchange::Ending ending);
    void connectFailed(Lane& lane);
    void readingEnded(Lane& lane, bool failed);
    void log(Lane& lane, const QString& line);
    void log(const QString& line);
    TCommandResult resultOf(const Lane& lane, TCommandResult::Outcome outcome, quint8 status,
                            bool stored) const;
    void flushLog(Lane& lane);
    bool storeStatus(quint16 index, quint8 code, TCommandResult* result = nullptr);
    QString writeUnstoredStatuses(TCommandResult* result = nullptr);
    QString writeStatuses(const TCommandResult* result, bool& rowRefused);
    void retryStore();
    void reportStoreFailure(const QString& message);
    void finish(Lane& lane, TCommandResult::Outcome outcome, quint8 status, bool stored);
    void startPause(Lane& lane);
    void markOver(quint64 ticket);
    void laneDone(Lane& lane);
    void drop(quint64 ticket);
    void announceResult(const TCommandResult& result);
    void announceStatusChange();

    TTable MasterTable{QStringLiteral("Master.DB")};
    // Every entry not finished yet, by ticket (the order they were queued); true once it is
    // over and only its unit's pause is left.
    std::map<quint64, std::pair<TCommandEntry, bool>> entries;
    // Each unit with entries waiting or an exchange (or its pause) under way.
    std::unordered_map<quint16, UnitLine> units;
    // Units whose next entry may start, in turn.
    std::deque<quint16> ready;
    // Addresses and ports in use, with the units that wait for them.
    std::unordered_map<quint64, std::deque<quint16>> endpointsInUse;
    // Units resting after an exchange, the oldest first (every pause is as long).
    std::deque<Rest> resting;
    QTimer* restTimer;
    qsizetype waitingTotal = 0;
    qsizetype pausedEntries = 0;
    Refusal lastRefusal = Refusal::None;
    bool sessionScheduled = false;
    int cycleLimitMs = CycleLimitMs;
    // When each unit that keeps answering "CYCLE" first did (monotonic milliseconds).
    QHash<quint16, qint64> cyclingSince;
    QElapsedTimer monotonic;
    RowWriter rowWriter;
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
