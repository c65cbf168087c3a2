#include "CommandWaiters.h"

#include "Codes.h"
#include "CommandEngine.h"
#include "HistoryRow.h"
#include "HttpGuard.h"
#include "HttpReplies.h"
#include "Metrics.h"
#include "ServiceLog.h"
#include "StatusWords.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QSet>
#include <QTcpSocket>
#include <QTimer>

namespace kavio::service {
namespace {

QString lineStatus(const std::optional<quint8>& sent, const std::optional<TCommandResult>& result) {
    if (!sent)
        return QStringLiteral("SKIPPED");
    if (!result || result->Result != TCommandResult::Outcome::Answered)
        return QStringLiteral("FAILED");
    return statusWord(result->Status);
}

// On and off have succeeded only when the unit answers with the state asked for; other
// commands when it answers with any status word.
bool succeeded(const std::optional<quint8>& sent, const std::optional<TCommandResult>& result) {
    if (!sent || !result || !result->answeredWithStatusWord())
        return false;
    if (*sent == TaskPowerOn)
        return result->Status == StatusOn;
    if (*sent == TaskPowerOff)
        return result->Status == StatusOff;
    return true;
}

// What went wrong with one unit, on one line of plain text: its reply, or how the exchange ended.
QString failureLine(const QString& name, const std::optional<quint8>& sent,
                    const std::optional<TCommandResult>& result) {
    if (!sent)
        return QStringLiteral("FAILED: %1 was not sent the command: its status is %2")
            .arg(PlainText(name), result ? statusWord(result->Status) : QStringLiteral("unknown"));
    if (!result)
        return QStringLiteral("FAILED: %1 did not answer").arg(PlainText(name));
    if (result->Result == TCommandResult::Outcome::Answered && !result->Reply.isEmpty())
        return QStringLiteral("FAILED: %1 answered '%2'")
            .arg(PlainText(name), EscapedReply(result->Reply));
    return QStringLiteral("FAILED: %1: %2").arg(PlainText(name), outcomeWord(*result));
}

} // namespace

std::optional<quint8> commandTask(const QString& word) {
    static const std::map<QString, quint8> tasks = {
        {QStringLiteral("on"), TaskPowerOn},    {QStringLiteral("off"), TaskPowerOff},
        {QStringLiteral("reboot"), TaskReboot}, {QStringLiteral("pulse"), TaskPulse},
        {QStringLiteral("cycle"), TaskCycle},   {QStringLiteral("query"), TaskQuery},
    };
    const auto found = tasks.find(word);
    if (found == tasks.end())
        return std::nullopt;
    return found->second;
}

CommandWaiters::CommandWaiters(TCommandEngine& engine, QObject* parent)
    : QObject(parent)
    , m_engine(engine) {
    connect(&m_engine, &TCommandEngine::exchangeFinished, this, &CommandWaiters::exchangeFinished);
}

CommandWaiters::~CommandWaiters() = default;

void CommandWaiters::command(const QList<UnitTarget>& targets, quint8 task, Reply reply,
                             QTcpSocket* socket) {
    QList<TCommandEntry> wanted;
    for (const UnitTarget& unit : targets) {
        if (const std::optional<quint8> sent = taskToSend(task, unit.status))
            wanted << TCommandEntry{unit.index, *sent};
    }
    if (const TCommandEngine::Refusal refusal = m_engine.wouldRefuse(wanted);
        refusal != TCommandEngine::Refusal::None) {
        const QString why = TCommandEngine::refusalText(refusal, QString());
        logLine(QStringLiteral("HTTP: refused: ") + why);
        writeResponse(socket, refusal == TCommandEngine::Refusal::UnitFull ? 429 : 503, JsonType,
                      errorBody(why), {{"Retry-After", "1"}});
        return;
    }
    const int id = m_next++;
    Waiter& waiter = m_waiters[id];
    waiter.socket = socket;
    waiter.reply = reply;
    for (const UnitTarget& unit : targets) {
        Line line{unit, task, taskToSend(task, unit.status), std::nullopt};
        waiter.lines << line;
        if (!line.sent)
            continue;
        const quint64 ticket = m_engine.AddToQueue(unit.index, *line.sent, CommandSource::Http);
        m_tickets[ticket] = {id, int(waiter.lines.size() - 1)};
        ++waiter.missing;
    }
    if (waiter.missing == 0) {
        answer(waiter);
        forget(id);
        return;
    }
    m_engine.StartQueue();
    startDeadline(id);
}

// The answer waits as long as the queue expects to take, plus the longest exchange for each
// round of this request's own, plus a margin; the connection is not idle meanwhile.
void CommandWaiters::startDeadline(int id) {
    Waiter& waiter = m_waiters.at(id);
    const qint64 rounds = (waiter.missing + m_engine.parallel() - 1) / qMax(1, m_engine.parallel());
    const qint64 longest =
        TCommandEngine::ConnectTimeoutMs + TCommandEngine::ReplyLimitMs + TCommandEngine::PauseMs;
    const qint64 ms = m_engine.estimatedMsLeft() + rounds * longest + AnswerMarginMs;
    waiter.deadline = new QTimer(this);
    waiter.deadline->setSingleShot(true);
    connect(waiter.deadline, &QTimer::timeout, this, [this, id] { answerLate(id); });
    waiter.deadline->start(int(std::min<qint64>(ms, std::numeric_limits<int>::max())));
    if (waiter.socket) {
        if (auto* guard =
                waiter.socket->findChild<ConnectionGuard*>(QString(), Qt::FindDirectChildrenOnly))
            guard->awaitAnswer();
    }
}

// The wait ran out: 503 with Retry-After, saying whether the commands are still queued. They
// stay queued; their results are counted as any other.
void CommandWaiters::answerLate(int id) {
    const auto found = m_waiters.find(id);
    if (found == m_waiters.end())
        return;
    Waiter& waiter = found->second;
    QSet<quint64> queued;
    for (const TCommandEntry& entry : m_engine.queue())
        queued.insert(entry.Ticket);
    bool stillQueued = false;
    for (const auto& [ticket, where] : m_tickets) {
        if (where.first == id && queued.contains(ticket))
            stillQueued = true;
    }
    const qint64 retry = std::max<qint64>(1, (m_engine.estimatedMsLeft() + 999) / 1000);
    const QString message =
        stillQueued ? QStringLiteral("no answer in time: the command is still queued, "
                                     "%1 entries ahead or under way")
                          .arg(m_engine.unfinishedCount())
                    : QStringLiteral("no answer in time: the command is no longer queued");
    const QList<QPair<QByteArray, QByteArray>> headers{{"Retry-After", QByteArray::number(retry)}};
    if (waiter.reply == Reply::Json)
        writeResponse(waiter.socket, 503, JsonType,
                      jsonBody(QJsonObject{{QStringLiteral("error"), message},
                                           {QStringLiteral("still_queued"), stillQueued}}),
                      headers);
    else
        writeResponse(waiter.socket, 503, TextType, message.toUtf8() + '\n', headers);
    logLine(QStringLiteral("HTTP 503: %1").arg(message));
    forget(id);
}

void CommandWaiters::forget(int id) {
    for (auto ticket = m_tickets.begin(); ticket != m_tickets.end();) {
        if (ticket->second.first == id)
            ticket = m_tickets.erase(ticket);
        else
            ++ticket;
    }
    const auto found = m_waiters.find(id);
    if (found == m_waiters.end())
        return;
    if (found->second.deadline) {
        found->second.deadline->stop();
        found->second.deadline->deleteLater();
    }
    m_waiters.erase(found);
}

void CommandWaiters::exchangeFinished(const TCommandResult& result) {
    const auto ticket = m_tickets.find(result.Ticket);
    if (ticket == m_tickets.end())
        return;
    const auto [id, line] = ticket->second;
    m_tickets.erase(ticket);
    const auto waiter = m_waiters.find(id);
    if (waiter == m_waiters.end())
        return;
    waiter->second.lines[line].result = result;
    if (--waiter->second.missing > 0)
        return;
    answer(waiter->second);
    forget(id);
}

// 200 when every unit answered as asked (see succeeded()), 502 otherwise.
void CommandWaiters::answer(Waiter& waiter) {
    bool failed = false;
    QJsonArray report;
    QByteArray failures;
    for (const Line& line : std::as_const(waiter.lines)) {
        if (!succeeded(line.sent, line.result)) {
            failed = true;
            failures += failureLine(line.unit.name, line.sent, line.result).toUtf8() + '\n';
        }
        QJsonObject object{
            {QStringLiteral("name"), line.unit.name},
            {QStringLiteral("index"), line.unit.index},
            {QStringLiteral("command"), taskWord(line.requested)},
            {QStringLiteral("sent"), line.sent ? QJsonValue(taskWord(*line.sent)) : QJsonValue()},
            {QStringLiteral("status"), lineStatus(line.sent, line.result)},
        };
        if (line.result && line.result->Result == TCommandResult::Outcome::Answered)
            object.insert(QStringLiteral("reply"), QString::fromLatin1(line.result->Reply));
        report.append(object);
    }
    switch (waiter.reply) {
    case Reply::Json:
        writeResponse(waiter.socket, failed ? 502 : 200, JsonType, jsonBody(report));
        break;
    case Reply::Value:
        writeResponse(waiter.socket, failed ? 502 : 200, TextType, failures);
        break;
    case Reply::PduDaemon:
        writeResponse(waiter.socket, failed ? 502 : 200, TextType, failed ? failures : "OK");
        break;
    }
}

} // namespace kavio::service
