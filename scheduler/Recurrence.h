#pragma once

#include "TimerRecord.h"

#include <QDate>
#include <QDateTime>
#include <QTime>
#include <array>

namespace kavio {

// The rules that turn a timer's recurrence into its next event date. A timer fires on the day
// stored in its Date; these rules move that date on, and RecalcTimerDates stores the result for
// every timer. "Now" is Clock::now() unless a moment is given.
//
// A date D has passed, for a time of day T, when today is later than D, or D is today and the
// current minute is later than T's minute: the runner fires once a minute, so an event of the
// current minute is still to come, whatever its seconds.

// Every `count` days (below 1 counts as 1).
QDate NextDailyDate(int count, QDate date, QTime timeOfDay);
QDate NextDailyDate(int count, QDate date, QTime timeOfDay, const QDateTime& now);

// Every `count` weeks on the ticked days of `dayMask`. Weeks start on Monday and are compared by
// their Mondays, as dates. The series starts on the first ticked day on or after the stored date,
// as calendars start a series on its first matching day: the rhythm's weeks are that day's week
// and every `count` weeks after it. A passed day moves on to the next ticked day of its week;
// after the week's last ticked day, to the first ticked day of the rhythm's next week. An empty
// mask leaves the date as it is.
QDate NextWeeklyDate(int count, quint16 dayMask, QDate date, QTime timeOfDay);
QDate NextWeeklyDate(int count, quint16 dayMask, QDate date, QTime timeOfDay, const QDateTime& now);
// The date an edited weekly timer restarts from so that its rhythm stays where it was: the Monday
// of today's week when that week is one of the rhythm's weeks (those of `eventDate`, every `count`
// weeks), otherwise the Monday of the rhythm's next week. A Monday, so that the first ticked day
// on or after it lies in the rhythm's week whatever days are ticked.
QDate WeeklyRestartDate(int count, const QDate& eventDate, const QDate& today);

// On day `day` (held to 1..31) of the ticked months of `monthMask`; a day beyond the month's
// length is the month's last day. An empty mask leaves the date as it is.
QDate NextMonthlyDate(quint16 monthMask, int day, QDate date, QTime timeOfDay);
QDate NextMonthlyDate(quint16 monthMask, int day, QDate date, QTime timeOfDay,
                      const QDateTime& now);

// One year on, as often as needed until it has not passed. The day of the month is `day` (the
// one asked for; the date's own day when outside 1..31), held to the month's length each year:
// 29 February is 28 February in a common year and 29 February again in the next leap year.
QDate NextYearlyDate(QDate date, QTime timeOfDay);
QDate NextYearlyDate(QDate date, QTime timeOfDay, const QDateTime& now);
QDate NextYearlyDate(QDate date, QTime timeOfDay, const QDateTime& now, int day);

// Whether the date's weekday (bit 0 Sunday .. bit 6 Saturday) or month (bit 0 January) is ticked.
bool DayInMask(quint16 mask, const QDate& date);
bool MonthInMask(quint16 mask, const QDate& date);

// The next event date of a record by its kind; a once timer keeps its date.
QDate NextEventDate(const TTimerRecord& record, const QDateTime& now);

// Recomputes the Date of every timer and stores those that change, all in one transaction. A record
// that cannot be read keeps its date; the others are written all the same, and then a
// TimerRecordError names every record that was left alone.
void RecalcTimerDates();
void RecalcTimerDates(const QDateTime& now);
// The same for the timers whose Date lies before today, the only ones a new day can move when
// every date was computed by these rules (once timers never move): what the runner does as each
// day begins, without reading the whole table.
void RecalcPassedTimerDates(const QDateTime& now);

// The editor's boxes: days Sun, Mon, Tue, Wed, Thu, Fri, Sat; months Jan .. Dec.
using DayTicks = std::array<bool, 7>;
using MonthTicks = std::array<bool, 12>;
quint16 DayMaskFromBoxes(const DayTicks& boxes);
DayTicks BoxesFromDayMask(quint16 mask);
quint16 MonthMaskFromBoxes(const MonthTicks& boxes);
MonthTicks BoxesFromMonthMask(quint16 mask);

} // namespace kavio
