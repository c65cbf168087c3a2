#pragma once

#include "HttpRoutes.h"
#include "Metrics.h"

#include <QObject>

namespace kavio {
class TCommandEngine;
}

namespace kavio::service {

class DelayedReboots;
class StoreListing;

// Prometheus' "/metrics": the exchanges counted since the start, the queue's length (with the
// ons of reboots waiting out their delay) and the units' statuses.
class MetricsRoutes : public QObject {
    Q_OBJECT

public:
    MetricsRoutes(TCommandEngine& engine, const DelayedReboots& reboots, StoreListing& listing,
                  QObject* parent = nullptr);

    void addTo(RouteTable& table);

private:
    void metrics(const RouteCall& call);

    TCommandEngine& m_engine;
    const DelayedReboots& m_reboots;
    StoreListing& m_listing;
    Metrics m_metrics;
};

} // namespace kavio::service
