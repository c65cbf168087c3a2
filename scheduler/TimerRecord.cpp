#include "TimerRecord.h"

#include "Table.h"

#include <QRegularExpression>

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

QVariant field(TTable& table, const char* name) {
    return table.fieldByName(QLatin1String(name)).value();
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

QDate TimerDate(const QVariant& value, const QString& who) {
    static const QRegularExpression form(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}$"));
    const QString text = value.toString();
    const QDate date = form.match(text).hasMatch()
                           ? QDate::fromString(text, QStringLiteral("yyyy-MM-dd"))
                           : QDate();
    if (value.isNull() || !date.isValid())
        refuse(who, "Date", value, QStringLiteral("a date of the form YYYY-MM-DD"));
    return date;
}

QTime TimerTime(const QVariant& value, const QString& who) {
    static const QRegularExpression form(QStringLiteral("^\\d{2}:\\d{2}(:\\d{2})?$"));
    const QString text = value.toString();
    QTime time;
    if (form.match(text).hasMatch())
        time = QTime::fromString(text, text.size() == 5 ? QStringLiteral("HH:mm")
                                                        : QStringLiteral("HH:mm:ss"));
    if (value.isNull() || !time.isValid())
        refuse(who, "TimeOfDay", value, QStringLiteral("a time of the form HH:MM:SS"));
    return time;
}

TTimerRecord ReadTimerRecord(TTable& table) {
    TTimerRecord record;
    const QVariant key = field(table, "TimerIndex");
    const QString who = QStringLiteral("Timer %1").arg(key.toString());
    record.timerIndex = quint16(TimerInteger(key, who, "TimerIndex", 0, 65535));
    record.index = quint16(TimerInteger(field(table, "Index"), who, "Index", 0, 65535));
    record.task = quint8(TimerInteger(field(table, "Task"), who, "Task", 0, 4));
    record.every = quint8(TimerInteger(field(table, "Every"), who, "Every", 0, 4));
    record.count = qint32(TimerInteger(field(table, "Count"), who, "Count", INT32_MIN, INT32_MAX));
    record.timeOfDay = TimerTime(field(table, "TimeOfDay"), who);
    record.dayOfWeek = quint16(TimerInteger(field(table, "DayOfWeek"), who, "DayOfWeek", 0, 65535));
    record.month = quint16(TimerInteger(field(table, "Month"), who, "Month", 0, 65535));
    record.date = TimerDate(field(table, "Date"), who);
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
