#pragma once

#include "CommandResult.h"
#include "HistoryRequest.h"
#include "HttpGuard.h"
#include "Metrics.h"
#include "RequestOrigin.h"
#include "UnitTargets.h"

#include <QAbstractHttpServer>
#include <QPointer>
#include <QStringList>
#include <map>
#include <optional>

class QTcpServer;
class QTcpSocket;

namespace kavio::service {

class KavioService;
struct ServiceOptions;

// The service's HTTP interface, for the tools of a lab: PDUDaemon's "/power/control", the JSON
// API under "/api/v1", labgrid's "rest" power value and Prometheus' "/metrics". Every command it
// queues goes through the service's one queue with the source "http". Runs on the event loop;
// no request waits for anything but its own exchanges.
class HttpApi : public QAbstractHttpServer {
    Q_OBJECT

public:
    // PDUDaemon's delay before a command is queued, at most this many seconds.
    static constexpr int MaxDelaySeconds = 24 * 60 * 60;
    // History requests waiting for the reader at most; any more are answered 503.
    static constexpr int MaxHistoryWaiting = 4;

    explicit HttpApi(KavioService& service, QObject* parent = nullptr);
    ~HttpApi() override;

    // Listens on the options' address and port (loopback unless a token file is given), with
    // TLS when a certificate is given. False with the reason in `problem`; nothing is opened
    // then.
    bool listen(const ServiceOptions& options, QString& problem);
    quint16 port() const;
    // Stops listening and answers no more requests.
    void close();

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    // One unit of a command request, as kavioctl --json reports it.
    struct Line {
        ctl::UnitTarget unit;
        quint8 requested = 0;
        std::optional<quint8> sent;
        std::optional<TCommandResult> result;
    };
    struct Waiter {
        QPointer<QTcpSocket> socket;
        bool value = false; // labgrid's PUT: an empty answer, the status tells
        QList<Line> lines;
        int missing = 0;
    };

    void route(const QHttpServerRequest& request, QTcpSocket* socket);
    void powerControl(const QString& action, const QHttpServerRequest& request, QTcpSocket* socket);
    void units(QTcpSocket* socket, const QString* name);
    void groups(QTcpSocket* socket);
    void queueListing(QTcpSocket* socket);
    void history(const QHttpServerRequest& request, QTcpSocket* socket);
    void metrics(QTcpSocket* socket);
    void value(const QString& name, const QHttpServerRequest& request, QTcpSocket* socket);
    void command(const QList<ctl::UnitTarget>& targets, quint8 task, bool value,
                 QTcpSocket* socket);
    void exchangeFinished(const TCommandResult& result);
    void answerWaiter(Waiter& waiter);
    bool authorized(const QHttpServerRequest& request) const;

    KavioService& m_service;
    QTcpServer* m_server = nullptr;
    RequestOrigin m_origin;
    QByteArray m_token;
    Metrics m_metrics;
    HistoryReader* m_history;
    // GET /api/v1/units as last made, and what it was made from.
    QByteArray m_unitsBody;
    qint64 m_unitsVersion = -1;
    bool m_unitsStale = true;
    int m_nextWaiter = 0;
    std::map<int, Waiter> m_waiters;
    // ticket -> (waiter, line)
    std::map<quint64, std::pair<int, int>> m_tickets;
};

} // namespace kavio::service
