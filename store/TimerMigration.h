#pragma once

#include <QSqlDatabase>

namespace kavio {

// Brings the timers of a file that older programs wrote to the rules this program follows, so
// that each keeps the events it had. Runs inside the caller's transaction; throws DatabaseError.
//
// - A yearly timer whose Count is no day of the month (0 in older records: the date's own day)
//   gets the date's day written into Count. Without it, a 29 February became the 28th in a
//   common year and stayed the 28th for good.
// - A weekly timer once counted its rhythm from the week of its stored date, even when that
//   week held no ticked day on or after the date; a series now starts on its first ticked day
//   on or after the stored date. Such a record gets the Monday of its rhythm's next week as its
//   date, which gives the same weeks under either reading. Every other weekly record (whose
//   date is a ticked day, as every computed next event date is) means the same under both.
//
// Returns how many records were changed.
int migrateTimers(QSqlDatabase& db);

} // namespace kavio
