#pragma once

#include "HttpRoutes.h"

namespace kavio::service {

class CommandWaiters;

// labgrid's "rest" power model on "/api/v1/units/{name}/value": GET answers 1 (on) or 0; PUT 1
// or 0 switches and answers once the exchange is done, with an empty body on success.
class LabgridRoutes {
public:
    explicit LabgridRoutes(CommandWaiters& waiters);

    void addTo(RouteTable& table);

private:
    void read(const RouteCall& call);
    void write(const RouteCall& call);

    CommandWaiters& m_waiters;
};

} // namespace kavio::service
