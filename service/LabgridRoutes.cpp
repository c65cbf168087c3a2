#include "LabgridRoutes.h"

#include "Codes.h"
#include "CommandWaiters.h"
#include "HttpGuard.h"
#include "HttpReplies.h"
#include "UnitDirectory.h"

namespace kavio::service {
namespace {

// The unit the path names; answered 404 when there is none.
std::optional<UnitTarget> namedUnit(const RouteCall& call) {
    const QString name = call.part(QStringLiteral("name"));
    std::optional<UnitTarget> unit = directory::findUnit(name);
    if (!unit)
        writeResponse(call.socket, 404, TextType,
                      QStringLiteral("no unit named '%1'\n").arg(name).toUtf8());
    return unit;
}

} // namespace

LabgridRoutes::LabgridRoutes(CommandWaiters& waiters)
    : m_waiters(waiters) {}

void LabgridRoutes::addTo(RouteTable& table) {
    // Before the unit's commands: "value" is no command.
    table.add(Readable, QStringLiteral("/api/v1/units/{name}/value"), Access::Read,
              [this](const RouteCall& call) { read(call); });
    table.add(Method::Put, QStringLiteral("/api/v1/units/{name}/value"), Access::Switch,
              [this](const RouteCall& call) { write(call); });
}

void LabgridRoutes::read(const RouteCall& call) {
    if (const std::optional<UnitTarget> unit = namedUnit(call))
        writeResponse(call.socket, 200, TextType, unit->status == StatusOn ? "1" : "0");
}

void LabgridRoutes::write(const RouteCall& call) {
    const std::optional<UnitTarget> unit = namedUnit(call);
    if (!unit)
        return;
    const QByteArray body = call.request.body().trimmed();
    if (body != "1" && body != "0") {
        writeResponse(call.socket, 400, TextType, "The value is 1 (on) or 0 (off)\n");
        return;
    }
    m_waiters.command({*unit}, body == "1" ? TaskPowerOn : TaskPowerOff, Reply::Value, call.socket);
}

} // namespace kavio::service
