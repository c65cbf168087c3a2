#include "PduDaemonRoutes.h"

#include "Codes.h"
#include "CommandEngine.h"
#include "CommandWaiters.h"
#include "DelayedReboots.h"
#include "HistoryRow.h"
#include "HttpGuard.h"
#include "HttpReplies.h"
#include "QueryItems.h"
#include "ServiceLog.h"
#include "UnitDirectory.h"

namespace kavio::service {

PduDaemonRoutes::PduDaemonRoutes(TCommandEngine& engine, CommandWaiters& waiters,
                                 DelayedReboots& reboots)
    : m_engine(engine)
    , m_waiters(waiters)
    , m_reboots(reboots) {}

void PduDaemonRoutes::addTo(RouteTable& table) {
    // Not HEAD: a GET here switches a unit.
    table.add(Method::Get, QStringLiteral("/power/control/{action}"), Access::Switch,
              [this](const RouteCall& call) { powerControl(call); });
}

void PduDaemonRoutes::powerControl(const RouteCall& call) {
    const QHttpServerRequest& request = call.request;
    QTcpSocket* socket = call.socket;
    const QString action = call.part(QStringLiteral("action"));
    auto refuse = [socket, &request, &action](int status, const QString& why) {
        logLine(QStringLiteral("HTTP %1 to %2: /power/control/%3 refused: %4")
                    .arg(status)
                    .arg(request.remoteAddress().toString(), action, why));
        writeResponse(socket, status, TextType, why.toUtf8() + '\n');
    };
    QueryItems query;
    QString problem;
    if (!query.parse(request.url().query(QUrl::FullyEncoded).toLatin1(), {}, problem))
        return refuse(400, problem);
    const std::optional<quint8> task = commandTask(action);
    if (!task || *task == TaskPulse || *task == TaskCycle || *task == TaskQuery)
        return refuse(503, QStringLiteral("Unknown command '%1': on, off or reboot").arg(action));
    int delay = DefaultDelaySeconds;
    if (query.has(QStringLiteral("delay"))) {
        bool ok = false;
        delay = query.value(QStringLiteral("delay")).toInt(&ok);
        if (!ok || delay < 0 || delay > MaxDelaySeconds)
            return refuse(503, QStringLiteral("Bad delay: a whole number of seconds from 0 to %1")
                                   .arg(MaxDelaySeconds));
    }
    const bool alias = query.has(QStringLiteral("alias"));
    const QString wanted =
        query.value(alias ? QStringLiteral("alias") : QStringLiteral("hostname"));
    if (wanted.isEmpty())
        return refuse(503, QStringLiteral("Missing hostname and port, or alias"));
    if (!alias) {
        // PDUDaemon's own client writes ports with leading zeros ("04").
        bool number = false;
        const QString port = query.value(QStringLiteral("port"));
        if (port.toUInt(&number) != 1 || !number)
            return refuse(
                503,
                QStringLiteral("Bad port '%1': a Kavio unit has one outlet, port 1").arg(port));
    }
    // A name wins over an address; an address that several units share names none of them.
    std::optional<UnitTarget> unit = directory::findUnit(wanted);
    if (!unit && !alias) {
        const std::vector<UnitTarget> atAddress = directory::unitsAtAddress(wanted);
        if (atAddress.size() > 1) {
            QStringList names;
            for (const UnitTarget& each : atAddress)
                names << PlainText(each.name);
            return refuse(503, QStringLiteral("Address %1 is shared by the units %2: name one")
                                   .arg(PlainText(wanted), names.join(QStringLiteral(", "))));
        }
        if (!atAddress.empty())
            unit = atAddress.front();
    }
    if (!unit)
        return refuse(503, QStringLiteral("Unknown unit '%1'").arg(PlainText(wanted)));
    if (*task != TaskReboot)
        return m_waiters.command({*unit}, *task, Reply::PduDaemon, socket);

    // As PDUDaemon reboots, whatever the unit's last status: off, the delay, on. A full queue
    // refuses the off now; the on is checked when its time comes.
    if (const auto refusal = m_engine.wouldRefuse({TCommandEntry{unit->index, TaskPowerOff}});
        refusal != TCommandEngine::Refusal::None)
        return refuse(
            503,
            QStringLiteral("Not queued: %1").arg(TCommandEngine::refusalText(refusal, unit->name)));
    m_reboots.start(unit->index, delay * 1000);
    writeResponse(socket, 200, TextType, "OK");
}

} // namespace kavio::service
