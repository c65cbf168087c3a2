#pragma once

#include "CommandResult.h"
#include "UnitDirectory.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <map>
#include <optional>

class QTcpSocket;
class QTimer;

namespace kavio {
class TCommandEngine;
}

namespace kavio::service {

// The task a request's command word names ("on", "off", "reboot", "pulse", "cycle", "query").
std::optional<quint8> commandTask(const QString& word);

// How a command request is answered: kavioctl's JSON report, labgrid's value (an empty answer,
// the status tells) or PDUDaemon's one line.
enum class Reply { Json, Value, PduDaemon };

// The HTTP requests that wait for their commands' exchanges. Each is answered once every one of
// its exchanges has ended (200 when each unit answered as asked, 502 otherwise), or with 503
// when they take longer than the queue expects.
class CommandWaiters : public QObject {
    Q_OBJECT

public:
    // A request waits for its exchanges as long as the queue expects them to take, plus the
    // longest exchange per round, plus this; then it is answered 503.
    static constexpr int AnswerMarginMs = 5000;

    explicit CommandWaiters(TCommandEngine& engine, QObject* parent = nullptr);
    ~CommandWaiters() override;

    // Queues `task` for every target (as far as its status lets it be sent) and answers on the
    // socket when they are done. Either every command of the request is queued or none: a full
    // queue refuses the request, 429 when units have too many commands waiting, 503 when the
    // whole queue is full.
    void command(const QList<UnitTarget>& targets, quint8 task, Reply reply, QTcpSocket* socket);

private:
    // One unit of a command request, as kavioctl --json reports it.
    struct Line {
        UnitTarget unit;
        quint8 requested = 0;
        std::optional<quint8> sent;
        std::optional<TCommandResult> result;
    };
    struct Waiter {
        QPointer<QTcpSocket> socket;
        Reply reply = Reply::Json;
        QList<Line> lines;
        int missing = 0;
        QTimer* deadline = nullptr;
    };

    void startDeadline(int id);
    void answerLate(int id);
    void exchangeFinished(const TCommandResult& result);
    void answer(Waiter& waiter);
    void forget(int id);

    TCommandEngine& m_engine;
    int m_next = 0;
    std::map<int, Waiter> m_waiters;
    // ticket -> (waiter, line)
    std::map<quint64, std::pair<int, int>> m_tickets;
};

} // namespace kavio::service
