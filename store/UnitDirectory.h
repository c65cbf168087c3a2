#pragma once

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace kavio {

// One unit or group of Master.DB as listings show it.
struct StoredRecord {
    quint16 index = 0;
    QString name;
    bool group = false;
    QString address;
    QString port;     // as stored; empty when none
    QString password; // read only when asked for
    qint64 status = 0;
    bool timer = false;
    QStringList groups; // units: the names of the groups it belongs to, in list order
};

// A unit a command goes to, with what the store says of it now.
struct UnitTarget {
    quint16 index = 0;
    QString name;
    qint64 status = 0;
};

// The units and groups of the store, as every program reads them: whole listings, the targets
// a command line names, and single records looked up with one statement each, so that a request
// that switches one unit costs the same with a thousand units as with one. Only records whose key
// lies in 1..65535 and whose Group holds 0 or 1 are read, as the list does. Names compare
// exactly, as the dialogs do. Every function throws DatabaseError when the file cannot be read.
namespace directory {

// The units and groups in the order of the control center's "All" tab: groups first, then units,
// each sorted by name without regard to letter case, equal names by Index.
std::vector<StoredRecord> readStore(bool withPasswords);

// Sorts by name as the list does: without regard to letter case, in the language's order; equal
// names keep their order.
void sortByName(std::vector<StoredRecord>& records);

// The units named, in order, each once: a unit's name gives that unit, a group's name all its
// members in the list's order, `all` every unit in the list's order. A name that is no unit or
// group, or a group without units, is put into `problems` (one message each); the caller then
// sends nothing.
QList<UnitTarget> resolveTargets(const QStringList& names, bool all, QStringList& problems);

// Every unit, by key: the order in which "Poll Now" queries them.
QList<UnitTarget> unitsByKey();

// The keys of every unit, ascending, read with one light statement: what a poll queries.
QList<quint16> unitKeys();

// The unit of that exact name: the first by key when several share it.
std::optional<UnitTarget> findUnit(const QString& name);
// Every unit at that address, in list order.
std::vector<UnitTarget> unitsAtAddress(const QString& address);
// The group of that exact name (its status is left unknown).
std::optional<UnitTarget> findGroup(const QString& name);
// The members of the groups of that name, in list order.
QList<UnitTarget> groupMembers(const QString& name);
// One unit as the listing shows it: its row and its groups' names, in list order.
std::optional<StoredRecord> readUnit(const QString& name);
// The names of these keys.
QHash<quint16, QString> namesOf(const QSet<quint16>& keys);

// Indexes on name and address for the look-ups above, where tens of thousands of units would
// otherwise be walked per request. They change no column and other programs ignore them; when
// the file is locked now they are left out and the look-ups still work.
void addLookupIndexes();

} // namespace directory
} // namespace kavio
