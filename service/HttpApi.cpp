#include "HttpApi.h"

#include "BearerToken.h"
#include "Codes.h"
#include "CommandEngine.h"
#include "ControlCharacters.h"
#include "Database.h"
#include "Exception.h"
#include "GuardedServer.h"
#include "HistoryQuery.h"
#include "HistoryRow.h"
#include "HttpGuard.h"
#include "KavioService.h"
#include "NameOrder.h"
#include "QueryItems.h"
#include "Schema.h"
#include "ServiceLog.h"
#include "ServiceOptions.h"
#include "SqlRunner.h"
#include "StatusWords.h"
#include "TimerMark.h"
#include "TlsFiles.h"
#include "UnitDirectory.h"

#include <QDateTime>
#include <QFile>
#include <QHttpServerRequest>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTimer>
#include <QUrlQuery>

namespace kavio::service {
namespace {

const QByteArray TextType = "text/plain; charset=utf-8";
const QByteArray JsonType = "application/json";

const std::map<QString, quint8> CommandTasks = {
    {QStringLiteral("on"), TaskPowerOn},    {QStringLiteral("off"), TaskPowerOff},
    {QStringLiteral("reboot"), TaskReboot}, {QStringLiteral("pulse"), TaskPulse},
    {QStringLiteral("cycle"), TaskCycle},   {QStringLiteral("query"), TaskQuery},
};

QJsonObject recordJson(const StoredRecord& record) {
    bool number = false;
    const int port = record.port.toInt(&number);
    return QJsonObject{
        {QStringLiteral("name"), record.name},
        {QStringLiteral("kind"), record.group ? QStringLiteral("group") : QStringLiteral("unit")},
        {QStringLiteral("index"), record.index},
        {QStringLiteral("address"), record.address},
        {QStringLiteral("port"), number ? QJsonValue(port) : QJsonValue()},
        {QStringLiteral("groups"), QJsonArray::fromStringList(record.groups)},
        {QStringLiteral("status"),
         record.group ? QJsonValue() : QJsonValue(statusWord(record.status))},
        {QStringLiteral("timer"), record.timer},
    };
}

QByteArray jsonBody(const QJsonValue& value) {
    return (value.isArray() ? QJsonDocument(value.toArray()) : QJsonDocument(value.toObject()))
        .toJson(QJsonDocument::Indented);
}

QByteArray errorBody(const QString& message) {
    return jsonBody(QJsonObject{{QStringLiteral("error"), message}});
}

// The path's segments, each percent-decoded as UTF-8.
QStringList segmentsOf(const QUrl& url) {
    QStringList segments;
    const QByteArray path = url.path(QUrl::FullyEncoded).toUtf8();
    for (const QByteArray& part : path.split('/')) {
        if (!part.isEmpty())
            segments << QString::fromUtf8(QByteArray::fromPercentEncoding(part));
    }
    return segments;
}

// A time as the history writes its times: UTC, to the millisecond, ending in Z.
QString utcTime(qint64 ms) {
    return QDateTime::fromMSecsSinceEpoch(ms).toUTC().toString(Qt::ISODateWithMs);
}

// `offset` and `limit` of a listing's query; false with the reason on a fault.
bool readPage(const QUrl& url, int defaultLimit, int maxLimit, Page& page, QString& problem) {
    QueryItems items;
    if (!items.parse(url.query(QUrl::FullyEncoded).toLatin1(),
                     {QStringLiteral("limit"), QStringLiteral("offset")}, problem))
        return false;
    page = Page{0, defaultLimit};
    if (items.has(QStringLiteral("limit"))) {
        bool ok = false;
        page.limit = items.value(QStringLiteral("limit")).toInt(&ok);
        if (!ok || page.limit < 1 || page.limit > maxLimit) {
            problem = QStringLiteral("'limit' takes a number from 1 to %1, not '%2'")
                          .arg(maxLimit)
                          .arg(items.value(QStringLiteral("limit")));
            return false;
        }
    }
    if (items.has(QStringLiteral("offset"))) {
        bool ok = false;
        page.offset = items.value(QStringLiteral("offset")).toInt(&ok);
        if (!ok || page.offset < 0) {
            problem = QStringLiteral("'offset' takes a number from 0, not '%1'")
                          .arg(items.value(QStringLiteral("offset")));
            return false;
        }
    }
    return true;
}

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

HttpApi::HttpApi(KavioService& service, QObject* parent)
    : QAbstractHttpServer(parent)
    , m_service(service)
    , m_history(new HistoryReader(Database::path(), this))
    , m_listing(new StoreListing(Database::path(), this)) {
    // Requests name units by name or address; with tens of thousands of units a walk through
    // Master for each would hold the exchanges up.
    directory::addLookupIndexes();
    connect(&m_service.engine(), &TCommandEngine::exchangeFinished, this,
            &HttpApi::exchangeFinished);
}

HttpApi::~HttpApi() = default;

bool HttpApi::listen(const ServiceOptions& options, QString& problem) {
    if (!options.tokenFile.isEmpty()) {
        if (!BearerToken::read(options.tokenFile, m_token, problem))
            return false;
    } else if (!options.httpAddress.isLoopback()) {
        problem = QStringLiteral("HTTP on %1, which is not loopback, needs --http-token-file")
                      .arg(options.http);
        return false;
    }

    auto* server = new GuardedServer(this);
    if (!options.tlsCert.isEmpty()) {
        QSslConfiguration configuration;
        QStringList warnings;
        if (!TlsFiles::load(options.tlsCert, options.tlsKey, configuration, problem, warnings)) {
            delete server;
            return false;
        }
        for (const QString& warning : std::as_const(warnings))
            logLine(warning);
        server->setTls(configuration);
    }
    if (!server->listen(options.httpAddress, options.httpPort)) {
        problem =
            QStringLiteral("HTTP cannot listen on %1: %2").arg(options.http, server->errorString());
        delete server;
        return false;
    }
    m_server = server;
    m_origin = RequestOrigin(options.httpAddress, m_server->serverPort(),
                             !options.tlsCert.isEmpty(), options.httpHosts);
    bind(m_server);
    logLine(QStringLiteral("HTTP%1 on %2:%3")
                .arg(options.tlsCert.isEmpty() ? QString() : QStringLiteral("S"),
                     options.httpAddress.toString())
                .arg(m_server->serverPort()));
    return true;
}

quint16 HttpApi::port() const {
    return m_server ? m_server->serverPort() : 0;
}

void HttpApi::close() {
    if (m_server)
        m_server->close();
}

bool HttpApi::authorized(const QHttpServerRequest& request) const {
    return m_token.isEmpty() || BearerToken::matches(request.value("Authorization"), m_token);
}

bool HttpApi::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) {
    const QString peer = request.remoteAddress().toString();
    const QByteArray host = request.value("Host");
    const ConnectionGuard* guard = ConnectionGuard::of(socket);
    // Every browser sends a Host; only a plain HTTP/1.0 client may leave it out.
    if (!host.isEmpty() || !guard || !guard->current().http10) {
        if (const QString why = m_origin.wrongHost(host); !why.isEmpty()) {
            logLine(QStringLiteral("HTTP 421 to %1: %2").arg(peer, why));
            writeResponse(socket, 421, TextType, "This service does not answer for that Host\n", {},
                          true);
            return true;
        }
    }
    if (const QString why =
            m_origin.otherSite(request.value("Sec-Fetch-Site"), request.value("Origin"), host);
        !why.isEmpty()) {
        logLine(QStringLiteral("HTTP 403 to %1: a request from another site (%2)").arg(peer, why));
        writeResponse(socket, 403, TextType, "Requests from other sites are refused\n");
        return true;
    }
    if (!authorized(request)) {
        logLine(QStringLiteral("HTTP 401 to %1: no valid token").arg(peer));
        // The connection ends too: a client without the token holds no place a token holder
        // could use.
        writeResponse(socket, 401, TextType, "Unauthorized\n",
                      {{"WWW-Authenticate", "Bearer realm=\"kaviod\""}}, true);
        return true;
    }
    try {
        route(request, socket);
    } catch (const std::exception& error) {
        logLine(QString::fromUtf8(error.what()));
        writeResponse(socket, 500, JsonType, errorBody(QString::fromUtf8(error.what())));
    }
    return true;
}

void HttpApi::missingHandler(const QHttpServerRequest&, QTcpSocket* socket) {
    writeResponse(socket, 404, TextType, "Not found\n");
}

void HttpApi::route(const QHttpServerRequest& request, QTcpSocket* socket) {
    const QStringList path = segmentsOf(request.url());
    const auto method = request.method();
    // HEAD is answered as GET is, without the body (the connection's guard leaves it out); not
    // on PDUDaemon's path, where a GET switches a unit.
    const bool get =
        method == QHttpServerRequest::Method::Get || method == QHttpServerRequest::Method::Head;
    const bool post = method == QHttpServerRequest::Method::Post;
    const bool put = method == QHttpServerRequest::Method::Put;
    auto wrongMethod = [socket](const QByteArray& allowed = "GET, HEAD") {
        writeResponse(socket, 405, TextType, "Method not allowed\n", {{"Allow", allowed}});
    };

    if (path.size() == 3 && path[0] == QLatin1String("power") &&
        path[1] == QLatin1String("control")) {
        if (method != QHttpServerRequest::Method::Get)
            return wrongMethod("GET");
        return powerControl(path[2], request, socket);
    }
    if (path == QStringList{QStringLiteral("metrics")})
        return get ? metrics(socket) : wrongMethod();
    if (path.size() < 3 || path[0] != QLatin1String("api") || path[1] != QLatin1String("v1")) {
        writeResponse(socket, 404, JsonType, errorBody(QStringLiteral("no such resource")));
        return;
    }
    const QString& kind = path[2];
    if (kind == QLatin1String("queue") && path.size() == 3)
        return get ? queueListing(request, socket) : wrongMethod();
    if (kind == QLatin1String("groups") && path.size() == 3)
        return get ? groups(request, socket) : wrongMethod();
    if (kind == QLatin1String("history") && path.size() == 3)
        return get ? history(request, socket) : wrongMethod();
    if (kind == QLatin1String("units") && path.size() <= 4)
        return get ? units(request, socket, path.size() == 4 ? &path[3] : nullptr) : wrongMethod();
    if (kind == QLatin1String("units") && path.size() == 5 && path[4] == QLatin1String("value")) {
        if (!get && !put)
            return wrongMethod("GET, HEAD, PUT");
        return value(path[3], request, socket);
    }
    if ((kind == QLatin1String("units") || kind == QLatin1String("groups")) && path.size() == 5) {
        if (!post)
            return wrongMethod("POST");
        const bool group = kind == QLatin1String("groups");
        const auto task = CommandTasks.find(path[4]);
        if (task == CommandTasks.end()) {
            writeResponse(socket, 400, JsonType,
                          errorBody(QStringLiteral("unknown command '%1'").arg(path[4])));
            return;
        }
        // A unit, or a group and its members, read by themselves.
        std::optional<UnitTarget> record;
        if (!group)
            record = directory::findUnit(path[3]);
        else
            record = directory::findGroup(path[3]);
        if (!record) {
            writeResponse(
                socket, 404, JsonType,
                errorBody(
                    QStringLiteral("no %1 named '%2'")
                        .arg(group ? QStringLiteral("group") : QStringLiteral("unit"), path[3])));
            return;
        }
        QList<UnitTarget> targets;
        if (group) {
            targets = directory::groupMembers(path[3]);
            if (targets.isEmpty()) {
                writeResponse(socket, 404, JsonType,
                              errorBody(QStringLiteral("the group \"%1\" has no units")
                                            .arg(escapeControlCharacters(path[3]))));
                return;
            }
        } else {
            targets << UnitTarget{record->index, record->name, record->status};
        }
        return command(targets, task->second, Reply::Json, socket);
    }
    writeResponse(socket, 404, JsonType, errorBody(QStringLiteral("no such resource")));
}

// PDUDaemon's answers: for on and off, 200 "OK" once the unit has answered with the state asked
// for and 502 with its reply otherwise; for a reboot, 200 "OK" once its off is queued. A request
// refused is answered 503 with one line, and logged.
void HttpApi::powerControl(const QString& action, const QHttpServerRequest& request,
                           QTcpSocket* socket) {
    auto refuse = [socket, &request](int status, const QString& why) {
        logLine(
            QStringLiteral("HTTP %1 to %2: /power/control/%3 refused: %4")
                .arg(status)
                .arg(request.remoteAddress().toString(), segmentsOf(request.url()).value(2), why));
        writeResponse(socket, status, TextType, why.toUtf8() + '\n');
    };
    QueryItems query;
    QString problem;
    if (!query.parse(request.url().query(QUrl::FullyEncoded).toLatin1(), {}, problem))
        return refuse(400, problem);
    const auto task = CommandTasks.find(action);
    if (task == CommandTasks.end() || task->second == TaskPulse || task->second == TaskCycle ||
        task->second == TaskQuery)
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
    const UnitTarget target{unit->index, unit->name, unit->status};
    if (task->second != TaskReboot)
        return command({target}, task->second, Reply::PduDaemon, socket);

    // As PDUDaemon reboots, whatever the unit's last status: off, the delay, on. A full queue
    // refuses the off now; the on is checked when its time comes.
    if (const auto refusal =
            m_service.engine().wouldRefuse({TCommandEntry{unit->index, TaskPowerOff}});
        refusal != TCommandEngine::Refusal::None)
        return refuse(
            503,
            QStringLiteral("Not queued: %1").arg(TCommandEngine::refusalText(refusal, unit->name)));
    const int id = m_nextDelayed++;
    Delayed& delayed = m_delayed[id];
    delayed.index = unit->index;
    delayed.name = unit->name;
    delayed.delayMs = delay * 1000;
    delayed.offTicket =
        m_service.engine().AddToQueue(unit->index, TaskPowerOff, CommandSource::Http);
    m_delayedOffs[delayed.offTicket] = id;
    m_service.engine().StartQueue();
    writeResponse(socket, 200, TextType, "OK");
}

// The off of a reboot has ended, however: its on follows after the delay.
void HttpApi::delayedOffEnded(int id) {
    Delayed& delayed = m_delayed.at(id);
    delayed.dueMs = QDateTime::currentMSecsSinceEpoch() + delayed.delayMs;
    delayed.timer = new QTimer(this);
    delayed.timer->setSingleShot(true);
    // A coarse timer may end a little early: the unit keeps the whole gap it was promised.
    delayed.timer->setTimerType(Qt::PreciseTimer);
    connect(delayed.timer, &QTimer::timeout, this, [this, id] {
        const auto found = m_delayed.find(id);
        if (found == m_delayed.end())
            return;
        const quint16 index = found->second.index;
        found->second.timer->deleteLater();
        m_delayed.erase(found);
        try {
            if (m_service.engine().AddToQueue(index, TaskPowerOn, CommandSource::Http) == 0)
                logLine(QStringLiteral("HTTP: the on of a reboot is not queued: %1")
                            .arg(m_service.engine().refusalText()));
            m_service.engine().StartQueue();
        } catch (const std::exception& error) {
            logLine(QString::fromUtf8(error.what()));
        }
    });
    delayed.timer->start(delayed.delayMs);
}

void HttpApi::units(const QHttpServerRequest& request, QTcpSocket* socket, const QString* name) {
    if (name) {
        const std::optional<StoredRecord> record = directory::readUnit(*name);
        if (!record) {
            writeResponse(socket, 404, JsonType,
                          errorBody(QStringLiteral("no unit named '%1'").arg(*name)));
            return;
        }
        writeResponse(socket, 200, JsonType, jsonBody(recordJson(*record)));
        return;
    }
    Page page;
    QString problem;
    if (!readPage(request.url(), DefaultPageLimit, MaxPageLimit, page, problem)) {
        writeResponse(socket, 400, JsonType, errorBody(problem));
        return;
    }
    list(
        socket,
        [page](const StoreSnapshot& store) {
            QJsonArray list;
            const size_t end =
                std::min(store.units.size(), size_t(page.offset) + size_t(page.limit));
            for (size_t at = size_t(page.offset); at < end; ++at)
                list.append(recordJson(store.units[at]));
            return ListingAnswer{200, QJsonDocument(list).toJson(QJsonDocument::Compact),
                                 pageHeaders(page, store.units.size())};
        },
        QStringLiteral("units %1 %2").arg(page.offset).arg(page.limit));
}

void HttpApi::groups(const QHttpServerRequest& request, QTcpSocket* socket) {
    Page page;
    QString problem;
    if (!readPage(request.url(), DefaultPageLimit, MaxPageLimit, page, problem)) {
        writeResponse(socket, 400, JsonType, errorBody(problem));
        return;
    }
    list(
        socket,
        [page](const StoreSnapshot& store) {
            QJsonArray list;
            const size_t end =
                std::min(store.groups.size(), size_t(page.offset) + size_t(page.limit));
            for (size_t at = size_t(page.offset); at < end; ++at) {
                QJsonObject object = recordJson(store.groups[at]);
                object.insert(QStringLiteral("members"),
                              QJsonArray::fromStringList(store.members[at]));
                list.append(object);
            }
            return ListingAnswer{200, jsonBody(list), pageHeaders(page, store.groups.size())};
        },
        QStringLiteral("groups %1 %2").arg(page.offset).arg(page.limit));
}

// Hands the work to the reader thread; its answer goes to the socket when it is done.
void HttpApi::list(QTcpSocket* socket, StoreListing::Work work, const QString& cacheKey,
                   const QByteArray& contentType) {
    if (m_listing->waiting() >= MaxListingWaiting) {
        writeResponse(socket, 503, JsonType,
                      errorBody(QStringLiteral("the store is being read for other requests: "
                                               "try again shortly")),
                      {{"Retry-After", "1"}});
        return;
    }
    m_listing->run(
        std::move(work),
        [socket = QPointer<QTcpSocket>(socket), contentType](const ListingAnswer& answer) {
            if (answer.Status != 200)
                writeResponse(socket, answer.Status, JsonType,
                              errorBody(QString::fromUtf8(answer.Body).trimmed()));
            else
                writeResponse(socket, 200, contentType, answer.Body, answer.Headers);
        },
        cacheKey);
}

// The number of commands not finished, and the first `limit` of them, each with the time it is
// expected to start at the pacing seen so far; the ons of reboots waiting out their delay are
// listed apart.
void HttpApi::queueListing(const QHttpServerRequest& request, QTcpSocket* socket) {
    Page page;
    QString problem;
    if (!readPage(request.url(), DefaultQueueLimit, MaxQueueLimit, page, problem)) {
        writeResponse(socket, 400, JsonType, errorBody(problem));
        return;
    }
    const TCommandEngine& engine = m_service.engine();
    const QList<TCommandEntry> waiting = engine.unfinished();
    const int left = engine.entriesLeft();
    const double perEntry = left > 0 ? double(engine.estimatedMsLeft()) / left : 0;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const int underWay = int(waiting.size()) - left;
    const int end = int(std::min<qint64>(waiting.size(), qint64(page.offset) + page.limit));
    QSet<quint16> keys;
    for (int position = page.offset; position < end; ++position)
        keys.insert(waiting[position].Index);
    int shown = 0;
    for (auto each = m_delayed.cbegin(); each != m_delayed.cend() && shown < page.limit;
         ++each, ++shown)
        keys.insert(each->second.index);
    const QHash<quint16, QString> names = directory::namesOf(keys);
    QJsonArray entries;
    for (int position = page.offset; position < end; ++position) {
        const TCommandEntry& entry = waiting[position];
        const int ahead = position - underWay;
        entries.append(QJsonObject{
            {QStringLiteral("position"), position},
            {QStringLiteral("index"), entry.Index},
            {QStringLiteral("name"), names.value(entry.Index)},
            {QStringLiteral("command"), taskWord(entry.Task)},
            {QStringLiteral("source"), sourceName(entry.Source)},
            {QStringLiteral("under_way"), ahead < 0},
            {QStringLiteral("estimated_start"),
             ahead < 0 ? QJsonValue()
                       : QJsonValue(
                             utcTime(now + qint64(ahead / qMax(1, engine.parallel()) * perEntry)))},
        });
    }
    QJsonArray delayed;
    for (auto at = m_delayed.cbegin(); at != m_delayed.cend() && delayed.size() < page.limit;
         ++at) {
        const Delayed& each = at->second;
        delayed.append(QJsonObject{
            {QStringLiteral("index"), each.index},
            {QStringLiteral("name"), names.value(each.index)},
            {QStringLiteral("command"), taskWord(TaskPowerOn)},
            {QStringLiteral("source"), sourceName(CommandSource::Http)},
            {QStringLiteral("queued_at"),
             each.dueMs ? QJsonValue(utcTime(each.dueMs)) : QJsonValue()},
        });
    }
    QJsonObject listing{
        {QStringLiteral("count"), qint64(waiting.size()) + qint64(m_delayed.size())},
        {QStringLiteral("entries"), entries},
        {QStringLiteral("delayed"), delayed},
    };
    writeResponse(socket, 200, JsonType, jsonBody(listing),
                  pageHeaders(page, size_t(waiting.size())));
}

// The rows of `kavioctl history --json`, the newest `limit` of them, oldest first. When more
// matched, the header Kavio-More-Rows says so (the next older page ends at the first row's time).
void HttpApi::history(const QHttpServerRequest& request, QTcpSocket* socket) {
    HistoryAsk ask;
    QString problem;
    if (!parseHistoryAsk(request.url().query(QUrl::FullyEncoded).toLatin1(),
                         QDateTime::currentDateTime(), ask, problem)) {
        writeResponse(socket, 400, JsonType, errorBody(problem));
        return;
    }
    // Master's names are looked up here; only the history itself is read away from the loop.
    if (!ask.Group.isNull()) {
        ask.Filter.Group = GroupKeyByName(ask.Group);
        if (!ask.Filter.Group) {
            writeResponse(socket, 404, JsonType,
                          errorBody(QStringLiteral("no group is named '%1'").arg(ask.Group)));
            return;
        }
    }
    if (!ask.Unit.isNull())
        ask.Filter.Unit = UnitKeyByName(ask.Unit);
    if (m_history->waiting() >= MaxHistoryWaiting) {
        writeResponse(socket, 503, JsonType,
                      errorBody(QStringLiteral("the history is being read for other requests: "
                                               "try again shortly")),
                      {{"Retry-After", "1"}});
        return;
    }
    m_history->read(ask, [socket = QPointer<QTcpSocket>(socket)](const HistoryAnswer& answer) {
        QList<QPair<QByteArray, QByteArray>> headers;
        if (answer.More)
            headers.emplaceBack("Kavio-More-Rows", "true");
        writeResponse(socket, answer.Status, JsonType, answer.Body, headers);
    });
}

void HttpApi::metrics(QTcpSocket* socket) {
    const Metrics::Snapshot counts =
        m_metrics.snapshot(m_service.engine().unfinishedCount() + int(m_delayed.size()));
    list(
        socket,
        [counts](const StoreSnapshot& store) {
            return ListingAnswer{200, exposition(counts, store.units), {}};
        },
        QString(), "text/plain; version=0.0.4; charset=utf-8");
}

// labgrid's "rest" power model: GET answers 1 (on) or 0; PUT 1 or 0 switches and answers once
// the exchange is done.
void HttpApi::value(const QString& name, const QHttpServerRequest& request, QTcpSocket* socket) {
    const std::optional<UnitTarget> record = directory::findUnit(name);
    if (!record) {
        writeResponse(socket, 404, TextType,
                      QStringLiteral("no unit named '%1'\n").arg(name).toUtf8());
        return;
    }
    if (request.method() != QHttpServerRequest::Method::Put) {
        writeResponse(socket, 200, TextType, record->status == StatusOn ? "1" : "0");
        return;
    }
    const QByteArray body = request.body().trimmed();
    if (body != "1" && body != "0") {
        writeResponse(socket, 400, TextType, "The value is 1 (on) or 0 (off)\n");
        return;
    }
    command({UnitTarget{record->index, record->name, record->status}},
            body == "1" ? TaskPowerOn : TaskPowerOff, Reply::Value, socket);
}

void HttpApi::command(const QList<UnitTarget>& targets, quint8 task, Reply reply,
                      QTcpSocket* socket) {
    // Either every command of the request is queued or none: a full queue refuses the request,
    // 429 when units have too many commands waiting, 503 when the whole queue is full.
    QList<TCommandEntry> wanted;
    for (const UnitTarget& unit : targets) {
        if (const std::optional<quint8> sent = taskToSend(task, unit.status))
            wanted << TCommandEntry{unit.index, *sent};
    }
    TCommandEngine& engine = m_service.engine();
    if (const TCommandEngine::Refusal refusal = engine.wouldRefuse(wanted);
        refusal != TCommandEngine::Refusal::None) {
        const QString why = TCommandEngine::refusalText(refusal, QString());
        logLine(QStringLiteral("HTTP: refused: ") + why);
        writeResponse(socket, refusal == TCommandEngine::Refusal::UnitFull ? 429 : 503, JsonType,
                      errorBody(why), {{"Retry-After", "1"}});
        return;
    }
    const int id = m_nextWaiter++;
    Waiter& waiter = m_waiters[id];
    waiter.socket = socket;
    waiter.reply = reply;
    for (const UnitTarget& unit : targets) {
        Line line{unit, task, taskToSend(task, unit.status), std::nullopt};
        waiter.lines << line;
        if (!line.sent)
            continue;
        const quint64 ticket =
            m_service.engine().AddToQueue(unit.index, *line.sent, CommandSource::Http);
        m_tickets[ticket] = {id, int(waiter.lines.size() - 1)};
        ++waiter.missing;
    }
    if (waiter.missing == 0) {
        answerWaiter(waiter);
        forgetWaiter(id);
        return;
    }
    m_service.engine().StartQueue();
    startDeadline(id);
}

// The answer waits as long as the queue expects to take, plus the longest exchange for each
// round of this request's own, plus a margin; the connection is not idle meanwhile.
void HttpApi::startDeadline(int id) {
    Waiter& waiter = m_waiters.at(id);
    const TCommandEngine& engine = m_service.engine();
    const qint64 rounds = (waiter.missing + engine.parallel() - 1) / qMax(1, engine.parallel());
    const qint64 longest =
        TCommandEngine::ConnectTimeoutMs + TCommandEngine::ReplyLimitMs + TCommandEngine::PauseMs;
    const qint64 ms = engine.estimatedMsLeft() + rounds * longest + AnswerMarginMs;
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
void HttpApi::answerLate(int id) {
    const auto found = m_waiters.find(id);
    if (found == m_waiters.end())
        return;
    Waiter& waiter = found->second;
    const TCommandEngine& engine = m_service.engine();
    QSet<quint64> queued;
    for (const TCommandEntry& entry : engine.queue())
        queued.insert(entry.Ticket);
    bool stillQueued = false;
    for (const auto& [ticket, where] : m_tickets) {
        if (where.first == id && queued.contains(ticket))
            stillQueued = true;
    }
    const qint64 retry = std::max<qint64>(1, (engine.estimatedMsLeft() + 999) / 1000);
    const QString message =
        stillQueued ? QStringLiteral("no answer in time: the command is still queued, "
                                     "%1 entries ahead or under way")
                          .arg(engine.unfinishedCount())
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
    forgetWaiter(id);
}

void HttpApi::forgetWaiter(int id) {
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

void HttpApi::exchangeFinished(const TCommandResult& result) {
    m_metrics.count(result);
    if (const auto off = m_delayedOffs.find(result.Ticket); off != m_delayedOffs.end()) {
        const int id = off->second;
        m_delayedOffs.erase(off);
        delayedOffEnded(id);
    }
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
    answerWaiter(waiter->second);
    forgetWaiter(id);
}

// 200 when every unit answered as asked (see succeeded()), 502 otherwise.
void HttpApi::answerWaiter(Waiter& waiter) {
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
