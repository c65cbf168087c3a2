#pragma once

#include "HttpRoutes.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <functional>

namespace kavio {
class TCommandEngine;
}

namespace kavio::service {

class CommandWaiters;
class DelayedReboots;
class HistoryReader;
class StoreListing;
struct StoreSnapshot;

// The JSON API under "/api/v1": the units and groups, the queue, the history, and the commands
// for a unit or a group, answered as `kavioctl --json` reports them.
class ApiRoutes {
public:
    // Entries a listing gives when the request names no limit, and the most it may name.
    static constexpr int DefaultPageLimit = 1000;
    static constexpr int MaxPageLimit = 10000;
    // The queue's listing is made on the event loop: its pages are smaller.
    static constexpr int DefaultQueueLimit = 100;
    static constexpr int MaxQueueLimit = 1000;
    // History requests waiting for the reader at most; any more are answered 503.
    static constexpr int MaxHistoryWaiting = 4;

    ApiRoutes(TCommandEngine& engine, CommandWaiters& waiters, const DelayedReboots& reboots,
              StoreListing& listing, HistoryReader& history);

    void addTo(RouteTable& table);

private:
    void units(const RouteCall& call);
    void unit(const RouteCall& call);
    void groups(const RouteCall& call);
    void listPage(const RouteCall& call, const QString& kind,
                  std::function<size_t(const StoreSnapshot&)> size,
                  std::function<QJsonObject(const StoreSnapshot&, size_t)> entry,
                  QJsonDocument::JsonFormat format);
    void queue(const RouteCall& call);
    void history(const RouteCall& call);
    void command(const RouteCall& call, bool group);

    TCommandEngine& m_engine;
    CommandWaiters& m_waiters;
    const DelayedReboots& m_reboots;
    StoreListing& m_listing;
    HistoryReader& m_history;
};

} // namespace kavio::service
