#pragma once

#include "HttpRoutes.h"

namespace kavio {
class TCommandEngine;
}

namespace kavio::service {

class CommandWaiters;
class DelayedReboots;

// PDUDaemon's "/power/control/ACTION?hostname=...&port=1" (or "?alias=NAME"), where a GET
// switches a unit. Its answers: for on and off, 200 "OK" once the unit has answered with the
// state asked for and 502 with its reply otherwise; for a reboot, 200 "OK" once its off is
// queued. A request refused is answered 503 with one line, and logged.
class PduDaemonRoutes {
public:
    // The gap between the off and the on of a reboot: by default, and at most.
    static constexpr int DefaultDelaySeconds = 5;
    static constexpr int MaxDelaySeconds = 24 * 60 * 60;

    PduDaemonRoutes(TCommandEngine& engine, CommandWaiters& waiters, DelayedReboots& reboots);

    void addTo(RouteTable& table);

private:
    void powerControl(const RouteCall& call);

    TCommandEngine& m_engine;
    CommandWaiters& m_waiters;
    DelayedReboots& m_reboots;
};

} // namespace kavio::service
