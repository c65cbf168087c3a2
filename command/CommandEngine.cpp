#include "CommandEngine.h"

#include "Codes.h"
#include "Exception.h"
#include "GlobalFunctions.h"
#include "UnitAddress.h"
#include "UnitLookup.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <utility>

namespace kavio {
namespace {

QTimer* makeTimer(QObject* owner, int interval, bool singleShot) {
    auto* timer = new QTimer(owner);
    timer->setInterval(interval);
    timer->setSingleShot(singleShot);
    // The pause is part of the protocol's timing: no coarse slack.
    timer->setTimerType(Qt::PreciseTimer);
    return timer;
}

// Address and port as one number; 0 for a record that holds no address that may be dialled.
quint64 endpointOf(const std::optional<QHostAddress>& address, quint16 port) {
    return address && port != 0 ? (quint64(address->toIPv4Address()) << 16) | port : 0;
}

} // namespace

// One exchange at a time with its pause after it: lane 0 is the engine's own, whose pause is
// Timer1; more are made when more exchanges may run at once.
struct TCommandEngine::Lane {
    enum class State { Idle, Exchanging, Pausing };

    UnitExchange* exchange = nullptr;
    QTimer* pause = nullptr;
    State state = State::Idle;
    TCommandEntry entry;
    // The unit as read for the exchange, for its log lines and its result.
    QString name;
    QString address;
    quint16 port = 0;
    quint64 endpoint = 0;
    qint64 startedMs = 0;
    QElapsedTimer started;
    // Log lines held until the exchange ends (only while exchanges run side by side).
    bool holdsLog = false;
    QList<TLogLine> lines;

    bool active() const { return state != State::Idle; }
};

TCommandEngine::TCommandEngine(QObject* parent)
    : QObject(parent)
    , Timer1(makeTimer(this, PauseMs, true))
    , Timer2(makeTimer(this, WatchIntervalMs, false))
    , StoreRetryTimer(makeTimer(this, StoreRetryMs, false)) {
    qRegisterMetaType<TCommandResult>();
    qRegisterMetaType<TLogLine>();
    connect(Timer1, &QTimer::timeout, this, &TCommandEngine::Timer1Timer);
    connect(Timer2, &QTimer::timeout, this, &TCommandEngine::Timer2Timer);
    connect(StoreRetryTimer, &QTimer::timeout, this, &TCommandEngine::retryStore);
    lane(0);
    Timer2->start();
}

TCommandEngine::~TCommandEngine() = default;

TCommandEngine::Lane& TCommandEngine::lane(int number) {
    while (int(lanes.size()) <= number) {
        auto made = std::make_unique<Lane>();
        Lane* fresh = made.get();
        fresh->exchange = new UnitExchange(ConnectTimeoutMs, ReplyLimitMs, MaxReplyBytes, this);
        fresh->exchange->setSocketFactory(socketFactory);
        connect(fresh->exchange, &UnitExchange::logged, this,
                [this, fresh](const QString& line) { log(*fresh, line); });
        connect(fresh->exchange, &UnitExchange::ended, this,
                [this, fresh](UnitExchange::Ending ending) { exchangeEnded(*fresh, ending); });
        if (lanes.empty()) {
            fresh->pause = Timer1;
        } else {
            fresh->pause = makeTimer(this, PauseMs, true);
            connect(fresh->pause, &QTimer::timeout, this, [this, fresh] {
                if (fresh->state == Lane::State::Pausing)
                    laneDone(*fresh);
            });
        }
        lanes.push_back(std::move(made));
    }
    return *lanes[size_t(number)];
}

void TCommandEngine::setSocketFactory(SocketFactory factory) {
    socketFactory = std::move(factory);
    for (const auto& each : lanes)
        each->exchange->setSocketFactory(socketFactory);
}

void TCommandEngine::setParallel(int exchanges) {
    Parallel = std::clamp(exchanges, MinParallel, MaxParallel);
    if (Busy)
        StartSession();
}

quint64 TCommandEngine::AddToQueue(quint16 index, quint8 task, CommandSource source) {
    const TCommandEntry entry{index, task, ++lastTicket, source};
    if (forwardTo)
        forwardTo(entry);
    else
        Queue.append(entry);
    return lastTicket;
}

void TCommandEngine::setForward(Forward forward) {
    forwardTo = std::move(forward);
    forwardedLength = 0;
}

void TCommandEngine::setForwardedQueue(int length, CommandSource head) {
    forwardedLength = std::max(0, length);
    forwardedHead = head;
}

int TCommandEngine::queueLength() const {
    return forwardTo ? forwardedLength : int(Queue.size());
}

CommandSource TCommandEngine::queueHead() const {
    if (forwardTo)
        return forwardedHead;
    return Queue.isEmpty() ? CommandSource::Button : Queue.first().Source;
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

TCommandEngine::Lane* TCommandEngine::idleLane() {
    for (int number = 0; number < Parallel; ++number) {
        Lane& candidate = lane(number);
        if (!candidate.active())
            return &candidate;
    }
    return nullptr;
}

bool TCommandEngine::anyLaneActive() const {
    return std::any_of(lanes.begin(), lanes.end(), [](const auto& each) { return each->active(); });
}

// Gives each free lane the first entry that may start: walking the queue in order, an entry
// waits while its key or its unit's address and port is in use by a lane, and every later entry
// of that key waits behind it. An entry that cannot be served at all (its unit is gone, it names
// a group, its task is unknown) is dropped without contacting anything. A long run of such
// entries (a request naming thousands of keys) is dropped a slice at a time from the event loop,
// so that the window and the other producers never wait for it; so is a burst of connections
// when many lanes come free at once (the first poll with many lanes).
void TCommandEngine::StartSession() {
    if (Held) {
        if (!anyLaneActive())
            Busy = false;
        return;
    }
    UnitLookup lookup;
    QSet<quint16> waitingKeys;
    for (const auto& each : lanes) {
        if (each->active())
            waitingKeys.insert(each->entry.Index);
    }
    int dropped = 0;
    int started = 0;
    int passed = 0;
    for (int position = 0; position < Queue.size() && passed < ScanLimit;) {
        Lane* free = idleLane();
        if (!free)
            break;
        if (waitingKeys.contains(Queue.at(position).Index)) {
            ++position;
            ++passed;
            continue;
        }
        if (dropped == DropsPerTurn || started == StartsPerTurn) {
            QTimer::singleShot(0, this, &TCommandEngine::resumeSession);
            return;
        }
        const quint16 key = Queue.at(position).Index;
        switch (startEntry(position, *free, lookup)) {
        case Pick::Started:
            waitingKeys.insert(key);
            ++position;
            ++started;
            break;
        case Pick::Waits:
            waitingKeys.insert(key);
            ++position;
            ++passed;
            break;
        case Pick::Dropped:
            dropAt(position);
            ++dropped;
            break;
        }
    }
    if (Queue.isEmpty() && !anyLaneActive())
        Busy = false;
}

void TCommandEngine::resumeSession() {
    if (Busy)
        StartSession();
}

void TCommandEngine::dropAt(int position) {
    const TCommandEntry entry = Queue.takeAt(position);
    TCommandResult result;
    result.Ticket = entry.Ticket;
    result.Index = entry.Index;
    result.Task = entry.Task;
    result.Source = entry.Source;
    result.StartedMs = QDateTime::currentMSecsSinceEpoch();
    announceResult(result);
}

// Reads the entry's unit and starts the exchange with it on the lane, unless the unit's address
// and port are in use by another lane.
TCommandEngine::Pick TCommandEngine::startEntry(int position, Lane& free, UnitLookup& lookup) {
    const TCommandEntry entry = Queue.at(position);
    if (CommandLetterOf(entry.Task) == 0) {
        log(QStringLiteral("Unknown task %1 for unit %2 dropped").arg(entry.Task).arg(entry.Index));
        return Pick::Dropped;
    }
    std::optional<UnitRecord> unit;
    try {
        unit = lookup.find(entry.Index);
    } catch (const Exception& error) {
        reportStoreFailure(error.message());
        return Pick::Dropped;
    }
    if (!unit || unit->group)
        return Pick::Dropped;

    // The record may have been edited by hand: only a dotted IPv4 address and a port in range
    // are dialled, anything else fails like an unreachable unit (and no name lookup is made).
    const std::optional<QHostAddress> address = DottedIPv4(unit->address);
    bool portOk = false;
    const qint64 portNumber = unit->port.toLongLong(&portOk);
    const quint16 port = portOk && portNumber >= 1 && portNumber <= 65535 ? quint16(portNumber) : 0;
    const quint64 endpoint = endpointOf(address, port);
    if (endpoint != 0) {
        for (const auto& each : lanes) {
            if (each->active() && each->endpoint == endpoint)
                return Pick::Waits;
        }
    }

    free.entry = entry;
    free.name = unit->name;
    free.address = unit->address;
    const uint storedPort = unit->port.toUInt();
    free.port = storedPort <= 65535 ? quint16(storedPort) : 0;
    free.endpoint = endpoint;
    free.state = Lane::State::Exchanging;
    free.holdsLog = Parallel > 1;
    free.lines.clear();
    free.startedMs = QDateTime::currentMSecsSinceEpoch();
    free.started.start();

    // The frame is ESC password ESC letter CR: a control character in a hand-edited password
    // would end the frame early and could carry a command of its own, so it is never sent.
    if (HasControlCharacter(unit->password)) {
        refuseRecord(free);
        return Pick::Started;
    }
    refusedRecords.remove(entry.Index);

    log(free, QStringLiteral("Connecting ") + unit->address);
    free.exchange->start(address, port, unit->password.toUtf8(), CommandLetterOf(entry.Task));
    return Pick::Started;
}

char TCommandEngine::CommandLetter() const {
    return Queue.isEmpty() ? char(0) : CommandLetterOf(Queue.first().Task);
}

void TCommandEngine::setHeld(bool held) {
    Held = held;
}

int TCommandEngine::exchangesUnderWay() const {
    return int(std::count_if(lanes.begin(), lanes.end(), [](const auto& each) {
        return each->state == Lane::State::Exchanging;
    }));
}

int TCommandEngine::unfinishedCount() const {
    const auto pausing = std::count_if(lanes.begin(), lanes.end(), [](const auto& each) {
        return each->state == Lane::State::Pausing;
    });
    return int(std::max<qsizetype>(0, Queue.size() - pausing));
}

QList<TCommandEntry> TCommandEngine::unfinished() const {
    QSet<quint64> pausing;
    for (const auto& each : lanes) {
        if (each->state == Lane::State::Pausing)
            pausing.insert(each->entry.Ticket);
    }
    QList<TCommandEntry> entries;
    for (const TCommandEntry& entry : Queue) {
        if (!pausing.contains(entry.Ticket))
            entries << entry;
    }
    return entries;
}

int TCommandEngine::entriesLeft() const {
    const auto active =
        std::count_if(lanes.begin(), lanes.end(), [](const auto& each) { return each->active(); });
    return int(std::max<qsizetype>(0, Queue.size() - active));
}

qint64 TCommandEngine::estimatedMsLeft() const {
    const qint64 rounds = (entriesLeft() + Parallel - 1) / Parallel;
    return rounds * qint64(PauseMs + averageExchangeMs + 0.5);
}

void TCommandEngine::log(Lane& lane, const QString& text) {
    const TLogLine line{QDateTime::currentMSecsSinceEpoch(), lane.name, lane.address, lane.port,
                        text};
    if (lane.holdsLog) {
        lane.lines.append(line);
        return;
    }
    emit logged(text);
    emit loggedLine(line);
}

// A line about no unit's exchange (a dropped entry, the store).
void TCommandEngine::log(const QString& text) {
    emit logged(text);
    emit loggedLine({QDateTime::currentMSecsSinceEpoch(), {}, {}, 0, text});
}

// A parallel exchange's lines go out together, each plain line led by its unit's name, so that
// the log reads one exchange after the other.
void TCommandEngine::flushLog(Lane& lane) {
    const QList<TLogLine> lines = std::exchange(lane.lines, {});
    for (const TLogLine& line : lines) {
        emit logged(lane.name + QStringLiteral(": ") + line.Text);
        emit loggedLine(line);
    }
}

void TCommandEngine::exchangeEnded(Lane& lane, UnitExchange::Ending ending) {
    if (lane.state != Lane::State::Exchanging)
        return;
    const double took = double(lane.started.elapsed());
    averageExchangeMs = averageExchangeMs == 0 ? took : 0.8 * averageExchangeMs + 0.2 * took;
    reply = lane.exchange->reply();
    switch (ending) {
    case UnitExchange::Ending::NotConnected:
        connectFailed(lane);
        break;
    case UnitExchange::Ending::WriteFailed:
        // Nothing was read, so the unit's status stays as it was.
        log(lane, QStringLiteral("  FAILED"));
        startPause(lane);
        finish(lane, TCommandResult::Outcome::Broken, StatusUnknown, true);
        break;
    case UnitExchange::Ending::Read:
    case UnitExchange::Ending::Broken:
        readingEnded(lane, ending == UnitExchange::Ending::Broken);
        break;
    }
}

// The end of the reading, however it came: the unit closed, the reply limit ran out, or an error.
void TCommandEngine::readingEnded(Lane& lane, bool failed) {
    const quint16 index = lane.entry.Index;
    const quint8 code = ParseStatus(reply);
    const bool stored = storeStatus(index, code);
    if (code == StatusCycle)
        AddToQueue(index, TaskQuery, CommandSource::CycleFollowUp);
    // The log never reports success for a status that is not in the database yet.
    if (stored)
        log(lane, QStringLiteral("  SUCCESS"));
    if (failed || !stored)
        log(lane, QStringLiteral("  FAILED"));
    // The pause starts before anyone hears of the change, so that nothing a listener does can
    // keep the queue from going on.
    startPause(lane);
    finish(lane, failed ? TCommandResult::Outcome::Broken : TCommandResult::Outcome::Answered, code,
           stored);
    announceStatusChange();
}

// Tells the producer of the lane's entry how it ended; the entry stays in the queue until the
// pause after it is over.
void TCommandEngine::finish(Lane& lane, TCommandResult::Outcome outcome, quint8 status,
                            bool stored) {
    announceResult(resultOf(lane, outcome, status, stored));
}

TCommandResult TCommandEngine::resultOf(const Lane& lane, TCommandResult::Outcome outcome,
                                        quint8 status, bool stored) const {
    TCommandResult result;
    result.Ticket = lane.entry.Ticket;
    result.Index = lane.entry.Index;
    result.Task = lane.entry.Task;
    result.Result = outcome;
    result.Name = lane.name;
    result.Reply = reply;
    result.Status = status;
    result.Stored = stored;
    result.Source = lane.entry.Source;
    result.Address = lane.address;
    result.Port = lane.port;
    result.StartedMs = lane.startedMs;
    result.DurationMs = lane.started.elapsed();
    // A record refused is never dialled: nothing timed out and nothing was written.
    const bool dialled = outcome != TCommandResult::Outcome::Refused;
    result.TimedOut = dialled && lane.exchange->timedOut();
    result.Written = dialled && lane.exchange->written();
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

// The entry's record cannot be sent: the exchange ends before connecting, the unit's status
// stays as it was, and the operator hears of the record once.
void TCommandEngine::refuseRecord(Lane& lane) {
    const quint16 index = lane.entry.Index;
    const QString why =
        QStringLiteral("The password of unit %1 (key %2) holds a control character; nothing was "
                       "sent to it")
            .arg(lane.name)
            .arg(index);
    log(lane, why);
    log(lane, QStringLiteral("  FAILED"));
    reply.clear();
    startPause(lane);
    if (!refusedRecords.contains(index)) {
        refusedRecords.insert(index);
        emit recordRefused(why);
    }
    finish(lane, TCommandResult::Outcome::Refused, StatusUnknown, true);
}

// No connection: the unit is marked failed, and the next entry follows at once, with no pause.
void TCommandEngine::connectFailed(Lane& lane) {
    log(lane, QStringLiteral("  FAILED"));
    flushLog(lane);
    // The exchange is over for anyone who asks from here on, though no pause follows.
    lane.state = Lane::State::Pausing;
    emit connectionFailed(lane.name);
    const bool stored = storeStatus(lane.entry.Index, StatusError);
    finish(lane, TCommandResult::Outcome::NotConnected, StatusError, stored);
    announceStatusChange();
    laneDone(lane);
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

void TCommandEngine::startPause(Lane& lane) {
    flushLog(lane);
    lane.state = Lane::State::Pausing;
    lane.pause->start();
}

void TCommandEngine::Timer1Timer() {
    Timer1->stop();
    if (lane(0).state == Lane::State::Pausing)
        laneDone(lane(0));
}

// The lane's entry is over: it leaves the queue, and the free lane looks for the next.
void TCommandEngine::laneDone(Lane& lane) {
    const quint64 ticket = lane.entry.Ticket;
    const auto found =
        std::find_if(Queue.begin(), Queue.end(),
                     [ticket](const TCommandEntry& each) { return each.Ticket == ticket; });
    if (found != Queue.end())
        Queue.erase(found);
    lane.state = Lane::State::Idle;
    lane.endpoint = 0;
    if (!Queue.isEmpty())
        StartSession();
    else if (!anyLaneActive())
        Busy = false;
}

} // namespace kavio
