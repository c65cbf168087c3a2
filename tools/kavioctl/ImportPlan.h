#pragma once

#include "UnitWriter.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringView>
#include <array>
#include <vector>

class QIODevice;

namespace kavio::ctl {

// What an import of a CSV file of units and groups would do: which records it makes, or which
// rows it refuses and why. Made in two steps, read() the text and check() it against the open
// store; it writes nothing (ImportApplication.h writes it).
//
// The file has the header name,address,port,password,groups. A row without address, port and
// password is a group, every other one a unit, whose groups column names the groups it joins,
// separated by ';': groups of the store, group rows of the file, or groups the import makes. Each
// row meets the rules of the unit and group dialogs, and every name is new to the store and to
// the file.
//
// A large file is kept small: the fields of all rows lie one after another in one text.
class ImportPlan {
public:
    // The file's columns, in order.
    enum Column { NameColumn, AddressColumn, PortColumn, PasswordColumn, GroupsColumn, Columns };
    static const QStringList Header;
    // Larger files are refused unread: the store holds at most 65535 records, whose fields fit
    // in far less.
    static constexpr qint64 MaxFileSize = 64 * 1024 * 1024;
    // At most this many faults are kept in each step, the first by line; the rest are counted.
    static constexpr qsizetype KeptFaults = 1000;

    // A refused row or file: `line` 0 is the file as a whole, `column` -1 no one field.
    struct Fault {
        int line = 0;
        int column = -1;
        QString message;
    };

    // A group a unit joins: one of the store, or the one at this position of groupsToMake().
    struct GroupRef {
        quint16 stored = 0;
        int made = -1;
        bool operator==(const GroupRef&) const = default;
    };

    struct PlannedUnit {
        UnitFields fields;
        QList<GroupRef> groups;
    };

    // The file at `path`: refused unread when it is missing, a folder or too large.
    bool readFile(const QString& path);
    // The text of `device`; false when it cannot be read at all or its header is wrong. Faults of
    // single rows are kept, and the other rows are read on.
    bool read(QIODevice& device);
    // Checks every row against the rules and the store; false when any row is refused.
    bool check();

    // The faults kept so far, in the order of their lines, and how many there were in all.
    std::vector<Fault> faults() const;
    qsizetype faultCount() const { return m_faultCount; }

    // After a check without faults: the groups to make, in order: the file's group rows, then the
    // groups that units name and neither the store nor the file has, in the order first named.
    const QList<QString>& groupsToMake() const { return m_groupsToMake; }
    // The units to make, in the file's order.
    qsizetype unitCount() const { return qsizetype(m_unitRows.size()); }
    PlannedUnit unit(qsizetype number) const;

private:
    // A row of the file, kept small: a file of many short rows must not need many times its
    // size.
    struct Row {
        qint32 line = 0;
        quint32 start = 0;                   // where its first field begins
        std::array<quint32, Columns> ends{}; // where each field ends
        bool group = false;
        qint32 first = 0; // the first row with the same name (itself when none is earlier)
    };
    // A record of the store, as far as names go.
    struct StoredName {
        quint16 index = 0;
        bool group = false;
        int count = 0; // records with this exact name
    };
    // What a unit's groups column names: a group of the store, a group row of the file, or a
    // group the import creates.
    struct GroupTarget {
        qint64 storedIndex = 0; // 0: none in the store
        int row = -1;           // the group row of the file, or -1
        GroupRef ref;           // where the plan finds it
    };

    void fault(int line, int column, const QString& message);
    void fault(const QString& message) { keep(0, -1, message); }
    bool shown() const { return m_keptInPass < KeptFaults; }
    void skipFault() {
        ++m_faultCount;
        ++m_keptInPass;
    }
    void keep(int line, int column, const QString& message);

    QStringView field(const Row& row, int column) const {
        const quint32 from = column == 0 ? row.start : row.ends[size_t(column - 1)];
        return QStringView(m_text).mid(from, row.ends[size_t(column)] - from);
    }
    QList<QStringView> groupsOf(const Row& row) const;
    void readStore();
    void checkRow(int position);
    QString checkGroups(const Row& row);
    QString target(QStringView name, GroupTarget& found) const;
    void planRecords();

    std::vector<Fault> m_faults;
    qsizetype m_faultCount = 0;
    qsizetype m_keptInPass = 0;
    QString m_text; // the fields of all rows
    std::vector<Row> m_rows;
    QHash<QString, StoredName> m_stored;
    QHash<QStringView, int> m_firstRow; // name -> 1 + the first row that has it
    QHash<QStringView, int> m_members;  // group name -> units of the file that name it
    QHash<QStringView, GroupTarget> m_targets;
    QList<QStringView> m_targetOrder; // group names in the order they are first met
    QList<QString> m_groupsToMake;
    std::vector<qint32> m_unitRows; // the rows of units, in order
};

} // namespace kavio::ctl
