#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

namespace kavio {

// A filter expression of the forms the system uses, parsed into a column and a value so that it
// can be bound into a query rather than pasted into one:
//   "Index=N", "GroupIndex=N", "TimerIndex=N"  (N decimal, no sign, blanks or leading zeros)
//   "Group=True", "Group=False"
// An empty text means no filter.
struct TableFilter {
    QString column;
    QVariant value; // qint64 for the keys, 0/1 for Group

    bool isEmpty() const { return column.isEmpty(); }
    // Whether a record whose filtered field holds `fieldValue` passes (a non-empty filter only).
    bool matches(const QVariant& fieldValue) const;

    // Throws DatabaseError for any other text, or for a column that `columns` does not hold.
    static TableFilter parse(const QString& text, const QString& table, const QStringList& columns);
};

} // namespace kavio
