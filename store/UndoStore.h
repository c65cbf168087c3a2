#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QVariantList>
#include <vector>

namespace kavio {

// What a deletion or the emptying of the database took away: the rows of the three tables as
// they were, with their keys. Taken just before the rows go.
struct RemovedRows {
    QString description;        // "the unit \"Rack 2\"", "every unit, group and timer", ...
    QList<QVariantList> master; // the columns of schema's Master, in order
    QList<QVariantList> group;  // GroupIndex, Index
    QList<QVariantList> timer;  // the columns of schema's Timer, in order
};

// Edit > Undo: the deletions and emptyings of this run of the program, the last one first. Each
// undo puts one of them back with the same keys, so its group memberships and timers find their
// unit again. Nothing is kept on disk: the store lasts as long as the program.
class UndoStore : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    // The rows that deleting this unit or group removes: its record, its memberships (a unit's
    // in every group, or a group's rows) and its timers. Throws DatabaseError.
    static RemovedRows recordRows(quint16 index);
    // One timer's row.
    static RemovedRows timerRows(quint32 timerIndex);
    // Every row of the three tables.
    static RemovedRows allRows();

    // Keeps rows that have just been removed.
    void push(RemovedRows rows);
    bool canUndo() const { return !kept.empty(); }
    // What the next undo brings back; empty when nothing.
    QString nextDescription() const;
    // Puts the last removal back, all of it or nothing, and forgets it; returns what it was.
    // A record whose key has been taken meanwhile (by a hand edit) makes it fail with a
    // DatabaseError, and the removal stays to be undone later.
    QString undo();

signals:
    // The list of removals changed (one kept, or one undone).
    void changed();
    // Rows came back: lists and the timer runner must read them again.
    void restored();

private:
    std::vector<RemovedRows> kept;
};

} // namespace kavio
