#pragma once

#include "CommandResult.h"
#include "HistoryRequest.h"
#include "HttpGuard.h"
#include "Metrics.h"
#include "RequestOrigin.h"
#include "StoreListing.h"
#include "UnitDirectory.h"

#include <QAbstractHttpServer>
#include <QPointer>
#include <QStringList>
#include <map>
#include <optional>

class QTcpServer;
class QTimer;
class QTcpSocket;

namespace kavio::service {

class KavioService;
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
    // PDUDaemon's gap between the off and the on of a reboot: by default, and at most.
    static constexpr int DefaultDelaySeconds = 5;
    static constexpr int MaxDelaySeconds = 24 * 60 * 60;
    // Entries a listing gives when the request names no limit, and the most it may name.
    static constexpr int DefaultPageLimit = 1000;
    static constexpr int MaxPageLimit = 10000;
    // The queue's listing is made on the event loop: its pages are smaller.
    static constexpr int DefaultQueueLimit = 100;
    static constexpr int MaxQueueLimit = 1000;
    // A command request waits for its exchanges as long as the queue expects them to take,
    // plus the longest exchange per round, plus this; then it is answered 503.
    static constexpr int AnswerMarginMs = 5000;
    // History requests waiting for the reader at most; any more are answered 503.
    static constexpr int MaxHistoryWaiting = 4;
    // Listings and metrics waiting for the store's reader at most; any more are answered 503.
    static constexpr int MaxListingWaiting = 16;

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
        UnitTarget unit;
        quint8 requested = 0;
        std::optional<quint8> sent;
        std::optional<TCommandResult> result;
    };
    // How a command request is answered: kavioctl's JSON report, labgrid's value (an empty
    // answer, the status tells) or PDUDaemon's one line.
    enum class Reply { Json, Value, PduDaemon };
    struct Waiter {
        QPointer<QTcpSocket> socket;
        Reply reply = Reply::Json;
        QList<Line> lines;
        int missing = 0;
        QTimer* deadline = nullptr;
    };
    // The on of a PDUDaemon reboot, queued `delayMs` after its off has ended.
    struct Delayed {
        quint16 index = 0;
        QString name;
        quint64 offTicket = 0;
        int delayMs = 0;
        qint64 dueMs = 0; // 0 while the off is not done
        QTimer* timer = nullptr;
    };

    void route(const QHttpServerRequest& request, QTcpSocket* socket);
    void powerControl(const QString& action, const QHttpServerRequest& request, QTcpSocket* socket);
    void units(const QHttpServerRequest& request, QTcpSocket* socket, const QString* name);
    void groups(const QHttpServerRequest& request, QTcpSocket* socket);
    void queueListing(const QHttpServerRequest& request, QTcpSocket* socket);
    void history(const QHttpServerRequest& request, QTcpSocket* socket);
    void metrics(QTcpSocket* socket);
    void list(QTcpSocket* socket, StoreListing::Work work, const QString& cacheKey,
              const QByteArray& contentType = "application/json");
    void value(const QString& name, const QHttpServerRequest& request, QTcpSocket* socket);
    void command(const QList<UnitTarget>& targets, quint8 task, Reply reply, QTcpSocket* socket);
    void startDeadline(int id);
    void answerLate(int id);
    void exchangeFinished(const TCommandResult& result);
    void answerWaiter(Waiter& waiter);
    void delayedOffEnded(int id);
    void forgetWaiter(int id);
    bool authorized(const QHttpServerRequest& request) const;

    KavioService& m_service;
    QTcpServer* m_server = nullptr;
    RequestOrigin m_origin;
    QByteArray m_token;
    Metrics m_metrics;
    HistoryReader* m_history;
    StoreListing* m_listing;
    int m_nextWaiter = 0;
    std::map<int, Waiter> m_waiters;
    // ticket -> (waiter, line)
    std::map<quint64, std::pair<int, int>> m_tickets;
    int m_nextDelayed = 0;
    std::map<int, Delayed> m_delayed;
    // off ticket -> delayed on, while the off is not done
    std::map<quint64, int> m_delayedOffs;
};

} // namespace kavio::service
