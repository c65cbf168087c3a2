#include "CommandEngine.h"

#include "Codes.h"
#include "Database.h"
#include "Exception.h"
#include "GlobalFunctions.h"
#include "UnitAddress.h"
#include "UnitLookup.h"
#include "WriteTransaction.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <sys/resource.h>
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

// One exchange at a time: lane 0 is the engine's own, whose pause (one at a time) is Timer1; more
// are made when more exchanges may run at once.
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

// The entries waiting for one unit, and whether the unit is busy (under way or resting) or has
// its turn coming (in the ready list, or waiting for its address and port).
struct TCommandEngine::UnitLine {
    std::deque<quint64> waiting;
    bool inUse = false;
    bool listed = false;
};

// A unit resting after its exchange, and the entry that is over with the rest.
struct TCommandEngine::Rest {
    QDeadlineTimer until;
    quint16 key = 0;
    quint64 endpoint = 0;
    quint64 ticket = 0;
};

TCommandEngine::TCommandEngine(QObject* parent)
    : QObject(parent)
    , Timer1(makeTimer(this, PauseMs, true))
    , Timer2(makeTimer(this, WatchIntervalMs, false))
    , StoreRetryTimer(makeTimer(this, StoreRetryMs, false))
    , restTimer(makeTimer(this, PauseMs, true)) {
    qRegisterMetaType<TCommandResult>();
    qRegisterMetaType<TLogLine>();
    monotonic.start();
    connect(Timer1, &QTimer::timeout, this, &TCommandEngine::Timer1Timer);
    connect(Timer2, &QTimer::timeout, this, &TCommandEngine::Timer2Timer);
    connect(StoreRetryTimer, &QTimer::timeout, this, &TCommandEngine::retryStore);
    connect(restTimer, &QTimer::timeout, this, &TCommandEngine::endRests);
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
        fresh->pause = lanes.empty() ? Timer1 : nullptr;
        lanes.push_back(std::move(made));
    }
    return *lanes[size_t(number)];
}

void TCommandEngine::setSocketFactory(SocketFactory factory) {
    socketFactory = std::move(factory);
    for (const auto& each : lanes)
        each->exchange->setSocketFactory(socketFactory);
}

int TCommandEngine::lanesAllowed() {
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur == RLIM_INFINITY)
        return MaxParallel;
    const qint64 room = qint64(files.rlim_cur) - FilesKeptFree;
    return int(std::clamp<qint64>(room, MinParallel, MaxParallel));
}

void TCommandEngine::setParallel(int exchanges) {
    Parallel = std::clamp(exchanges, MinParallel, lanesAllowed());
    if (Busy)
        StartSession();
}

quint64 TCommandEngine::AddToQueue(quint16 index, quint8 task, CommandSource source) {
    if (forwardTo) {
        lastRefusal = Refusal::None;
        const TCommandEntry entry{index, task, ++lastTicket, source};
        forwardTo(entry);
        return lastTicket;
    }
    lastRefusal = wouldRefuse({TCommandEntry{index, task, 0, source}});
    if (lastRefusal != Refusal::None)
        return 0;
    const TCommandEntry entry{index, task, ++lastTicket, source};
    entries.emplace_hint(entries.end(), entry.Ticket, std::make_pair(entry, false));
    UnitLine& unit = units[index];
    unit.waiting.push_back(entry.Ticket);
    ++waitingTotal;
    if (!unit.inUse && !unit.listed)
        makeReady(index, false);
    return lastTicket;
}

TCommandEngine::Refusal TCommandEngine::wouldRefuse(const QList<TCommandEntry>& wanted) const {
    if (forwardTo)
        return Refusal::None;
    if (qsizetype(entries.size()) + wanted.size() > MaxQueued)
        return Refusal::QueueFull;
    QHash<quint16, int> more;
    for (const TCommandEntry& entry : wanted) {
        if (waitingFor(entry.Index) + ++more[entry.Index] > MaxWaitingPerUnit)
            return Refusal::UnitFull;
    }
    return Refusal::None;
}

int TCommandEngine::waitingFor(quint16 index) const {
    const auto found = units.find(index);
    return found == units.end() ? 0 : int(found->second.waiting.size());
}

QString TCommandEngine::refusalText(Refusal why, const QString& unitName) {
    switch (why) {
    case Refusal::UnitFull:
        return QStringLiteral("%1 commands wait for %2 already; try again later")
            .arg(MaxWaitingPerUnit)
            .arg(unitName.isEmpty() ? QStringLiteral("a unit") : unitName);
    case Refusal::QueueFull:
        return QStringLiteral("the queue holds %1 commands already; try again later")
            .arg(MaxQueued);
    case Refusal::None:
        break;
    }
    return {};
}

// The unit's next entry may start: it takes its turn behind the units waiting already, or, when
// it had its turn and could not use it (its address and port were in use), at the front.
void TCommandEngine::makeReady(quint16 key, bool first) {
    units[key].listed = true;
    if (first)
        ready.push_front(key);
    else
        ready.push_back(key);
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
    return forwardTo ? forwardedLength : int(entries.size());
}

CommandSource TCommandEngine::queueHead() const {
    if (forwardTo)
        return forwardedHead;
    return entries.empty() ? CommandSource::Button : entries.begin()->second.first.Source;
}

QList<TCommandEntry> TCommandEngine::queue() const {
    QList<TCommandEntry> all;
    all.reserve(qsizetype(entries.size()));
    for (const auto& [ticket, entry] : entries)
        all.append(entry.first);
    return all;
}

// StartQueue itself does nothing while Busy is set.
void TCommandEngine::Timer2Timer() {
    if (!entries.empty())
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

// Gives each free lane the next unit in turn: its first waiting entry starts, unless another key
// with the same address and port is in use (the unit then waits for that one). An entry that
// cannot be served at all (its unit is gone, it names a group, its task is unknown) is dropped
// without contacting anything. A long run of such entries (a request naming thousands of keys)
// is dropped a slice at a time from the event loop, so that the window and the other producers
// never wait for it; so is a burst of connections when many lanes come free at once (the first
// poll with many lanes).
void TCommandEngine::StartSession() {
    if (Held) {
        if (!anyLaneActive())
            Busy = false;
        return;
    }
    UnitLookup lookup;
    int dropped = 0;
    int started = 0;
    while (!ready.empty()) {
        Lane* free = idleLane();
        if (!free)
            break;
        if (dropped == DropsPerTurn || started == StartsPerTurn) {
            scheduleSession();
            return;
        }
        const quint16 key = ready.front();
        ready.pop_front();
        UnitLine& unit = units[key];
        unit.listed = false;
        const quint64 ticket = unit.waiting.front();
        quint64 endpoint = 0;
        switch (startEntry(ticket, *free, lookup, endpoint)) {
        case Pick::Started:
            unit.waiting.pop_front();
            --waitingTotal;
            unit.inUse = true;
            ++started;
            break;
        case Pick::Waits:
            unit.listed = true;
            endpointsInUse[endpoint].push_back(key);
            break;
        case Pick::Dropped:
            unit.waiting.pop_front();
            --waitingTotal;
            if (!unit.waiting.empty())
                makeReady(key, true);
            else
                units.erase(key);
            drop(ticket);
            ++dropped;
            break;
        }
    }
    if (entries.empty() && !anyLaneActive())
        Busy = false;
}

void TCommandEngine::resumeSession() {
    sessionScheduled = false;
    if (Busy)
        StartSession();
}

void TCommandEngine::scheduleSession() {
    if (sessionScheduled)
        return;
    sessionScheduled = true;
    QTimer::singleShot(0, this, &TCommandEngine::resumeSession);
}

void TCommandEngine::drop(quint64 ticket) {
    const auto found = entries.find(ticket);
    if (found == entries.end())
        return;
    const TCommandEntry entry = found->second.first;
    entries.erase(found);
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
TCommandEngine::Pick TCommandEngine::startEntry(quint64 ticket, Lane& free, UnitLookup& lookup,
                                                quint64& endpoint) {
    const TCommandEntry entry = entries.at(ticket).first;
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
    endpoint = endpointOf(address, port);
    if (endpoint != 0 && endpointsInUse.count(endpoint) != 0)
        return Pick::Waits;
    if (endpoint != 0)
        endpointsInUse.emplace(endpoint, std::deque<quint16>());

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
    return entries.empty() ? char(0) : CommandLetterOf(entries.begin()->second.first.Task);
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
    return int(qsizetype(entries.size()) - pausedEntries);
}

QList<TCommandEntry> TCommandEngine::unfinished() const {
    QList<TCommandEntry> all;
    all.reserve(unfinishedCount());
    for (const auto& [ticket, entry] : entries) {
        if (!entry.second)
            all.append(entry.first);
    }
    return all;
}

int TCommandEngine::entriesLeft() const {
    return int(waitingTotal);
}

// Side by side, a lane goes on while its unit rests; one at a time, the pause is the lane's too.
// A unit's own backlog takes its exchanges and pauses one after the other however many lanes
// there are.
qint64 TCommandEngine::estimatedMsLeft() const {
    const qint64 rounds = (entriesLeft() + Parallel - 1) / Parallel;
    const double perRound = averageExchangeMs + (Parallel == 1 ? PauseMs : 0);
    qsizetype longestLine = 0;
    if (Parallel > 1) {
        for (const auto& [key, unit] : units)
            longestLine = std::max(longestLine, qsizetype(unit.waiting.size()));
    }
    return std::max(qint64(double(rounds) * perRound + 0.5),
                    qint64(double(longestLine) * (averageExchangeMs + PauseMs) + 0.5));
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
        return;
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
    // Side by side, the lane is free while the unit rests.
    if (!lane.active())
        StartSession();
}

// The end of the reading, however it came: the unit closed, the reply limit ran out, or an error.
void TCommandEngine::readingEnded(Lane& lane, bool failed) {
    const quint16 index = lane.entry.Index;
    const quint8 code = ParseStatus(reply);
    TCommandResult result =
        resultOf(lane, failed ? TCommandResult::Outcome::Broken : TCommandResult::Outcome::Answered,
                 code, true);
    // A unit that keeps answering "CYCLE" is asked again for a while from its first "CYCLE" (a
    // new cycle command starts the while again), then left so; a unit left so that still
    // answers "CYCLE" later is not asked again.
    bool askAgain = false;
    if (code == StatusCycle) {
        const qint64 now = monotonic.elapsed();
        if (lane.entry.Task == TaskCycle || !cyclingSince.contains(index))
            cyclingSince.insert(index, now);
        askAgain = now - cyclingSince.value(index) < cycleLimitMs;
        result.StillCycling = !askAgain;
    } else {
        cyclingSince.remove(index);
    }
    const bool stored = storeStatus(index, code, &result);
    if (askAgain)
        AddToQueue(index, TaskQuery, CommandSource::CycleFollowUp);
    // The log never reports success for a status that is not in the database yet, nor for a
    // unit that said nothing.
    if (stored)
        log(lane, reply.isEmpty() ? QStringLiteral("  NO REPLY") : QStringLiteral("  SUCCESS"));
    if (failed || !stored)
        log(lane, QStringLiteral("  FAILED"));
    if (result.StillCycling)
        log(lane, QStringLiteral("  still CYCLE after %1 s of asking again: it is left so")
                      .arg(cycleLimitMs / 1000));
    // The pause starts before anyone hears of the change, so that nothing a listener does can
    // keep the queue from going on.
    startPause(lane);
    announceResult(result);
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
    markOver(lane.entry.Ticket);
    emit connectionFailed(lane.name);
    TCommandResult result =
        resultOf(lane, TCommandResult::Outcome::NotConnected, StatusError, true);
    storeStatus(lane.entry.Index, StatusError, &result);
    announceResult(result);
    announceStatusChange();
    laneDone(lane);
}

// Writes the unit's new status, after any that are still waiting (a newer status of the same
// unit replaces its waiting one), and the exchange's history row with them. False when they had
// to be kept for later.
bool TCommandEngine::storeStatus(quint16 index, quint8 code, TCommandResult* result) {
    pendingStatus.insert(index, code);
    const QString error = writeUnstoredStatuses(result);
    if (!error.isEmpty())
        reportStoreFailure(error);
    if (result)
        result->Stored = error.isEmpty();
    return error.isEmpty();
}

// Writes the waiting statuses, and the result's row, in one transaction: a row is never lost
// while its status is in. A row the database refuses by itself (a full disk takes no new row,
// though it takes a changed status) is left to the history's writer, and the statuses go in
// without it. At a failure everything waits (each try may wait for the lock a little) and the
// retry timer takes over. Gives the store's error, if any.
QString TCommandEngine::writeUnstoredStatuses(TCommandResult* result) {
    if (pendingStatus.isEmpty()) {
        StoreRetryTimer->stop();
        storeFailing = false;
        return {};
    }
    const bool withRow = result && rowWriter;
    bool rowRefused = false;
    QString error = writeStatuses(withRow ? result : nullptr, rowRefused);
    if (rowRefused) {
        bool again = false;
        error = writeStatuses(nullptr, again);
    }
    if (!error.isEmpty()) {
        MasterTable.close();
        StoreRetryTimer->start();
        return error;
    }
    pendingStatus.clear();
    if (withRow && !rowRefused)
        result->Recorded = true;
    StoreRetryTimer->stop();
    storeFailing = false;
    return {};
}

// One transaction: the waiting statuses and, when given, the result's row (rowRefused when that
// alone failed; nothing is written then).
QString TCommandEngine::writeStatuses(const TCommandResult* result, bool& rowRefused) {
    rowRefused = false;
    // One status alone is one statement: it needs no transaction around it.
    if (!result && pendingStatus.size() == 1) {
        try {
            SetStatus(MasterTable, pendingStatus.firstKey(), pendingStatus.first());
        } catch (const Exception& error) {
            return error.message();
        }
        return {};
    }
    bool began = false;
    try {
        QString refused;
        began = writeLock::take(Database::BusyTimeoutMs, refused) == writeLock::Outcome::Taken;
        if (!began)
            throw Exception(QStringLiteral("The status cannot be written: %1").arg(refused));
        for (auto each = pendingStatus.constBegin(); each != pendingStatus.constEnd(); ++each)
            SetStatus(MasterTable, each.key(), each.value());
        if (result) {
            try {
                rowWriter(*result);
            } catch (const Exception&) {
                // (SQLite may have rolled the transaction back itself already.)
                rowRefused = true;
                writeLock::abandon();
                return {};
            }
        }
        QString failed;
        if (!writeLock::commit(failed))
            throw Exception(QStringLiteral("The status cannot be written: %1").arg(failed));
    } catch (const Exception& error) {
        if (began)
            writeLock::abandon();
        return error.message();
    }
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

void TCommandEngine::markOver(quint64 ticket) {
    const auto found = entries.find(ticket);
    if (found != entries.end() && !found->second.second) {
        found->second.second = true;
        ++pausedEntries;
    }
}

// The exchange is over: the unit rests. One at a time the lane rests with it (Timer1), so that
// the next unit waits too; side by side the lane is free at once.
void TCommandEngine::startPause(Lane& lane) {
    flushLog(lane);
    markOver(lane.entry.Ticket);
    if (Parallel == 1 && lane.pause) {
        lane.state = Lane::State::Pausing;
        lane.pause->start();
        return;
    }
    resting.push_back(Rest{QDeadlineTimer(PauseMs, Qt::PreciseTimer), lane.entry.Index,
                           lane.endpoint, lane.entry.Ticket});
    if (!restTimer->isActive())
        armRestTimer();
    lane.state = Lane::State::Idle;
    lane.endpoint = 0;
}

void TCommandEngine::armRestTimer() {
    if (resting.empty()) {
        restTimer->stop();
        return;
    }
    const qint64 ns = resting.front().until.remainingTimeNSecs();
    restTimer->start(int(std::max<qint64>(0, (ns + 999999) / 1000000)));
}

// Every rest that is over ends, and the units go on.
void TCommandEngine::endRests() {
    while (!resting.empty() && resting.front().until.remainingTimeNSecs() <= 0) {
        const Rest over = resting.front();
        resting.pop_front();
        release(over.key, over.endpoint, over.ticket);
    }
    armRestTimer();
    if (Busy)
        StartSession();
}

void TCommandEngine::Timer1Timer() {
    Timer1->stop();
    if (lane(0).state == Lane::State::Pausing)
        laneDone(lane(0));
}

// The lane's entry is over: it leaves the queue, and the free lane looks for the next.
void TCommandEngine::laneDone(Lane& lane) {
    lane.state = Lane::State::Idle;
    release(lane.entry.Index, lane.endpoint, lane.entry.Ticket);
    lane.endpoint = 0;
    if (!entries.empty())
        StartSession();
    else if (!anyLaneActive())
        Busy = false;
}

// The entry leaves the queue; its unit, and the units waiting for its address and port, may go
// on (those before any other unit: their turn came already).
void TCommandEngine::release(quint16 key, quint64 endpoint, quint64 ticket) {
    const auto found = entries.find(ticket);
    if (found != entries.end()) {
        if (found->second.second)
            --pausedEntries;
        entries.erase(found);
    }
    const auto unit = units.find(key);
    if (unit != units.end()) {
        unit->second.inUse = false;
        if (!unit->second.listed) {
            if (unit->second.waiting.empty())
                units.erase(unit);
            else
                makeReady(key, false);
        }
    }
    if (endpoint == 0)
        return;
    const auto used = endpointsInUse.find(endpoint);
    if (used == endpointsInUse.end())
        return;
    const std::deque<quint16> waiters = std::move(used->second);
    endpointsInUse.erase(used);
    for (auto waiter = waiters.rbegin(); waiter != waiters.rend(); ++waiter)
        ready.push_front(*waiter);
}

} // namespace kavio
