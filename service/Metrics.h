#pragma once

#include "CommandResult.h"

#include <QByteArray>
#include <QMap>
#include <QPair>
#include <array>

namespace kavio {
class TCommandEngine;
}

namespace kavio::service {

// What the service counts for Prometheus, and the text exposition of it with the units' last
// statuses read from the store.
class Metrics {
public:
    // Upper bounds of the exchange duration histogram's buckets, in seconds.
    static constexpr std::array<double, 9> Buckets = {0.005, 0.01, 0.025, 0.05, 0.1,
                                                      0.25,  0.5,  1,     2.5};

    void count(const TCommandResult& result);
    // The whole exposition; throws DatabaseError when the store cannot be read.
    QByteArray exposition(const TCommandEngine& engine) const;

private:
    // (command, outcome) -> exchanges
    QMap<QPair<QString, QString>, quint64> m_exchanges;
    std::array<quint64, Buckets.size()> m_bucketCounts{};
    quint64 m_durationCount = 0;
    double m_durationSum = 0;
};

// "on", "off", ... of a task code; the outcome of a result as a word ("answered", ...).
QString taskWord(quint8 task);
QString outcomeWord(TCommandResult::Outcome outcome);

} // namespace kavio::service
