#pragma once

#include <QString>
#include <functional>

namespace kavio::details {

// The columns of the device list's Details view, read for every unit whose key lies in
// from..to, each kind in one pass over its table. Each throws DatabaseError when its table
// cannot be read.

// A unit's own fields.
void forEachUnit(
    qint64 from, qint64 to,
    const std::function<void(quint16 unit, const QString& address, int port, quint8 status)>& take);
// Each membership row with its group's name, by unit, then by group (a row repeated comes
// again).
void forEachMembership(
    qint64 from, qint64 to,
    const std::function<void(quint16 unit, qint64 group, const QString& groupName)>& take);
// How many timers each unit has that has any.
void forEachTimerCount(qint64 from, qint64 to,
                       const std::function<void(quint16 unit, int timers)>& take);

// One unit's: the names of its groups, each once, by the groups' keys; and how many timers it
// has. Both throw DatabaseError.
QStringList groupNamesOf(quint16 unit);
int timerCountOf(quint16 unit);

} // namespace kavio::details
