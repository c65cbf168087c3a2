#pragma once

#include <QHash>
#include <QString>
#include <QVariant>
#include <functional>
#include <optional>
#include <vector>

namespace kavio::timers {

// One row of a day's events: identical timers merged.
struct EventRow {
    QVariant timerIndex; // the lowest key among the merged timers, for messages
    QVariant index;
    QVariant task;
    QVariant timeOfDay;
    QVariant date;
    QVariant every;
    QVariant group; // 0 a unit, 1 a group, empty when its record is gone
};

// The events of the day `date` ("YYYY-MM-DD"), in the order they fire; with `fromTime` and
// `beforeTime` ("HH:MM") only those whose TimeOfDay lies in fromTime..beforeTime, the latter
// excluded. Throws DatabaseError.
std::vector<EventRow> eventsOn(const QString& date, const QString& fromTime = {},
                               const QString& beforeTime = {});

// An index by Date and TimeOfDay for the selection above, made when missing; a file that
// cannot take it now is read without it.
void addDateIndex();

// The names of the units and groups that the timers of `date` name, by key, in one query.
// Throws DatabaseError.
QHash<qint64, QString> namesTimedOn(const QString& date);

// A field of the timer being walked, by its column name.
using TimerField = std::function<QVariant(const char* field)>;
// Walks every timer in key order (with `passedBefore`, only the timers dated before it that do
// not fire once) and writes the date that `nextDate` gives where it differs from the stored one,
// all in one transaction when one can be opened; nextDate gives nullopt to leave a timer alone.
// What nextDate throws ends the walk, and nothing is written. Throws DatabaseError.
void rewriteDates(const std::optional<QString>& passedBefore,
                  const std::function<std::optional<QString>(const TimerField& field)>& nextDate);

} // namespace kavio::timers
