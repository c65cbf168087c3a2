#pragma once

#include <QString>

namespace kavio {

// The SQL value (0 or 1) of a record's timer mark, taken from the timers themselves: whether
// Timer.DB holds a row with the record's key. Every way of making or removing a timer (the
// editor, the timer list, an import, a hand edit) is seen alike, which the stored Timer field
// cannot promise. `master` names the Master table or its alias in the query. Written as IN so
// that SQLite looks the keys up once per statement (or in Timer's index) rather than walking
// Timer.DB for every record.
inline QString timerMarkColumn(const QString& master = QStringLiteral("\"Master\"")) {
    return QStringLiteral("(%1.\"Index\" IN (SELECT \"Index\" FROM \"Timer\"))").arg(master);
}

} // namespace kavio
