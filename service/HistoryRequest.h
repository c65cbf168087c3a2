#pragma once

#include "HistoryQuery.h"

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <functional>

class QThread;

namespace kavio::service {

// What GET /api/v1/history asks: the filters of `kavioctl history` as query parameters.
struct HistoryAsk {
    // Rows in one answer when the request names no limit, and the most it may name.
    static constexpr int DefaultLimit = 1000;
    static constexpr int MaxLimit = 10000;

    HistoryFilter Filter;
    QString Unit;  // a unit's name when given (null when not)
    QString Group; // a group's name when given
    int Limit = DefaultLimit;
};

// Reads the request's query (`unit`, `group`, `since`, `until`, `source`, `limit`, each
// decoded as QueryItems does, each at most once). On a fault gives false with a one-line reason.
// Names are not looked up here.
bool parseHistoryAsk(const QByteArray& encodedQuery, const QDateTime& now, HistoryAsk& ask,
                     QString& problem);

struct HistoryAnswer {
    int Status = 200;
    QByteArray Body;   // JSON: the rows oldest first, or {"error": ...}
    bool More = false; // more rows matched than the limit let through
};

// Reads the history on a thread of its own, with a read-only connection of its own, so that a
// filter the indexes do not serve (a rare source, a name kept only in the history) costs the
// service's event loop nothing: on a table of a million rows such a read takes most of a
// second. Questions are answered one at a time, in order.
class HistoryReader : public QObject {
    Q_OBJECT

public:
    explicit HistoryReader(const QString& databasePath, QObject* parent = nullptr);
    // Waits for the read under way, if any, to end.
    ~HistoryReader() override;

    // `ask.Filter.Unit` or `.Group` already hold the keys found in Master; a unit name found
    // there under no key is looked for among the names the history kept. `done` is called on
    // this object's thread.
    void read(const HistoryAsk& ask, std::function<void(const HistoryAnswer&)> done);
    // Questions not answered yet.
    int waiting() const { return m_waiting; }

private:
    QThread* m_thread;
    QObject* m_worker;
    QString m_path;
    int m_waiting = 0;
};

} // namespace kavio::service
