#include "TimerFiring.h"

#include "Clock.h"
#include "CommandEngine.h"
#include "Exception.h"
#include "FiredEvents.h"
#include "GlobalFunctions.h"
#include "NameOrder.h"
#include "Recurrence.h"
#include "SettingsFile.h"
#include "TimerRecord.h"
#include "TimerStore.h"
#include "UnitDirectory.h"

#include <QSettings>
#include <algorithm>
#include <limits>

namespace kavio {
namespace {

constexpr int MinutesPerDay = 1440;
// A clock set back further than any change of summer time is a new start, not a repeated hour.
constexpr int LongestRepeat = 120;

// "HH:MM" of a minute of the day; 1440 is "24:00", after every time of the day.
QString minuteText(int minute) {
    return QStringLiteral("%1:%2")
        .arg(minute / 60, 2, 10, QLatin1Char('0'))
        .arg(minute % 60, 2, 10, QLatin1Char('0'));
}

// Minutes are counted on the wall clock: a skipped hour leaves a gap, a repeated one goes back.
qint64 minuteNumber(const QDateTime& time) {
    return time.date().toJulianDay() * MinutesPerDay + time.time().hour() * 60 +
           time.time().minute();
}

QDate dayOf(qint64 minute) {
    return QDate::fromJulianDay(minute / MinutesPerDay);
}

QDateTime startOf(qint64 minute) {
    const int ofDay = int(minute % MinutesPerDay);
    return QDateTime(dayOf(minute), QTime(ofDay / 60, ofDay % 60));
}

// How late `now` is for an event of `minute` of `day` on the wall clock, in milliseconds (less
// than 0 when it is still to come), compared in UTC. The event is due at the last moment, on or
// before now, at which the clock read its minute: in the hour repeated when the clocks go back,
// the reading of the pass now running. A minute the clocks skipped is due when it would have
// shown with the offset before the change.
qint64 msLate(const QDate& day, int minute, const QDateTime& now) {
    constexpr qint64 DayMs = qint64(MinutesPerDay) * 60 * 1000;
    const qint64 wall =
        QDateTime(day, QTime(minute / 60, minute % 60), Qt::UTC).toMSecsSinceEpoch();
    const qint64 nowMs = now.toMSecsSinceEpoch();
    constexpr qint64 None = std::numeric_limits<qint64>::min();
    qint64 latest = None;   // the last reading on or before now
    qint64 earliest = None; // the first reading after now
    qint64 skipped = None;
    // The offsets in force around the day: a change of summer time brings at most two.
    for (const qint64 probe : {wall - DayMs, wall, wall + DayMs}) {
        const qint64 offsetMs =
            qint64(QDateTime::fromMSecsSinceEpoch(probe).offsetFromUtc()) * 1000;
        const qint64 due = wall - offsetMs;
        if (qint64(QDateTime::fromMSecsSinceEpoch(due).offsetFromUtc()) * 1000 != offsetMs)
            skipped = std::max(skipped, due);
        else if (due <= nowMs)
            latest = std::max(latest, due);
        else if (earliest == None || due < earliest)
            earliest = due;
    }
    if (latest != None)
        return nowMs - latest;
    return nowMs - (earliest != None ? earliest : skipped);
}

QString momentText(qint64 minute) {
    return startOf(minute).toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

} // namespace

// The day's rows, or with `from`..`to` only those of these minutes of the day.
// The day's rows, or with `from`..`to` only those of these minutes of the day: the tick asks
// only for the rows of its minutes, TimeOfDay from "HH:MM" up to the minute after.
std::vector<TimerFiring::EventRow> TimerFiring::selectRows(const QDate& day, int from, int to) {
    if (from < 0)
        return timers::eventsOn(TimerDateText(day));
    return timers::eventsOn(TimerDateText(day), minuteText(from), minuteText(to + 1));
}

QString TimerFiring::keyOf(const EventRow& row) {
    return QStringList{row.index.toString(), row.task.toString(), row.timeOfDay.toString(),
                       row.date.toString(), row.every.toString()}
        .join(QChar(0x1f));
}

QString TimerFiring::whoOf(const EventRow& row) {
    return QStringLiteral("Timer %1").arg(row.timerIndex.toString());
}

int TimerFiring::missedAfterMinutes() {
    const QSettings settings = settingsFile();
    bool ok = false;
    const int minutes =
        settings.value(QLatin1String(MissedAfterKey)).toString().trimmed().toInt(&ok);
    return ok && minutes >= 1 && minutes <= MinutesPerDay ? minutes : DefaultMissedAfterMinutes;
}

TimerFiring::TimerFiring(TCommandEngine& commandProcessor, QObject* parent)
    : QObject(parent)
    , processor(commandProcessor) {
    // The per-minute selection looks timers up by date.
    timers::addDateIndex();

    missedAfter = missedAfterMinutes();
    const QDateTime now = Clock::now();
    currentDay = now.date();
    lastMinute = minuteNumber(now) - 1;
    recalculate(startOf(lastMinute + 1));
    // What fired today before this program (or this runner) began: it does not fire again.
    try {
        servedOn[currentDay] += FiredEvents::servedOn(currentDay);
    } catch (const std::exception& error) {
        report(error);
    }
}

// The current minute is served again at the next tick: a timer saved within its own minute still
// fires, and what fired already does not fire twice.
void TimerFiring::refresh() {
    missedAfter = missedAfterMinutes();
    reported.clear();
    const QDateTime now = Clock::now();
    lastMinute = std::min(lastMinute, minuteNumber(now) - 1);
    if (currentDay == now.date())
        recalculate(startOf(lastMinute + 1));
    else
        datesPending = true; // the tick begins the new day
}

void TimerFiring::serveUpTo(const QDateTime& now) {
    try {
        serve(now);
    } catch (const std::exception& error) {
        report(error);
    }
}

// Recomputes the next event dates as they stand at `asOf`. A store that refuses leaves them
// pending, told once until it works again; records that cannot be read are told, the others are
// written all the same.
bool TimerFiring::recalculate(const QDateTime& asOf, bool passedOnly) {
    try {
        if (passedOnly)
            RecalcPassedTimerDates(asOf);
        else
            RecalcTimerDates(asOf);
    } catch (const TimerRecordError& error) {
        report(error);
    } catch (const std::exception& error) {
        datesPending = true;
        if (!recalcFailing) {
            log(QString::fromUtf8(error.what()));
            log(QStringLiteral("Timers wait: the next event dates are tried again every second"));
        }
        recalcFailing = true;
        return false;
    }
    if (recalcFailing)
        log(QStringLiteral("Timer.DB: the next event dates are written again"));
    recalcFailing = false;
    datesPending = false;
    return true;
}

// Serves every minute after the last one served, up to the current one, day by day. A day begins
// with the recomputation of the next event dates as of its first minute, so that nothing of it
// counts as passed yet; until that succeeds, nothing later is served.
void TimerFiring::serve(const QDateTime& now) {
    if (!unrecorded.isEmpty())
        claim(currentDay, {});
    const qint64 nowMinute = minuteNumber(now);
    if (lastMinute - nowMinute > LongestRepeat) {
        log(QStringLiteral("The clock went back from %1 to %2")
                .arg(momentText(lastMinute), momentText(nowMinute)));
        lastMinute = nowMinute - 1;
    }
    const qint64 lastWalked = now.date().toJulianDay() * MinutesPerDay - 1;
    if (nowMinute - lastMinute > qint64(DaysWalked) * MinutesPerDay && lastMinute < lastWalked) {
        log(QStringLiteral("Timers due from %1 to %2 were missed: the clock was not seen then")
                .arg(momentText(lastMinute + 1), momentText(lastWalked)));
        lastMinute = lastWalked;
    }
    while (lastMinute < nowMinute) {
        const qint64 first = lastMinute + 1;
        const QDate day = dayOf(first);
        if (day != currentDay) {
            // Only dates already passed can move, unless a whole recomputation is waiting.
            if (!recalculate(startOf(first), !datesPending))
                return;
            currentDay = day;
            auto before = [&day](const auto& entry) { return entry.key() < day.addDays(-1); };
            servedOn.removeIf(before);
            unrecorded.removeIf(before);
            reported.clear();
            try {
                FiredEvents::forgetBefore(day.addDays(-1));
            } catch (const std::exception& error) {
                report(error);
            }
            if (day == now.date())
                emit dayBegan();
        } else if (datesPending) {
            if (!recalculate(startOf(first)))
                return;
            if (day == now.date())
                emit dayBegan();
        }
        const qint64 dayStart = day.toJulianDay() * MinutesPerDay;
        const qint64 last = std::min(dayStart + MinutesPerDay - 1, nowMinute);
        serveMinutes(day, int(first - dayStart), int(last - dayStart), now);
        lastMinute = last;
    }
}

// Fires the events of `day` in minutes `from` to `to` of the day that have not been served; one
// more than the bound late is logged as missed instead. They are recorded as served in the store
// first, and only those that no program served before go on: a restart within their minute, or
// another program that took over, leaves them alone.
void TimerFiring::serveMinutes(const QDate& day, int from, int to, const QDateTime& now) {
    struct Due {
        const EventRow* row;
        quint16 index;
        quint8 task;
        int minute;
        QString key;
    };
    const qint64 bound = qint64(missedAfter) * 60 * 1000;
    QSet<QString>& done = servedOn[day];
    const std::vector<EventRow> rows = selectRows(day, from, to);
    std::vector<Due> due;
    QStringList keys;
    for (const EventRow& row : rows) {
        try {
            const QTime time = TimerTime(row.timeOfDay, whoOf(row));
            const int minute = time.hour() * 60 + time.minute();
            if (minute < from || minute > to)
                continue;
            const auto index = quint16(TimerInteger(row.index, whoOf(row), "Index", 0, 65535));
            const auto task = quint8(TimerInteger(row.task, whoOf(row), "Task", 0, 4));
            const QString key = keyOf(row);
            if (done.contains(key))
                continue;
            due.push_back({&row, index, task, minute, key});
            keys << key;
        } catch (const std::exception& error) {
            report(error);
        }
    }
    if (due.empty())
        return;
    const QSet<QString> ours = claim(day, keys);
    for (const Due& event : due) {
        done.insert(event.key);
        if (!ours.contains(event.key))
            continue;
        try {
            if (msLate(day, event.minute, now) > bound) {
                QString taskName;
                TaskName(event.task, taskName);
                log(QStringLiteral("Missed: %1 (unit %2) %3 due at %4, more than %5 minutes "
                                   "before the clock was seen")
                        .arg(whoOf(*event.row))
                        .arg(event.index)
                        .arg(taskName, momentText(day.toJulianDay() * MinutesPerDay + event.minute))
                        .arg(missedAfter));
                continue;
            }
            emit fired(event.key);
            if (!event.row->group.isNull())
                fire(event.index, event.task, event.row->group.toLongLong() != 0);
        } catch (const std::exception& error) {
            report(error);
        }
    }
}

// Records the events as served and returns those that no program served before. A store that
// refuses is told (once): the events then fire all the same, since losing them is worse than the
// rare double that a restart meanwhile could bring, and they are recorded at the next tick that
// finds the store free.
QSet<QString> TimerFiring::claim(const QDate& day, const QStringList& keys) {
    try {
        for (auto waiting = unrecorded.begin(); waiting != unrecorded.end();) {
            FiredEvents::claim(waiting.key(), waiting.value());
            waiting = unrecorded.erase(waiting);
        }
        return FiredEvents::claim(day, keys);
    } catch (const std::exception& error) {
        report(error);
        if (!keys.isEmpty())
            unrecorded[day] += keys;
        return QSet<QString>(keys.begin(), keys.end());
    }
}

// Queues the task for a unit, or for each member of a group in name order, read in one query
// whatever the size of the tables.
void TimerFiring::fire(quint16 index, quint8 task, bool group) {
    if (!group) {
        processor.AddToQueue(index, task, CommandSource::Timer);
        return;
    }

    std::vector<UnitTarget> members = directory::unitMembersByKey(index);
    // The list's order: by key first (as read), so that equal names stay by key.
    sortByName(members, [](const UnitTarget& member) { return member.name; });
    for (const UnitTarget& member : members)
        processor.AddToQueue(member.index, task, CommandSource::Timer);
}

void TimerFiring::log(const QString& line) {
    emit processor.logged(line);
}

// Each problem (one line of a message) is told once, until the timers are refreshed or a new
// day begins.
void TimerFiring::report(const std::exception& error) {
    for (const QString& line : QString::fromUtf8(error.what()).split(QLatin1Char('\n'))) {
        if (!reported.contains(line))
            log(line);
        reported.insert(line);
    }
}

} // namespace kavio
