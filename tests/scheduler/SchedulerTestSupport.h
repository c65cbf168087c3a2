#pragma once

#include "Database.h"
#include "Table.h"

#include <QDate>
#include <QSqlQuery>
#include <QTime>
#include <QVariant>

namespace kavio::test {

// A timer row as the editor writes it; returns its key.
inline quint16 addTimer(quint16 unit, int task, int every, int count, const QString& time,
                        const QDate& date, int dayOfWeek = 0, int month = 0) {
    TTable timers(QStringLiteral("Timer.DB"));
    timers.open();
    timers.append();
    timers.fieldByName(QStringLiteral("Index")).setInteger(unit);
    timers.fieldByName(QStringLiteral("Task")).setInteger(task);
    timers.fieldByName(QStringLiteral("Every")).setInteger(every);
    timers.fieldByName(QStringLiteral("Count")).setInteger(count);
    timers.fieldByName(QStringLiteral("TimeOfDay")).setString(time);
    timers.fieldByName(QStringLiteral("DayOfWeek")).setInteger(dayOfWeek);
    timers.fieldByName(QStringLiteral("Month")).setInteger(month);
    timers.fieldByName(QStringLiteral("Date")).setString(date.toString(Qt::ISODate));
    timers.post();
    return quint16(timers.fieldByName(QStringLiteral("TimerIndex")).asInteger());
}

// One stored field of a timer, as the file holds it.
inline QVariant timerField(quint16 timer, const char* field) {
    QSqlQuery query(Database::connection());
    query.prepare(QStringLiteral("SELECT \"%1\" FROM \"Timer\" WHERE \"TimerIndex\" = ?")
                      .arg(QLatin1String(field)));
    query.addBindValue(timer);
    return query.exec() && query.next() ? query.value(0) : QVariant();
}

// Writes a field by hand, as someone editing the file would.
inline void setTimerField(quint16 timer, const char* field, const QVariant& value) {
    QSqlQuery query(Database::connection());
    query.prepare(QStringLiteral("UPDATE \"Timer\" SET \"%1\" = ? WHERE \"TimerIndex\" = ?")
                      .arg(QLatin1String(field)));
    query.addBindValue(value);
    query.addBindValue(timer);
    query.exec();
}

inline int timerCount() {
    QSqlQuery query(Database::connection());
    return query.exec(QStringLiteral("SELECT COUNT(*) FROM \"Timer\"")) && query.next()
               ? query.value(0).toInt()
               : -1;
}

inline QDateTime at(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s, ms));
}

} // namespace kavio::test
