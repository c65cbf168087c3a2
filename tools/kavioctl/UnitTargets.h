#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace kavio::ctl {

// A unit a command goes to, with what the store says of it now.
struct UnitTarget {
    quint16 index = 0;
    QString name;
    qint64 status = 0;
};

// The units named by the command line, in order, each once: a unit's name gives that unit, a
// group's name all its members in the list's order, `all` every unit in the list's order. Names
// compare exactly, as the dialogs do. A name that is no unit or group, or a group without units,
// is put into `problems` (one message each); the caller then sends nothing.
QList<UnitTarget> resolveTargets(const QStringList& names, bool all, QStringList& problems);

// Every unit, by key: the order in which "Poll Now" queries them.
QList<UnitTarget> unitsByKey();

} // namespace kavio::ctl
