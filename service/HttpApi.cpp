#include "HttpApi.h"

#include "CommandWaiters.h"
#include "Database.h"
#include "DelayedReboots.h"
#include "HistoryRequest.h"
#include "HttpGuard.h"
#include "HttpReplies.h"
#include "KavioService.h"
#include "MetricsRoutes.h"
#include "ServiceLog.h"
#include "StoreListing.h"
#include "UnitDirectory.h"

#include <QHttpServerRequest>
#include <QTcpServer>

namespace kavio::service {

HttpApi::HttpApi(KavioService& service, QObject* parent)
    : HttpApi(service.engine(), parent) {}

HttpApi::HttpApi(TCommandEngine& engine, QObject* parent)
    : QAbstractHttpServer(parent)
    , m_reboots(new DelayedReboots(engine, this))
    , m_history(new HistoryReader(Database::path(), this))
    , m_listing(new StoreListing(Database::path(), this))
    , m_metrics(new MetricsRoutes(engine, *m_reboots, *m_listing, this))
    , m_waiters(new CommandWaiters(engine, this))
    , m_pduDaemon(engine, *m_waiters, *m_reboots)
    , m_labgrid(*m_waiters)
    , m_api(engine, *m_waiters, *m_reboots, *m_listing, *m_history) {
    directory::addLookupIndexes();
    m_pduDaemon.addTo(m_routes);
    m_metrics->addTo(m_routes);
    // The value before the unit's commands, whose pattern it also fits.
    m_labgrid.addTo(m_routes);
    m_api.addTo(m_routes);
}

HttpApi::~HttpApi() = default;

bool HttpApi::listen(const ServiceOptions& options, QString& problem) {
    if (!m_endpoint.listen(options, this, problem))
        return false;
    bind(m_endpoint.server());
    return true;
}

quint16 HttpApi::port() const {
    return m_endpoint.port();
}

void HttpApi::close() {
    m_endpoint.close();
}

bool HttpApi::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) {
    if (m_endpoint.turnedAway(request, socket))
        return true;
    try {
        m_routes.dispatch(request, socket, m_endpoint.granted(request));
    } catch (const std::exception& error) {
        logLine(QString::fromUtf8(error.what()));
        writeJsonError(socket, 500, QString::fromUtf8(error.what()));
    }
    return true;
}

void HttpApi::missingHandler(const QHttpServerRequest&, QTcpSocket* socket) {
    writeResponse(socket, 404, TextType, "Not found\n");
}

} // namespace kavio::service
