#include "Recurrence.h"

#include "Clock.h"
#include "TimerStore.h"

#include <algorithm>

namespace kavio {
namespace {

constexpr quint16 AllDays = 0x7F;
constexpr quint16 AllMonths = 0xFFF;
// Beyond this many unreadable records the error names only how many more there were.
constexpr int ProblemsNamed = 10;

// The runner fires once a minute, so an event's minute has passed only once the clock is beyond
// it: an event of the current minute is still to come, whatever its seconds.
bool passed(const QDate& date, const QTime& timeOfDay, const QDateTime& now) {
    const QDate today = now.date();
    const QTime time = now.time();
    return today > date || (date == today && time.hour() * 60 + time.minute() >
                                                 timeOfDay.hour() * 60 + timeOfDay.minute());
}

QDate mondayOf(const QDate& date) {
    return date.addDays(1 - date.dayOfWeek());
}

} // namespace

bool DayInMask(quint16 mask, const QDate& date) {
    const int day = date.dayOfWeek() % 7 + 1; // Sunday 1 .. Saturday 7
    return (mask >> (day - 1)) & 1;
}

bool MonthInMask(quint16 mask, const QDate& date) {
    return (mask >> (date.month() - 1)) & 1;
}

QDate NextDailyDate(int count, QDate date, QTime timeOfDay) {
    return NextDailyDate(count, date, timeOfDay, Clock::now());
}

QDate NextDailyDate(int count, QDate date, QTime timeOfDay, const QDateTime& now) {
    if (!date.isValid())
        return date;
    const qint64 step = std::max(count, 1);
    const qint64 behind = date.daysTo(now.date());
    if (behind > 0)
        date = date.addDays((behind + step - 1) / step * step);
    if (passed(date, timeOfDay, now))
        date = date.addDays(step);
    return date;
}

QDate NextWeeklyDate(int count, quint16 dayMask, QDate date, QTime timeOfDay) {
    return NextWeeklyDate(count, dayMask, date, timeOfDay, Clock::now());
}

QDate NextWeeklyDate(int count, quint16 dayMask, QDate date, QTime timeOfDay,
                     const QDateTime& now) {
    dayMask &= AllDays;
    if (dayMask == 0 || !date.isValid())
        return date;
    const qint64 interval = 7 * qint64(std::max(count, 1));

    // The series begins on the first ticked day on or after the stored date; its week is the
    // rhythm's first. A stored day that is not ticked (the day the timer was saved) therefore
    // never puts the rhythm a week later than its first event.
    while (!DayInMask(dayMask, date))
        date = date.addDays(1);
    // The rhythm's weeks are that week and every interval after it. A week before the current
    // one moves on by whole intervals, to the start of its week.
    QDate week = mondayOf(date);
    const qint64 behind = week.daysTo(mondayOf(now.date()));
    if (behind > 0) {
        week = week.addDays((behind + interval - 1) / interval * interval);
        date = week;
    }
    // The first ticked day still to come in a week of the rhythm; two weeks of it always hold
    // one, as only the current week can have passed.
    for (;;) {
        if (date > week.addDays(6)) {
            week = week.addDays(interval);
            date = week;
        }
        if (DayInMask(dayMask, date) && !passed(date, timeOfDay, now))
            return date;
        date = date.addDays(1);
    }
}

QDate WeeklyRestartDate(int count, const QDate& eventDate, const QDate& today) {
    if (!eventDate.isValid())
        return today;
    const qint64 interval = 7 * qint64(std::max(count, 1));
    const qint64 offset = mondayOf(eventDate).daysTo(mondayOf(today)) % interval;
    return mondayOf(today).addDays((interval - offset) % interval);
}

QDate NextMonthlyDate(quint16 monthMask, int day, QDate date, QTime timeOfDay) {
    return NextMonthlyDate(monthMask, day, date, timeOfDay, Clock::now());
}

QDate NextMonthlyDate(quint16 monthMask, int day, QDate date, QTime timeOfDay,
                      const QDateTime& now) {
    monthMask &= AllMonths;
    if (monthMask == 0 || !date.isValid())
        return date;
    day = std::clamp(day, 1, 31);

    // Every event in a month before the current one has passed.
    QDate month(date.year(), date.month(), 1);
    const QDate thisMonth(now.date().year(), now.date().month(), 1);
    if (month < thisMonth)
        month = thisMonth;
    for (;;) {
        while (!MonthInMask(monthMask, month))
            month = month.addMonths(1);
        const QDate event(month.year(), month.month(), std::min(day, month.daysInMonth()));
        if (!passed(event, timeOfDay, now))
            return event;
        month = month.addMonths(1);
    }
}

QDate NextYearlyDate(QDate date, QTime timeOfDay) {
    return NextYearlyDate(date, timeOfDay, Clock::now());
}

QDate NextYearlyDate(QDate date, QTime timeOfDay, const QDateTime& now) {
    return NextYearlyDate(date, timeOfDay, now, date.day());
}

QDate NextYearlyDate(QDate date, QTime timeOfDay, const QDateTime& now, int day) {
    if (day < 1 || day > 31)
        day = date.day();
    while (date.isValid() && passed(date, timeOfDay, now)) {
        const QDate month(date.year() + 1, date.month(), 1);
        date = QDate(month.year(), month.month(), std::min(day, month.daysInMonth()));
    }
    return date;
}

QDate NextEventDate(const TTimerRecord& record, const QDateTime& now) {
    switch (record.every) {
    case EveryDay:
        return NextDailyDate(record.count, record.date, record.timeOfDay, now);
    case EveryWeek:
        return NextWeeklyDate(record.count, record.dayOfWeek, record.date, record.timeOfDay, now);
    case EveryMonth:
        return NextMonthlyDate(record.month, record.count, record.date, record.timeOfDay, now);
    case EveryYear:
        return NextYearlyDate(record.date, record.timeOfDay, now, record.count);
    default:
        return record.date;
    }
}

namespace {
void recalculate(const QDateTime& now, bool passedOnly);
} // namespace

void RecalcTimerDates() {
    RecalcTimerDates(Clock::now());
}

void RecalcTimerDates(const QDateTime& now) {
    recalculate(now, false);
}

void RecalcPassedTimerDates(const QDateTime& now) {
    recalculate(now, true);
}

namespace {

void recalculate(const QDateTime& now, bool passedOnly) {
    QStringList problems;
    // Every record in table order; a record that breaks the rules keeps its date and is named.
    timers::rewriteDates(passedOnly ? std::optional<QString>(TimerDateText(now.date()))
                                    : std::nullopt,
                         [&](const timers::TimerField& field) -> std::optional<QString> {
                             try {
                                 return TimerDateText(NextEventDate(TimerRecordFrom(field), now));
                             } catch (const TimerRecordError& error) {
                                 problems << error.message();
                                 return std::nullopt;
                             }
                         });
    if (!problems.isEmpty()) {
        QStringList named = problems.mid(0, ProblemsNamed);
        if (problems.size() > ProblemsNamed)
            named << QStringLiteral("and %1 more timers").arg(problems.size() - ProblemsNamed);
        throw TimerRecordError(named.join(QLatin1Char('\n')));
    }
}

} // namespace

quint16 DayMaskFromBoxes(const DayTicks& boxes) {
    quint16 mask = 0;
    for (size_t day = 0; day < boxes.size(); ++day)
        mask |= quint16(boxes[day]) << day;
    return mask;
}

DayTicks BoxesFromDayMask(quint16 mask) {
    DayTicks boxes{};
    for (size_t day = 0; day < boxes.size(); ++day)
        boxes[day] = (mask >> day) & 1;
    return boxes;
}

quint16 MonthMaskFromBoxes(const MonthTicks& boxes) {
    quint16 mask = 0;
    for (size_t month = 0; month < boxes.size(); ++month)
        mask |= quint16(boxes[month]) << month;
    return mask;
}

MonthTicks BoxesFromMonthMask(quint16 mask) {
    MonthTicks boxes{};
    for (size_t month = 0; month < boxes.size(); ++month)
        boxes[month] = (mask >> month) & 1;
    return boxes;
}

} // namespace kavio
