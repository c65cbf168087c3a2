#include "HttpApi.h"

#include "Codes.h"
#include "CommandEngine.h"
#include "Database.h"
#include "Exception.h"
#include "HistoryQuery.h"
#include "HttpGuard.h"
#include "KavioService.h"
#include "NameOrder.h"
#include "Schema.h"
#include "ServiceLog.h"
#include "ServiceOptions.h"
#include "StatusWords.h"
#include "StoreRecords.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHttpServerRequest>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlQuery>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTimer>
#include <QUrlQuery>
#include <sys/stat.h>

namespace kavio::service {
namespace {

const QByteArray TextType = "text/plain; charset=utf-8";
const QByteArray JsonType = "application/json";

// A listening socket whose connections pass their guard (HttpGuard) before the HTTP server
// sees them; with a TLS configuration each connection is a QSslSocket whose handshake starts at
// once, and the server reads only what was decrypted.
class GuardedServer : public QTcpServer {
public:
    GuardedServer(ConnectionPool& pool, QObject* parent)
        : QTcpServer(parent)
        , m_pool(pool) {}

    void setTls(const QSslConfiguration& configuration) {
        m_tls = configuration;
        m_useTls = true;
    }

protected:
    void incomingConnection(qintptr descriptor) override {
        QTcpSocket* socket = nullptr;
        if (m_useTls) {
            auto* secure = new QSslSocket(this);
            secure->setSslConfiguration(m_tls);
            socket = secure;
        } else {
            socket = new QTcpSocket(this);
        }
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        if (!guardConnection(socket, m_pool))
            return;
        if (auto* secure = qobject_cast<QSslSocket*>(socket)) {
            QObject::connect(secure, &QSslSocket::sslErrors, secure, [secure] { secure->abort(); });
            secure->startServerEncryption();
        }
        addPendingConnection(socket);
    }

private:
    ConnectionPool& m_pool;
    QSslConfiguration m_tls;
    bool m_useTls = false;
};

const std::map<QString, quint8> CommandTasks = {
    {QStringLiteral("on"), TaskPowerOn},    {QStringLiteral("off"), TaskPowerOff},
    {QStringLiteral("reboot"), TaskReboot}, {QStringLiteral("pulse"), TaskPulse},
    {QStringLiteral("cycle"), TaskCycle},   {QStringLiteral("query"), TaskQuery},
};

QJsonObject recordJson(const ctl::StoredRecord& record) {
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

// One unit as a command needs it. Read with one statement on its own, so that a request that
// switches a unit costs the same with a thousand units as with one.
struct UnitBrief {
    quint16 index = 0;
    QString name;
    qint64 status = StatusUnknown;
};

// The unit of that exact name (the first by key when several share it, as the list orders equal
// names), or the first by name of the units at that address.
std::optional<UnitBrief> findUnit(const QString& wanted, bool byAddress) {
    QSqlQuery query = ctl::runQuery(
        QStringLiteral("Master.DB"),
        QStringLiteral(R"(SELECT "Index", "Name", "Status" FROM "Master" WHERE "Group" = 0 AND
 %1 = ? AND %2 ORDER BY "Index" LIMIT %3)")
            .arg(byAddress ? QStringLiteral(R"("IPAddress")") : QStringLiteral(R"("Name")"),
                 schema::validKeyCondition(QStringLiteral("Index")))
            .arg(byAddress ? -1 : 1),
        {wanted});
    std::vector<UnitBrief> units;
    while (query.next())
        units.push_back({quint16(query.value(0).toUInt()), query.value(1).toString(),
                         query.value(2).toLongLong()});
    if (units.empty())
        return std::nullopt;
    sortByName(units, [](const UnitBrief& unit) { return unit.name; });
    return units.front();
}

std::optional<ctl::StoredRecord> findRecord(const QString& name, bool group) {
    for (ctl::StoredRecord& record : ctl::readStore(false)) {
        if (record.group == group && record.name == name)
            return std::move(record);
    }
    return std::nullopt;
}

QString lineStatus(const std::optional<quint8>& sent, const std::optional<TCommandResult>& result) {
    if (!sent)
        return QStringLiteral("SKIPPED");
    if (!result || result->Result != TCommandResult::Outcome::Answered)
        return QStringLiteral("FAILED");
    return statusWord(result->Status);
}

} // namespace

HttpApi::HttpApi(KavioService& service, QObject* parent)
    : QAbstractHttpServer(parent)
    , m_service(service)
    , m_history(new HistoryReader(Database::path(), this)) {
    connect(&m_service.engine(), &TCommandEngine::exchangeFinished, this,
            &HttpApi::exchangeFinished);
    connect(&m_service.engine(), &TCommandEngine::statusChanged, this,
            [this] { m_unitsStale = true; });
}

HttpApi::~HttpApi() {
    for (ConnectionGuard* guard : std::as_const(m_pool.open))
        guard->forgetPool();
}

bool HttpApi::listen(const ServiceOptions& options, QString& problem) {
    if (!options.tokenFile.isEmpty()) {
        struct stat info = {};
        if (::stat(QFile::encodeName(options.tokenFile).constData(), &info) != 0) {
            problem = QStringLiteral("the token file %1 cannot be read").arg(options.tokenFile);
            return false;
        }
        if ((info.st_mode & 077) != 0) {
            problem = QStringLiteral("the token file %1 can be read by others: make it mode 0600")
                          .arg(options.tokenFile);
            return false;
        }
        QFile file(options.tokenFile);
        if (!file.open(QIODevice::ReadOnly)) {
            problem = QStringLiteral("the token file %1 cannot be read: %2")
                          .arg(options.tokenFile, file.errorString());
            return false;
        }
        m_token = file.read(4096).trimmed();
        if (m_token.isEmpty() || m_token.contains('\n')) {
            problem = QStringLiteral("the token file %1 holds no token (one line)")
                          .arg(options.tokenFile);
            return false;
        }
    } else if (!options.httpAddress.isLoopback()) {
        problem = QStringLiteral("HTTP on %1, which is not loopback, needs --http-token-file")
                      .arg(options.http);
        return false;
    }

    if (!options.tlsCert.isEmpty()) {
        QFile certFile(options.tlsCert);
        QFile keyFile(options.tlsKey);
        if (!certFile.open(QIODevice::ReadOnly) || !keyFile.open(QIODevice::ReadOnly)) {
            problem = QStringLiteral("the TLS certificate or key cannot be read");
            return false;
        }
        const QSslCertificate certificate(&certFile, QSsl::Pem);
        QSslKey key(&keyFile, QSsl::Rsa, QSsl::Pem);
        if (key.isNull()) {
            keyFile.seek(0);
            key = QSslKey(&keyFile, QSsl::Ec, QSsl::Pem);
        }
        if (certificate.isNull() || key.isNull()) {
            problem = QStringLiteral("the TLS certificate or key is not PEM");
            return false;
        }
        auto* server = new GuardedServer(m_pool, this);
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.setLocalCertificate(certificate);
        configuration.setPrivateKey(key);
        configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
        server->setTls(configuration);
        m_server = server;
    } else {
        m_server = new GuardedServer(m_pool, this);
    }
    m_server->setMaxPendingConnections(HttpLimits::MaxConnections);
    if (!m_server->listen(options.httpAddress, options.httpPort)) {
        problem = QStringLiteral("HTTP cannot listen on %1: %2")
                      .arg(options.http, m_server->errorString());
        return false;
    }
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
    if (m_token.isEmpty())
        return true;
    for (const auto& header : request.headers()) {
        if (header.first.compare("authorization", Qt::CaseInsensitive) == 0)
            return header.second.trimmed() == "Bearer " + m_token;
    }
    return false;
}

bool HttpApi::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) {
    if (!authorized(request)) {
        logLine(QStringLiteral("HTTP 401 to %1: no valid token")
                    .arg(request.remoteAddress().toString()));
        writeResponse(socket, 401, TextType, "Unauthorized\n",
                      {{"WWW-Authenticate", "Bearer realm=\"kaviod\""}});
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
    const bool get = method == QHttpServerRequest::Method::Get;
    const bool post = method == QHttpServerRequest::Method::Post;
    const bool put = method == QHttpServerRequest::Method::Put;
    auto wrongMethod = [socket] { writeResponse(socket, 405, TextType, "Method not allowed\n"); };

    if (path.size() == 3 && path[0] == QLatin1String("power") &&
        path[1] == QLatin1String("control")) {
        if (!get)
            return wrongMethod();
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
        return get ? queueListing(socket) : wrongMethod();
    if (kind == QLatin1String("groups") && path.size() == 3)
        return get ? groups(socket) : wrongMethod();
    if (kind == QLatin1String("history") && path.size() == 3)
        return get ? history(request, socket) : wrongMethod();
    if (kind == QLatin1String("units") && path.size() <= 4)
        return get ? units(socket, path.size() == 4 ? &path[3] : nullptr) : wrongMethod();
    if (kind == QLatin1String("units") && path.size() == 5 && path[4] == QLatin1String("value")) {
        if (!get && !put)
            return wrongMethod();
        return value(path[3], request, socket);
    }
    if ((kind == QLatin1String("units") || kind == QLatin1String("groups")) && path.size() == 5) {
        if (!post)
            return wrongMethod();
        const bool group = kind == QLatin1String("groups");
        const auto task = CommandTasks.find(path[4]);
        if (task == CommandTasks.end()) {
            writeResponse(socket, 400, JsonType,
                          errorBody(QStringLiteral("unknown command '%1'").arg(path[4])));
            return;
        }
        // A group's members are read from the whole store anyway; a unit is read by itself.
        std::optional<UnitBrief> record;
        if (!group)
            record = findUnit(path[3], false);
        else if (const std::optional<ctl::StoredRecord> stored = findRecord(path[3], true))
            record = UnitBrief{stored->index, stored->name, stored->status};
        if (!record) {
            writeResponse(
                socket, 404, JsonType,
                errorBody(
                    QStringLiteral("no %1 named '%2'")
                        .arg(group ? QStringLiteral("group") : QStringLiteral("unit"), path[3])));
            return;
        }
        QList<ctl::UnitTarget> targets;
        if (group) {
            QStringList problems;
            targets = ctl::resolveTargets({path[3]}, false, problems);
            if (!problems.isEmpty()) {
                writeResponse(socket, 404, JsonType, errorBody(problems.join(QLatin1Char(' '))));
                return;
            }
        } else {
            targets << ctl::UnitTarget{record->index, record->name, record->status};
        }
        return command(targets, task->second, false, socket);
    }
    writeResponse(socket, 404, JsonType, errorBody(QStringLiteral("no such resource")));
}

// PDUDaemon's answers: 200 "OK" once the command is accepted, 503 with one line otherwise.
void HttpApi::powerControl(const QString& action, const QHttpServerRequest& request,
                           QTcpSocket* socket) {
    auto refuse = [socket](const QString& why) {
        writeResponse(socket, 503, TextType, why.toUtf8() + '\n');
    };
    const auto task = CommandTasks.find(action);
    if (task == CommandTasks.end() || task->second == TaskPulse || task->second == TaskCycle ||
        task->second == TaskQuery)
        return refuse(QStringLiteral("Unknown command '%1': on, off or reboot").arg(action));
    const QUrlQuery query(request.url());
    int delay = 0;
    if (query.hasQueryItem(QStringLiteral("delay"))) {
        bool ok = false;
        delay = query.queryItemValue(QStringLiteral("delay")).toInt(&ok);
        if (!ok || delay < 0 || delay > MaxDelaySeconds)
            return refuse(QStringLiteral("Bad delay: a whole number of seconds from 0 to %1")
                              .arg(MaxDelaySeconds));
    }
    QString wanted;
    if (query.hasQueryItem(QStringLiteral("alias"))) {
        wanted = query.queryItemValue(QStringLiteral("alias"), QUrl::FullyDecoded);
    } else {
        wanted = query.queryItemValue(QStringLiteral("hostname"), QUrl::FullyDecoded);
        if (wanted.isEmpty())
            return refuse(QStringLiteral("Missing hostname and port, or alias"));
        if (query.queryItemValue(QStringLiteral("port")) != QLatin1String("1"))
            return refuse(QStringLiteral("Bad port '%1': a Kavio unit has one outlet, port 1")
                              .arg(query.queryItemValue(QStringLiteral("port"))));
    }
    std::optional<UnitBrief> unit = findUnit(wanted, false);
    if (!unit && !query.hasQueryItem(QStringLiteral("alias")))
        unit = findUnit(wanted, true);
    if (!unit)
        return refuse(QStringLiteral("Unknown unit '%1'").arg(wanted));
    if (task->second == TaskReboot && !taskToSend(TaskReboot, unit->status))
        return refuse(QStringLiteral("Cannot reboot '%1': its last status is %2, not ON or OFF")
                          .arg(unit->name, statusWord(unit->status)));
    const quint16 index = unit->index;
    const quint8 requested = task->second;
    const QString name = unit->name;
    // A full queue refuses now what it would refuse at once; a delayed command is checked when
    // its time comes.
    if (delay == 0) {
        if (const auto refusal = m_service.engine().wouldRefuse({TCommandEntry{index, requested}});
            refusal != TCommandEngine::Refusal::None) {
            const QString why =
                QStringLiteral("Not queued: %1").arg(TCommandEngine::refusalText(refusal, name));
            logLine(QStringLiteral("HTTP: ") + why);
            return refuse(why);
        }
    }
    auto queueIt = [this, index, requested, name] {
        std::optional<quint8> sent = std::make_optional(requested);
        if (requested == TaskReboot) {
            const std::optional<UnitBrief> now = findUnit(name, false);
            sent = taskToSend(requested, now ? now->status : qint64(StatusUnknown));
        }
        if (!sent) {
            logLine(QStringLiteral("HTTP: the delayed reboot of %1 is not sent: its status is "
                                   "neither ON nor OFF")
                        .arg(name));
            return;
        }
        if (m_service.engine().AddToQueue(index, *sent, CommandSource::Http) == 0)
            logLine(QStringLiteral("HTTP: the delayed command for %1 is not queued: %2")
                        .arg(name, m_service.engine().refusalText()));
        m_service.engine().StartQueue();
    };
    if (delay == 0)
        queueIt();
    else
        QTimer::singleShot(delay * 1000, this, [queueIt] {
            try {
                queueIt();
            } catch (const std::exception& error) {
                logLine(QString::fromUtf8(error.what()));
            }
        });
    writeResponse(socket, 200, TextType, "OK");
}

void HttpApi::units(QTcpSocket* socket, const QString* name) {
    if (name) {
        const std::optional<ctl::StoredRecord> record = findRecord(*name, false);
        if (!record) {
            writeResponse(socket, 404, JsonType,
                          errorBody(QStringLiteral("no unit named '%1'").arg(*name)));
            return;
        }
        writeResponse(socket, 200, JsonType, jsonBody(recordJson(*record)));
        return;
    }
    // The listing is made again only when a status was written here or another connection
    // changed the file: lab tools ask for it far more often than it changes.
    QSqlQuery version(Database::connection());
    const qint64 dataVersion = version.exec(QStringLiteral("PRAGMA data_version")) && version.next()
                                   ? version.value(0).toLongLong()
                                   : -1;
    if (m_unitsStale || dataVersion != m_unitsVersion || dataVersion < 0) {
        QJsonArray list;
        for (const ctl::StoredRecord& record : ctl::readStore(false)) {
            if (!record.group)
                list.append(recordJson(record));
        }
        m_unitsBody = QJsonDocument(list).toJson(QJsonDocument::Compact);
        m_unitsVersion = dataVersion;
        m_unitsStale = false;
    }
    writeResponse(socket, 200, JsonType, m_unitsBody);
}

void HttpApi::groups(QTcpSocket* socket) {
    const std::vector<ctl::StoredRecord> records = ctl::readStore(false);
    QJsonArray list;
    for (const ctl::StoredRecord& record : records) {
        if (!record.group)
            continue;
        QJsonObject object = recordJson(record);
        QJsonArray members;
        for (const ctl::StoredRecord& unit : records) {
            if (!unit.group && unit.groups.contains(record.name))
                members.append(unit.name);
        }
        object.insert(QStringLiteral("members"), members);
        list.append(object);
    }
    writeResponse(socket, 200, JsonType, jsonBody(list));
}

// The entries not started yet, each with the time it is expected to start at the pacing seen
// so far.
void HttpApi::queueListing(QTcpSocket* socket) {
    const TCommandEngine& engine = m_service.engine();
    const QList<TCommandEntry> waiting = engine.unfinished();
    const int left = engine.entriesLeft();
    const double perEntry = left > 0 ? double(engine.estimatedMsLeft()) / left : 0;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const int underWay = int(waiting.size()) - left;
    QHash<quint16, QString> names;
    if (!waiting.isEmpty()) {
        for (const ctl::StoredRecord& record : ctl::readStore(false))
            names.insert(record.index, record.name);
    }
    QJsonArray list;
    for (int position = 0; position < waiting.size(); ++position) {
        const TCommandEntry& entry = waiting[position];
        const int ahead = position - underWay;
        list.append(QJsonObject{
            {QStringLiteral("position"), position},
            {QStringLiteral("index"), entry.Index},
            {QStringLiteral("name"), names.value(entry.Index)},
            {QStringLiteral("command"), taskWord(entry.Task)},
            {QStringLiteral("source"), sourceName(entry.Source)},
            {QStringLiteral("under_way"), ahead < 0},
            {QStringLiteral("estimated_start"),
             ahead < 0 ? QJsonValue()
                       : QJsonValue(QDateTime::fromMSecsSinceEpoch(
                                        now + qint64(ahead / qMax(1, engine.parallel()) * perEntry))
                                        .toString(Qt::ISODateWithMs))},
        });
    }
    writeResponse(socket, 200, JsonType, jsonBody(list));
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
    writeResponse(socket, 200, "text/plain; version=0.0.4; charset=utf-8",
                  m_metrics.exposition(m_service.engine()));
}

// labgrid's "rest" power model: GET answers 1 (on) or 0; PUT 1 or 0 switches and answers once
// the exchange is done.
void HttpApi::value(const QString& name, const QHttpServerRequest& request, QTcpSocket* socket) {
    const std::optional<UnitBrief> record = findUnit(name, false);
    if (!record) {
        writeResponse(socket, 404, TextType,
                      QStringLiteral("no unit named '%1'\n").arg(name).toUtf8());
        return;
    }
    if (request.method() == QHttpServerRequest::Method::Get) {
        writeResponse(socket, 200, TextType, record->status == StatusOn ? "1" : "0");
        return;
    }
    const QByteArray body = request.body().trimmed();
    if (body != "1" && body != "0") {
        writeResponse(socket, 400, TextType, "The value is 1 (on) or 0 (off)\n");
        return;
    }
    command({ctl::UnitTarget{record->index, record->name, record->status}},
            body == "1" ? TaskPowerOn : TaskPowerOff, true, socket);
}

void HttpApi::command(const QList<ctl::UnitTarget>& targets, quint8 task, bool value,
                      QTcpSocket* socket) {
    // Either every command of the request is queued or none: a full queue refuses the request,
    // 429 when units have too many commands waiting, 503 when the whole queue is full.
    QList<TCommandEntry> wanted;
    for (const ctl::UnitTarget& unit : targets) {
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
    waiter.value = value;
    for (const ctl::UnitTarget& unit : targets) {
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
        m_waiters.erase(id);
        return;
    }
    m_service.engine().StartQueue();
}

void HttpApi::exchangeFinished(const TCommandResult& result) {
    m_metrics.count(result);
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
    m_waiters.erase(waiter);
}

// 200 when every unit answered with a status word, 502 otherwise.
void HttpApi::answerWaiter(Waiter& waiter) {
    bool failed = false;
    QJsonArray report;
    for (const Line& line : std::as_const(waiter.lines)) {
        failed = failed || !line.result || !line.result->answeredWithStatusWord();
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
    if (waiter.value)
        writeResponse(waiter.socket, failed ? 502 : 200, TextType,
                      failed ? QByteArray("FAILED\n") : QByteArray());
    else
        writeResponse(waiter.socket, failed ? 502 : 200, JsonType, jsonBody(report));
}

} // namespace kavio::service
