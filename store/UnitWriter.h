#pragma once

#include "Codes.h"
#include "Exception.h"

#include <QList>
#include <QString>
#include <memory>
#include <vector>

namespace kavio {

// What a new record of Master.DB holds in the columns its maker does not fill in: the one place
// for them, whoever makes the record (the dialogs, the window, the command-line import). A new
// group has no address, port or password (NULL); a new unit gets what the operator entered.
struct NewRecord {
    // The port the unit dialog offers for a new unit.
    static constexpr int Port = 80;
    static constexpr bool Timer = false;
    static constexpr quint8 Status = StatusUnknown;
    static constexpr bool Checked = false;
};

// A unit's own fields, as entered.
struct UnitFields {
    QString name;
    QString address;
    int port = NewRecord::Port;
    QString password;
};

// A new record would get a key above MaxUnitIndex, which no consumer could hold: nothing was
// written.
class StoreFull : public DatabaseError {
public:
    explicit StoreFull(qint64 key);
    qint64 key() const { return m_key; }

private:
    qint64 m_key;
};

// How many units, groups and timers the store holds (those the program sees).
struct StoreCounts {
    qint64 units = 0;
    qint64 groups = 0;
    qint64 timers = 0;
};

// Many new records in one transaction, its statements prepared once: for a maker of thousands
// (the import). Records get the defaults of NewRecord, as from the functions below. What the batch
// made lands only with commit(); a batch dropped without it, or one that threw, takes back
// everything it made.
class RecordBatch {
public:
    RecordBatch();
    ~RecordBatch();
    RecordBatch(const RecordBatch&) = delete;
    RecordBatch& operator=(const RecordBatch&) = delete;

    quint16 makeUnit(const UnitFields& unit);
    quint16 makeGroup(const QString& name);
    void addMember(quint16 group, quint16 unit);
    void commit();

private:
    struct Statements;
    std::unique_ptr<Statements> m_statements;
};

// The one writer of units, groups and their memberships. Each function lands whole or not at all
// (see WriteTransaction), also inside a transaction the caller holds. Texts are stored exactly as
// given, a leading U+FEFF included. Records and rows whose unit keys lie outside 1..65535 are
// never changed or removed, as no walk sees them. Every function throws DatabaseError when the
// file cannot be written (StoreFull when it has no key left for a new record).
namespace writer {

// A new unit with the defaults of NewRecord; its key.
quint16 makeUnit(const UnitFields& unit);
// A new group with the defaults of NewRecord and these members, in this order; its key. Rows
// that already carry the new key (left by a hand edit) are removed first.
quint16 makeGroup(const QString& name, const QList<quint16>& members = {});
// Rewrites a unit's own fields; false when there is no such unit.
bool changeUnit(quint16 index, const UnitFields& unit);
// Renames a group and gives it these members afresh; false when there is no such record.
bool changeGroup(quint16 index, const QString& name, const QList<quint16>& members);
// The group's membership rows afresh: one per member, in this order.
void setMembers(quint16 group, const QList<quint16>& members);
// One more membership row.
void addMember(quint16 group, quint16 unit);
// Removes a unit with its memberships in every group, or a group with its membership rows; its
// timers stay. False when there is no such record.
bool remove(quint16 index);
// Removes every unit, group, membership and timer.
void removeAll();
// The ticks: Checked of every record named, all or none.
void setTicks(const std::vector<quint16>& indexes, bool checked);
// Marks a record as having timers; false when there is no such record.
bool markTimer(quint16 index);

// What removeAll would take away.
StoreCounts counts();

// A record of the store as far as names go, for a maker that checks its names first.
struct NamedRecord {
    quint16 index = 0;
    QString name;
    bool group = false; // Group holds 1
};
// Every unit and group, by key.
std::vector<NamedRecord> namedRecords();

} // namespace writer
} // namespace kavio
