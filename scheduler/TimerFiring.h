#pragma once

#include "TimerStore.h"

#include <QDate>
#include <QDateTime>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <exception>
#include <vector>

namespace kavio {

class TCommandEngine;

// When timers fire, apart from any window: the control center's runner shows it, the service
// runs it alone.
//
// Each call of serveUpTo serves every minute since the last one it served, up to the current
// one, so a late tick (a suspend, a freeze) or a skipped hour (the clocks going forward) loses
// nothing: such an event fires at the first tick after it. An event more than
// missedAfterMinutes() late (measured in UTC) is not fired but logged as missed. No event fires
// twice on its day: a clock set back, or an hour repeated when the clocks go back, fires nothing
// again; and as what fired is recorded in the database (FiredEvents.h), neither does a restart
// within an event's minute, nor another program that takes the timers over. The first
// tick of a new day recomputes every timer's next event date as the day begins, so daily
// timers keep firing without a restart; a recomputation that the store refuses (another
// program holds it locked) is tried again on every tick until it succeeds, and the minutes
// waiting meanwhile are served then. A timer on a group fires for each member of the group, by
// name; a timer whose unit is gone fires nothing.
//
// Problems are written to the command log (the engine's log), each once, and never wait for
// anyone: the station may be unattended.
class TimerFiring : public QObject {
    Q_OBJECT

public:
    // One row of a day's selection (identical timers merged).
    using EventRow = timers::EventRow;

    // The settings key of the bound beyond which a late event is missed, and its default.
    static constexpr const char* MissedAfterKey = "Timer/MissedAfterMinutes";
    static constexpr int DefaultMissedAfterMinutes = 15;
    // Longer gaps than this are not walked day by day: one line tells of them.
    static constexpr int DaysWalked = 7;

    // Recomputes every timer's next event date as of the current minute.
    explicit TimerFiring(TCommandEngine& processor, QObject* parent = nullptr);

    // Fires what has become due up to `now`; problems are logged, never thrown.
    void serveUpTo(const QDateTime& now);
    // Timers changed: recomputes the next event dates. Events of the current minute that have
    // not fired yet still fire at the next serveUpTo.
    void refresh();

    // The day's rows (identical timers merged), in the order they fire; throws DatabaseError.
    static std::vector<EventRow> selectRows(const QDate& day, int from = -1, int to = -1);
    // What tells an event from every other of its day.
    static QString keyOf(const EventRow& row);
    static QString whoOf(const EventRow& row);
    // The setting [Timer] MissedAfterMinutes, a whole number of minutes from 1 to 1440; any
    // other value gives the default.
    static int missedAfterMinutes();

    // The events of `day` fired or missed already, by key.
    QSet<QString> served(const QDate& day) const { return servedOn.value(day); }
    // Events of `day` that another program fired already (a service this one takes over from):
    // they do not fire again here.
    void markServed(const QDate& day, const QSet<QString>& keys) { servedOn[day] += keys; }
    bool recomputationPending() const { return datesPending; }
    // Logs each line of the error once, until the next refresh or day.
    void report(const std::exception& error);

signals:
    // The event of that key fired.
    void fired(const QString& key);
    // A new day began (its next event dates are in the table).
    void dayBegan();

private:
    void serve(const QDateTime& now);
    bool recalculate(const QDateTime& asOf, bool passedOnly = false);
    void serveMinutes(const QDate& day, int from, int to, const QDateTime& now);
    QSet<QString> claim(const QDate& day, const QStringList& keys);
    void fire(quint16 index, quint8 task, bool group);
    void log(const QString& line);

    TCommandEngine& processor;
    QDate currentDay;          // the day whose next event dates are in the table
    qint64 lastMinute = -1;    // the last minute (date and time) whose timers were served
    bool datesPending = false; // the next event dates still wait to be recomputed
    bool recalcFailing = false;
    int missedAfter = DefaultMissedAfterMinutes;
    QMap<QDate, QSet<QString>> servedOn; // events fired or missed, of today and yesterday, by day
    QMap<QDate, QStringList> unrecorded; // served while the store refused to record them
    QSet<QString> reported;              // problems already told, until the next refresh or day
};

} // namespace kavio
