#include "MetricsRoutes.h"

#include "CommandEngine.h"
#include "DelayedReboots.h"
#include "HttpReplies.h"
#include "StoreListing.h"

namespace kavio::service {

MetricsRoutes::MetricsRoutes(TCommandEngine& engine, const DelayedReboots& reboots,
                             StoreListing& listing, QObject* parent)
    : QObject(parent)
    , m_engine(engine)
    , m_reboots(reboots)
    , m_listing(listing) {
    connect(&m_engine, &TCommandEngine::exchangeFinished, this,
            [this](const TCommandResult& result) { m_metrics.count(result); });
}

void MetricsRoutes::addTo(RouteTable& table) {
    table.add(Readable, QStringLiteral("/metrics"), Access::Read,
              [this](const RouteCall& call) { metrics(call); });
}

void MetricsRoutes::metrics(const RouteCall& call) {
    const Metrics::Snapshot counts =
        m_metrics.snapshot(m_engine.unfinishedCount() + m_reboots.count());
    answerFromListing(
        m_listing, call.socket,
        [counts](const StoreSnapshot& store) {
            return ListingAnswer{200, exposition(counts, store.units), {}};
        },
        QString(), "text/plain; version=0.0.4; charset=utf-8");
}

} // namespace kavio::service
