#include "LineDetails.h"

#include "SqlRunner.h"

#include <QStringList>

namespace kavio::details {
namespace {

const QString MasterTable = QStringLiteral("Master.DB");
const QString TimerTable = QStringLiteral("Timer.DB");

} // namespace

void forEachUnit(qint64 from, qint64 to,
                 const std::function<void(quint16, const QString&, int, quint8)>& take) {
    QSqlQuery units =
        runQuery(MasterTable,
                 QStringLiteral("SELECT \"Index\", \"IPAddress\", \"Port\", \"Status\" "
                                "FROM \"Master\" WHERE \"Group\" = 0 AND \"Index\" "
                                "BETWEEN ? AND ?"),
                 {from, to});
    while (units.next())
        take(quint16(units.value(0).toUInt()), units.value(1).toString(), units.value(2).toInt(),
             quint8(units.value(3).toUInt()));
}

void forEachMembership(qint64 from, qint64 to,
                       const std::function<void(quint16, qint64, const QString&)>& take) {
    QSqlQuery groups = runQuery(
        MasterTable,
        QStringLiteral("SELECT g.\"Index\", g.\"GroupIndex\", m.\"Name\" FROM \"Group\" AS g "
                       "JOIN \"Master\" AS m ON m.\"Index\" = g.\"GroupIndex\" WHERE g.\"Index\" "
                       "BETWEEN ? AND ? ORDER BY g.\"Index\", g.\"GroupIndex\""),
        {from, to});
    while (groups.next())
        take(quint16(groups.value(0).toUInt()), groups.value(1).toLongLong(),
             groups.value(2).toString());
}

void forEachTimerCount(qint64 from, qint64 to, const std::function<void(quint16, int)>& take) {
    QSqlQuery timers = runQuery(TimerTable,
                                QStringLiteral("SELECT \"Index\", COUNT(*) FROM \"Timer\" WHERE "
                                               "\"Index\" BETWEEN ? AND ? GROUP BY \"Index\""),
                                {from, to});
    while (timers.next())
        take(quint16(timers.value(0).toUInt()), timers.value(1).toInt());
}

QStringList groupNamesOf(quint16 unit) {
    QSqlQuery groups =
        runQuery(MasterTable,
                 QStringLiteral(
                     "SELECT DISTINCT m.\"Index\", m.\"Name\" FROM \"Group\" AS g "
                     "JOIN \"Master\" AS m ON m.\"Index\" = g.\"GroupIndex\" WHERE g.\"Index\" = ? "
                     "ORDER BY m.\"Index\""),
                 {unit});
    QStringList names;
    while (groups.next())
        names << groups.value(1).toString();
    return names;
}

int timerCountOf(quint16 unit) {
    QSqlQuery timers = runQuery(
        TimerTable, QStringLiteral("SELECT COUNT(*) FROM \"Timer\" WHERE \"Index\" = ?"), {unit});
    return timers.next() ? timers.value(0).toInt() : 0;
}

} // namespace kavio::details
