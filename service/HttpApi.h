#pragma once

#include "ApiRoutes.h"
#include "HttpEndpoint.h"
#include "HttpRoutes.h"
#include "LabgridRoutes.h"
#include "PduDaemonRoutes.h"

#include <QAbstractHttpServer>

class QTcpSocket;

namespace kavio {
class TCommandEngine;
}

namespace kavio::service {

class CommandWaiters;
class DelayedReboots;
class HistoryReader;
class KavioService;
class MetricsRoutes;
class StoreListing;
struct ServiceOptions;

// The service's HTTP interface, for the tools of a lab: PDUDaemon's "/power/control", the JSON
// API under "/api/v1", labgrid's "rest" power value and Prometheus' "/metrics". Every command it
// queues goes through the service's one queue with the source "http". Runs on the event loop
// with the exchanges, so nothing large is made here: the listings and the metrics are made on
// a reader thread, the history on another, and a listing of the queue gives its first entries
// only. No request waits for anything but its own exchanges, and for those no longer than the
// queue expects.
class HttpApi : public QAbstractHttpServer {
    Q_OBJECT

public:
    explicit HttpApi(KavioService& service, QObject* parent = nullptr);
    // Commands go to `engine`; expects the database open.
    explicit HttpApi(TCommandEngine& engine, QObject* parent = nullptr);
    ~HttpApi() override;

    // Listens as HttpEndpoint::listen does. False with the reason in `problem`; nothing is
    // opened then.
    bool listen(const ServiceOptions& options, QString& problem);
    quint16 port() const;
    // Stops listening and answers no more requests.
    void close();

    const RouteTable& routes() const { return m_routes; }

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    HttpEndpoint m_endpoint;
    // Each exchange that ends is counted before a request waiting for it is answered.
    DelayedReboots* m_reboots;
    HistoryReader* m_history;
    StoreListing* m_listing;
    MetricsRoutes* m_metrics;
    CommandWaiters* m_waiters;
    PduDaemonRoutes m_pduDaemon;
    LabgridRoutes m_labgrid;
    ApiRoutes m_api;
    RouteTable m_routes;
};

} // namespace kavio::service
