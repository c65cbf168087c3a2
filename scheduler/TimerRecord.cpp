#include "TimerRecord.h"

#include "Table.h"

namespace kavio {
namespace {

QString shown(const QVariant& value) {
    return value.isNull() ? QStringLiteral("nothing")
                          : QLatin1Char('"') + value.toString() + QLatin1Char('"');
}

[[noreturn]] void refuse(const QString& who, const char* field, const QVariant& value,
                         const QString& expected) {
    throw TimerRecordError(QStringLiteral("%1: field \"%2\" holds %3, which is not %4")
                               .arg(who, QLatin1String(field), shown(value), expected));
}

} // namespace

qint64 TimerInteger(const QVariant& value, const QString& who, const char* field, qint64 lowest,
                    qint64 highest) {
    if (value.isNull())
        refuse(who, field, value, QStringLiteral("a whole number"));
    bool ok = false;
    qint64 number = 0;
    switch (value.typeId()) {
    case QMetaType::QString:
        number = value.toString().trimmed().toLongLong(&ok);
        break;
    case QMetaType::Double: {
        const double real = value.toDouble();
        ok = real == double(qint64(real));
        number = qint64(real);
        break;
    }
    case QMetaType::QByteArray:
        break;
    default:
        number = value.toLongLong(&ok);
        break;
    }
    if (!ok)
        refuse(who, field, value, QStringLiteral("a whole number"));
    if (number < lowest || number > highest)
        refuse(who, field, value,
               QStringLiteral("a number from %1 to %2").arg(lowest).arg(highest));
    return number;
}

// The number of `length` digits at `from`, or -1.
static int digitsAt(const QString& text, int from, int length) {
    int number = 0;
    for (int at = from; at < from + length; ++at) {
        if (at >= text.size() || text[at] < u'0' || text[at] > u'9')
            return -1;
        number = number * 10 + (text[at].unicode() - u'0');
    }
    return number;
}

QDate TimerDate(const QVariant& value, const QString& who) {
    const QString text = value.toString();
    QDate date;
    if (!value.isNull() && text.size() == 10 && text[4] == u'-' && text[7] == u'-' &&
        digitsAt(text, 0, 4) >= 0)
        date = QDate(digitsAt(text, 0, 4), digitsAt(text, 5, 2), digitsAt(text, 8, 2));
    if (!date.isValid())
        refuse(who, "Date", value, QStringLiteral("a date of the form YYYY-MM-DD"));
    return date;
}

QTime TimerTime(const QVariant& value, const QString& who) {
    const QString text = value.toString();
    QTime time;
    const bool withSeconds = text.size() == 8 && text[5] == u':';
    if (!value.isNull() && (text.size() == 5 || withSeconds) && text[2] == u':')
        time = QTime(digitsAt(text, 0, 2), digitsAt(text, 3, 2),
                     withSeconds ? digitsAt(text, 6, 2) : 0);
    if (!time.isValid())
        refuse(who, "TimeOfDay", value, QStringLiteral("a time of the form HH:MM:SS"));
    return time;
}

TTimerRecord ReadTimerRecord(TTable& table) {
    return TimerRecordFrom(
        [&table](const char* name) { return table.fieldByName(QLatin1String(name)).value(); });
}

TTimerRecord TimerRecordFrom(const std::function<QVariant(const char* field)>& field) {
    TTimerRecord record;
    const QVariant key = field("TimerIndex");
    const QString who = QStringLiteral("Timer %1").arg(key.toString());
    record.timerIndex = quint16(TimerInteger(key, who, "TimerIndex", 0, 65535));
    record.index = quint16(TimerInteger(field("Index"), who, "Index", 0, 65535));
    record.task = quint8(TimerInteger(field("Task"), who, "Task", 0, 4));
    record.every = quint8(TimerInteger(field("Every"), who, "Every", 0, 4));
    record.count = qint32(TimerInteger(field("Count"), who, "Count", INT32_MIN, INT32_MAX));
    record.timeOfDay = TimerTime(field("TimeOfDay"), who);
    record.dayOfWeek = quint16(TimerInteger(field("DayOfWeek"), who, "DayOfWeek", 0, 65535));
    record.month = quint16(TimerInteger(field("Month"), who, "Month", 0, 65535));
    record.date = TimerDate(field("Date"), who);
    return record;
}

QString TimerDateText(const QDate& date) {
    return date.toString(QStringLiteral("yyyy-MM-dd"));
}

QString TimerTimeText(const QTime& time) {
    return time.toString(QStringLiteral("HH:mm:ss"));
}

QString EveryName(int every) {
    switch (every) {
    case EveryDay:
        return QStringLiteral("Daily");
    case EveryWeek:
        return QStringLiteral("Weekly");
    case EveryMonth:
        return QStringLiteral("Monthly");
    case EveryYear:
        return QStringLiteral("Yearly");
    case EveryOnce:
        return QStringLiteral("Once");
    }
    return QString();
}

namespace {

int twelveHour(const QTime& time) {
    const int hour = time.hour() % 12;
    return hour == 0 ? 12 : hour;
}

QString twoDigits(int value) {
    return QStringLiteral("%1").arg(value, 2, 10, QLatin1Char('0'));
}

} // namespace

QString TwelveHourTime(const QTime& time) {
    return QStringLiteral("%1:%2 %3")
        .arg(twoDigits(twelveHour(time)), twoDigits(time.minute()),
             time.hour() < 12 ? QStringLiteral("AM") : QStringLiteral("PM"));
}

QString ClockText(const QTime& time) {
    return QStringLiteral("%1:%2:%3 %4")
        .arg(QString::number(twelveHour(time)), twoDigits(time.minute()), twoDigits(time.second()),
             time.hour() < 12 ? QStringLiteral("am") : QStringLiteral("pm"));
}

QString DateFilterLine(const QDate& date) {
    return QStringLiteral("WHERE \"Timer.DB\".\"Date\" = \"%1/%2/%3\"")
        .arg(QString::number(date.month()), twoDigits(date.day()),
             QStringLiteral("%1").arg(date.year(), 4, 10, QLatin1Char('0')));
}

} // namespace kavio
