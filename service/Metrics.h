#pragma once

#include "CommandResult.h"
#include "UnitDirectory.h"

#include <QByteArray>
#include <QHash>
#include <QMap>
#include <QPair>
#include <array>
#include <vector>

namespace kavio::service {

// What the service counts for Prometheus. The counts are kept here, on the event loop; the text
// exposition is made from a copy of them (snapshot) and the units as read from the store, which
// may be done on another thread.
class Metrics {
public:
    // Upper bounds of the exchange duration histogram's buckets, in seconds. The last reaches
    // past the connect limit and the reply limit together, so that the slowest exchange has a
    // bucket of its own below +Inf.
    static constexpr std::array<double, 11> Buckets = {0.005, 0.01, 0.025, 0.05, 0.1, 0.25,
                                                       0.5,   1,    2.5,   5,    10};

    // What the service last heard from a unit.
    struct UnitSeen {
        bool statusWord = false; // the last exchange got a status word
        qint64 lastAnswerMs = 0; // when an exchange last got one (UTC ms), 0: never
    };

    struct Snapshot {
        // (command, outcome) -> exchanges
        QMap<QPair<QString, QString>, quint64> exchanges;
        std::array<quint64, Buckets.size()> bucketCounts{};
        quint64 durationCount = 0;
        double durationSum = 0;
        QHash<quint16, UnitSeen> seen; // by unit key; units not asked since the start are absent
        int queueLength = 0;
    };

    void count(const TCommandResult& result);
    // The counts as they are now, with the queue's length as the caller knows it.
    Snapshot snapshot(int queueLength) const;

private:
    Snapshot m_counts;
};

// The whole exposition of `counts` and `units` (units only; groups are skipped).
QByteArray exposition(const Metrics::Snapshot& counts, const std::vector<StoredRecord>& units);

// "on", "off", ... of a task code; how an exchange ended as the metrics label it: the history's
// outcome words ("answered", "unknown reply", "timed out", ...), "dropped" for an entry that
// named no unit.
QString taskWord(quint8 task);
QString outcomeWord(const TCommandResult& result);

} // namespace kavio::service
