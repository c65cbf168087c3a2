#pragma once

#include <QHash>
#include <QList>
#include <QSet>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <optional>
#include <utility>
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

// Whether a record is a group, and its status.
struct RecordKind {
    bool group = false;
    quint8 status = 3;
};
// nullopt when no record has that key.
std::optional<RecordKind> kindOf(quint16 index);

// The keys a group's rows name, each once; a row whose unit is gone or is a group is in it too.
QSet<quint16> memberKeys(quint16 group);
// The keys a group's rows name, in the order the rows were written (a row repeated comes again).
std::vector<quint16> memberKeysInRowOrder(quint16 group);

// The units among a group's members, by key, each once (their status is left unknown). Throws
// DatabaseError naming the group when they cannot be read.
std::vector<UnitTarget> unitMembersByKey(quint16 group);

// Every record's key, name and whether it is a group (any Group but 0), by key.
std::vector<StoredRecord> recordsByKey();

// Master and Group as read, before they are put in list order.
struct RawStore {
    std::vector<StoredRecord> units;
    std::vector<StoredRecord> groups;
    std::vector<std::pair<quint16, quint16>> memberships; // (group key, unit key)
};
// Reads them with the given open connection (a reader thread's own); throws DatabaseError.
RawStore readRaw(const QSqlDatabase& db);
// What SQLite counts up whenever another connection has changed the file; -1 when it says
// nothing. Throws DatabaseError when it cannot be asked.
qint64 dataVersion(const QSqlDatabase& db);

// Indexes on name and address for the look-ups above, where tens of thousands of units would
// otherwise be walked per request. They change no column and other programs ignore them; when
// the file is locked now they are left out and the look-ups still work.
void addLookupIndexes();

} // namespace directory
} // namespace kavio
