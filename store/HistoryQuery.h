#pragma once

#include "HistoryRow.h"

#include <QDateTime>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QSqlDatabase>
#include <QStringList>
#include <limits>
#include <optional>

namespace kavio {

// Which rows of the History table to read. Empty lists and unset keys mean "any".
struct HistoryFilter {
    std::optional<quint16> Unit;  // one unit by its key
    QString UnitName;             // rows kept under this name (a unit deleted since)
    std::optional<quint16> Group; // the units that are members of the group now
    QStringList Sources;          // sourceName() words
    QStringList Outcomes;         // HistoryOutcomes() words
    qint64 SinceMs = std::numeric_limits<qint64>::min(); // from this time on (UTC ms)
    qint64 UntilMs = std::numeric_limits<qint64>::max(); // before this time
};

// Where a page ended: the next page starts after this row (newest first).
struct HistoryCursor {
    qint64 TimeMs = 0;
    qint64 Id = 0;
};

struct HistoryPage {
    QList<HistoryRow> Rows;
    QList<qint64> Ids;
    // Set when more rows may follow.
    std::optional<HistoryCursor> Next;
};

// Reads up to `limit` rows matching `filter`, newest first, starting after `after`; with limit 0,
// all of them. Throws DatabaseError. A file without the table has no rows.
HistoryPage ReadHistory(const HistoryFilter& filter, int limit,
                        const std::optional<HistoryCursor>& after = std::nullopt);
// The same on a connection of the caller's (one of another thread, say).
HistoryPage ReadHistory(QSqlDatabase db, const HistoryFilter& filter, int limit,
                        const std::optional<HistoryCursor>& after = std::nullopt);

// The time of the unit's last answered exchange (UTC ms), if any.
std::optional<qint64> LastAnswerMs(quint16 index);

// Every unit's last answered exchange (UTC ms) in one pass, for sorting by it. Throws
// DatabaseError.
QHash<quint16, qint64> LastAnswers();

// "last answer: 2026-12-07 12:03:07" (local time) or "last answer: none kept", for a unit's
// tooltip and details; never throws (a failing database reads "last answer: unknown").
QString LastAnswerText(quint16 index);

// The unit (not group) or group of that exact name in Master, if any.
std::optional<quint16> UnitKeyByName(const QString& name);
std::optional<quint16> GroupKeyByName(const QString& name);
// Whether any history row was kept under that name.
bool HistoryHasName(const QString& name);
bool HistoryHasName(QSqlDatabase db, const QString& name);

// The status code as a word: ON, OFF, CYCLE, UNKNOWN, FAILED, BUSY.
QString HistoryStatusWord(quint8 status);

// The columns of exported rows, and the rows as CSV (RFC 4180, CRLF lines, header first), with
// times in ISO 8601 UTC.
const QStringList& HistoryColumns();
QStringList HistoryFields(const HistoryRow& row);
QByteArray HistoryCsv(const QList<HistoryRow>& rows);
// The rows as JSON objects with the same fields ("time", "key", "unit", "address", "port",
// "command", "source", "reply", "status", "outcome", "duration_ms").
QJsonObject HistoryJson(const HistoryRow& row);
QJsonArray HistoryJson(const QList<HistoryRow>& rows);

// A time filter as kavioctl and the HTTP interface take it (UTC ms): a time back from `now`
// ("90s", "15m", "2h", "3d", "1w"), an ISO date (its local midnight), a local time of today
// ("12:30"), or an ISO date and time (local unless it names its zone). None when it is no time.
std::optional<qint64> ParseHistoryTime(const QString& text, const QDateTime& now);

} // namespace kavio
