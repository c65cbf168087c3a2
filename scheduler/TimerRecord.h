#pragma once

#include "Exception.h"

#include <QDate>
#include <QString>
#include <QTime>
#include <QVariant>
#include <functional>

namespace kavio {

class TTable;

// Recurrence kinds, as stored in Timer."Every".
enum TimerEvery : quint8 {
    EveryDay = 0,
    EveryWeek = 1,
    EveryMonth = 2,
    EveryYear = 3,
    EveryOnce = 4,
};

// A timer row that cannot be used as it stands: written by hand with text in a number field, an
// unknown task or recurrence kind, a date or time that does not parse. The message names the
// timer and the field.
class TimerRecordError : public Exception {
public:
    using Exception::Exception;
};

// One row of Timer.DB, checked and converted.
struct TTimerRecord {
    quint16 timerIndex = 0;
    quint16 index = 0; // the unit (or group) the timer switches
    quint8 task = 0;   // 0..4
    quint8 every = 0;  // TimerEvery
    // Daily: days between events; weekly: weeks between events; monthly: the day of the month;
    // yearly: the day of the month asked for (0 in older records: the date's own day); once: 0.
    qint32 count = 0;
    QTime timeOfDay;
    quint16 dayOfWeek = 0; // bit 0 Sunday .. bit 6 Saturday
    quint16 month = 0;     // bit 0 January .. bit 11 December
    QDate date;
};

// Reads the current record of an open Timer.DB table object. Throws TimerRecordError naming the
// timer and the first field that does not hold a usable value.
TTimerRecord ReadTimerRecord(TTable& table);
// The same from any source of field values by name.
TTimerRecord TimerRecordFrom(const std::function<QVariant(const char* field)>& field);

// Checked conversions of single stored values; `who` names the row in the message ("Timer 12").
qint64 TimerInteger(const QVariant& value, const QString& who, const char* field, qint64 lowest,
                    qint64 highest);
QDate TimerDate(const QVariant& value, const QString& who);
QTime TimerTime(const QVariant& value, const QString& who);

// The stored forms: Date 'YYYY-MM-DD', TimeOfDay 'HH:MM:SS' (24-hour).
QString TimerDateText(const QDate& date);
QString TimerTimeText(const QTime& time);

// "Daily", "Weekly", "Monthly", "Yearly", "Once"; empty for anything else.
QString EveryName(int every);

// Texts shown whatever the user's locale:
// "09:30 PM": two-digit 12-hour hour, two-digit minutes, upper-case AM or PM.
QString TwelveHourTime(const QTime& time);
// "3:05:09 pm": 12-hour hour without a leading zero, two-digit minutes and seconds, am or pm.
QString ClockText(const QTime& time);
// The runner's date filter line: WHERE "Timer.DB"."Date" = "12/06/2026" (month without a leading
// zero, two-digit day, four-digit year).
QString DateFilterLine(const QDate& date);

} // namespace kavio
