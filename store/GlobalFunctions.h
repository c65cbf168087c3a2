#pragma once

#include "Codes.h"

#include <QByteArray>
#include <QString>

namespace kavio {

class TTable;

// The small routines through which the rest of the system finds records by key, filters a table
// to one group or one timer, writes a unit's status and tests names. Each works on the caller's
// table object and leaves it in the state stated.

// Filter "Index=<index>", filtering on; the table is not opened.
void FilterByIndex(TTable& table, quint16 index);
// FilterByIndex, open, first record. On Master.DB: the unit or group; on Group.DB: a unit's
// memberships; on Timer.DB: a unit's timers. No such record: an open, empty table.
void OpenByIndex(TTable& table, quint16 index);
// Filter "GroupIndex=<index>", open, first record: the membership rows of a group.
void OpenByGroupIndex(TTable& table, quint16 groupIndex);
// Filter "TimerIndex=<index>", open, first record: one timer.
void OpenByTimerIndex(TTable& table, quint32 timerIndex);
// Clears the filter, turns filtering off and closes the table.
void CloseFiltered(TTable& table);

// Writes `status` into the unit's record and closes the table. A unit that no longer exists is
// left alone: no record is created or changed.
void SetStatus(TTable& table, quint16 index, quint8 status);
// Writes `status` into the current record of an open table, which stays open. Without a current
// record nothing is written.
void SetCurrentStatus(TTable& table, quint8 status);
// Sets Status 3 (unknown) in every record of Master.DB in one statement; the table ends closed
// and unfiltered.
void ResetAllStatuses(TTable& masterTable);

// A unit's reply as a status code: exactly "ON" 0, "OFF" 1, "CYCLE" 2, "BUSY" 5, anything else 3.
quint8 ParseStatus(const QByteArray& reply);

// The display name of a task code 0..4 ("Power On" ...); for any other code `name` keeps the
// text it had.
void TaskName(quint8 task, QString& name);

// Whether a record of the table has exactly this Name (case-sensitive, no trimming). Walks the
// whole table, so a filter left on the object is cleared first; the table ends closed.
bool NameInUse(TTable& table, const QString& name);

} // namespace kavio
