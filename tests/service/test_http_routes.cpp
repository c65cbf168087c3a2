// kaviod's route table and the answers of its dispatcher, in-process: which row a method and
// path come to, with what access; and over loopback, the status, Allow and body of every kind
// of request that needs no unit to answer, with and without a token.
#include "Codes.h"
#include "CommandEngine.h"
#include "Database.h"
#include "DelayedReboots.h"
#include "HttpApi.h"
#include "HttpEndpoint.h"
#include "HttpRoutes.h"
#include "ServiceOptions.h"
#include "TempDatabase.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>
#include <memory>

using namespace kavio;
using namespace kavio::service;

namespace {

const QHash<QString, Method> MethodNamed{
    {QStringLiteral("GET"), Method::Get},         {QStringLiteral("HEAD"), Method::Head},
    {QStringLiteral("POST"), Method::Post},       {QStringLiteral("PUT"), Method::Put},
    {QStringLiteral("DELETE"), Method::Delete},   {QStringLiteral("PATCH"), Method::Patch},
    {QStringLiteral("OPTIONS"), Method::Options},
};

// "r" read, "s" switch: what a caller is granted.
Accesses grantsOf(const QString& letters) {
    Accesses granted;
    if (letters.contains(QLatin1Char('r')))
        granted |= Access::Read;
    if (letters.contains(QLatin1Char('s')))
        granted |= Access::Switch;
    return granted;
}

struct Answer {
    int status = 0;
    QHash<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body;
};

// One request on a connection of its own, which the server closes after the answer.
Answer exchange(quint16 port, const QByteArray& request) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    QByteArray raw;
    QObject::connect(&socket, &QTcpSocket::connected, [&] { socket.write(request); });
    QObject::connect(&socket, &QTcpSocket::readyRead, [&] { raw += socket.readAll(); });
    if (!QTest::qWaitFor([&] { return socket.state() == QAbstractSocket::UnconnectedState; },
                         20000))
        return {};
    raw += socket.readAll();
    Answer answer;
    const qsizetype end = raw.indexOf("\r\n\r\n");
    if (end < 0)
        return {};
    const QList<QByteArray> lines = raw.left(end).split('\n');
    answer.status = lines.value(0).split(' ').value(1).toInt();
    for (qsizetype at = 1; at < lines.size(); ++at) {
        const qsizetype colon = lines[at].indexOf(':');
        answer.headers.insert(lines[at].left(colon).trimmed().toLower(),
                              lines[at].mid(colon + 1).trimmed());
    }
    answer.body = raw.mid(end + 4);
    return answer;
}

} // namespace

class TestHttpRoutes : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void decide_data();
    void decide();
    void grants_data();
    void grants();
    void precedence();
    void pathSegments_data();
    void pathSegments();
    void answers_data();
    void answers();
    void listenRefusals_data();
    void listenRefusals();
    void reboots();
    void storeFault();

private:
    std::unique_ptr<test::TempDatabase> m_database;
    std::unique_ptr<TCommandEngine> m_engine;
    std::unique_ptr<HttpApi> m_open;
    std::unique_ptr<HttpApi> m_guarded;
    quint16 m_gone = 0;
};

void TestHttpRoutes::initTestCase() {
    m_database = std::make_unique<test::TempDatabase>();
    test::TempDatabase::addUnit(QStringLiteral("near"));
    // A unit at a loopback port where nothing listens: each exchange with it fails at once.
    quint16 port = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        port = probe.serverPort();
    }
    m_gone = test::TempDatabase::addUnit(QStringLiteral("gone"), QStringLiteral("127.0.0.1"), port);
    test::TempDatabase::addGroup(QStringLiteral("empty"));
    m_engine = std::make_unique<TCommandEngine>();

    ServiceOptions options;
    options.http = QStringLiteral("127.0.0.1:0");
    options.httpAddress = QHostAddress::LocalHost;
    QString problem;
    m_open = std::make_unique<HttpApi>(*m_engine);
    QVERIFY2(m_open->listen(options, problem), qPrintable(problem));

    options.tokenFile = m_database->dir.filePath(QStringLiteral("token"));
    QFile token(options.tokenFile);
    QVERIFY(token.open(QIODevice::WriteOnly));
    token.write("t0ken-value\n");
    token.close();
    QVERIFY(token.setPermissions(QFile::ReadOwner | QFile::WriteOwner));
    m_guarded = std::make_unique<HttpApi>(*m_engine);
    QVERIFY2(m_guarded->listen(options, problem), qPrintable(problem));
    QVERIFY(m_open->port() != 0 && m_guarded->port() != 0 && m_open->port() != m_guarded->port());
}

void TestHttpRoutes::cleanupTestCase() {
    m_open.reset();
    m_guarded.reset();
    m_engine.reset();
    m_database.reset();
}

void TestHttpRoutes::decide_data() {
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("status"); // 0: the route's handler answers
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("access"); // "r" read, "s" switch
    QTest::addColumn<QString>("parts");  // "name=value;..." of the path
    QTest::addColumn<QByteArray>("allow");

    const QString none;
    const QByteArray noAllow;
    auto route = [&](const char* method, const char* path, const char* pattern, const char* access,
                     const char* parts = "") {
        QTest::addRow("%s %s", method, path)
            << QString::fromLatin1(method) << QString::fromUtf8(path) << 0
            << QString::fromLatin1(pattern) << QString::fromLatin1(access)
            << QString::fromUtf8(parts) << noAllow;
    };
    auto refused = [&](const char* method, const char* path, int status,
                       const QByteArray& allow = QByteArray()) {
        QTest::addRow("%s %s", method, path)
            << QString::fromLatin1(method) << QString::fromUtf8(path) << status << none << none
            << none << allow;
    };

    route("GET", "/metrics", "/metrics", "r");
    route("HEAD", "/metrics/", "/metrics", "r");
    refused("POST", "/metrics", 405, "GET, HEAD");
    refused("GET", "/metrics/x", 404);
    route("GET", "/power/control/on", "/power/control/{action}", "s", "action=on");
    route("GET", "/power/control/explode", "/power/control/{action}", "s", "action=explode");
    refused("HEAD", "/power/control/on", 405, "GET");
    refused("PUT", "/power/control/reboot", 405, "GET");
    refused("GET", "/power/control", 404);
    refused("GET", "/power/control/on/now", 404);
    route("GET", "/api/v1/units", "/api/v1/units", "r");
    route("HEAD", "/api//v1///units/", "/api/v1/units", "r");
    refused("DELETE", "/api/v1/units", 405, "GET, HEAD");
    refused("POST", "/api/v1/units", 405, "GET, HEAD");
    route("GET", "/api/v1/units/near", "/api/v1/units/{name}", "r", "name=near");
    route("GET", "/api/v1/units/rack%20b%2F%C3%BC", "/api/v1/units/{name}", "r",
          "name=rack b/\xC3\xBC");
    refused("PUT", "/api/v1/units/near", 405, "GET, HEAD");
    route("GET", "/api/v1/units/near/value", "/api/v1/units/{name}/value", "r", "name=near");
    route("HEAD", "/api/v1/units/near/value", "/api/v1/units/{name}/value", "r", "name=near");
    route("PUT", "/api/v1/units/near/value", "/api/v1/units/{name}/value", "s", "name=near");
    refused("POST", "/api/v1/units/near/value", 405, "GET, HEAD, PUT");
    refused("DELETE", "/api/v1/units/near/value", 405, "GET, HEAD, PUT");
    route("POST", "/api/v1/units/near/on", "/api/v1/units/{name}/{command}", "s",
          "name=near;command=on");
    route("POST", "/api/v1/units/near/explode", "/api/v1/units/{name}/{command}", "s",
          "name=near;command=explode");
    refused("GET", "/api/v1/units/near/on", 405, "POST");
    refused("HEAD", "/api/v1/units/near/on", 405, "POST");
    refused("POST", "/api/v1/units/near/on/now", 404);
    route("GET", "/api/v1/groups", "/api/v1/groups", "r");
    refused("POST", "/api/v1/groups", 405, "GET, HEAD");
    refused("GET", "/api/v1/groups/lab", 404);
    route("POST", "/api/v1/groups/lab/reboot", "/api/v1/groups/{name}/{command}", "s",
          "name=lab;command=reboot");
    refused("GET", "/api/v1/groups/lab/value", 405, "POST");
    route("GET", "/api/v1/queue", "/api/v1/queue", "r");
    refused("POST", "/api/v1/queue", 405, "GET, HEAD");
    route("GET", "/api/v1/history", "/api/v1/history", "r");
    refused("PATCH", "/api/v1/history", 405, "GET, HEAD");
    refused("OPTIONS", "/api/v1/history", 405, "GET, HEAD");
    refused("GET", "/", 404);
    refused("GET", "/api/v1", 404);
    refused("GET", "/api/v2/units", 404);
    refused("GET", "/API/v1/units", 404);
    refused("GET", "/nothing/here", 404);
    refused("DELETE", "/nothing/here", 404);
}

void TestHttpRoutes::decide() {
    QFETCH(QString, method);
    QFETCH(QString, path);
    QFETCH(int, status);
    QFETCH(QString, pattern);
    QFETCH(QString, access);
    QFETCH(QString, parts);
    QFETCH(QByteArray, allow);
    const RouteDecision decision =
        m_open->routes().decide(MethodNamed.value(method), kavio::service::pathSegments(QUrl(path)),
                                grantsOf(QStringLiteral("rs")));
    QCOMPARE(decision.status, status);
    QCOMPARE(decision.allow, allow);
    QCOMPARE(decision.route != nullptr, status == 0);
    if (!decision.route)
        return;
    QCOMPARE(decision.route->pattern, pattern);
    QCOMPARE(decision.route->access,
             grantsOf(access) == Accesses(Access::Read) ? Access::Read : Access::Switch);
    QVERIFY(decision.route->methods.testFlag(MethodNamed.value(method)));
    QHash<QString, QString> expected;
    for (const QString& pair : parts.split(QLatin1Char(';'), Qt::SkipEmptyParts))
        expected.insert(pair.section(QLatin1Char('='), 0, 0), pair.section(QLatin1Char('='), 1));
    QCOMPARE(decision.parts, expected);
}

void TestHttpRoutes::grants_data() {
    QTest::addColumn<QString>("granted");
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("status");

    // Without credentials, 401 whatever is asked: nothing tells what exists.
    QTest::newRow("nothing, a listing") << ""
                                        << "GET"
                                        << "/api/v1/units" << 401;
    QTest::newRow("nothing, a command") << ""
                                        << "POST"
                                        << "/api/v1/units/a/on" << 401;
    QTest::newRow("nothing, no such path") << ""
                                           << "GET"
                                           << "/nothing/here" << 401;
    QTest::newRow("nothing, wrong method") << ""
                                           << "POST"
                                           << "/metrics" << 401;
    // Reading only: every route that switches is refused, the rest is served.
    QTest::newRow("read, a listing") << "r"
                                     << "GET"
                                     << "/api/v1/units" << 0;
    QTest::newRow("read, metrics") << "r"
                                   << "HEAD"
                                   << "/metrics" << 0;
    QTest::newRow("read, value") << "r"
                                 << "GET"
                                 << "/api/v1/units/a/value" << 0;
    QTest::newRow("read, PUT value") << "r"
                                     << "PUT"
                                     << "/api/v1/units/a/value" << 403;
    QTest::newRow("read, command") << "r"
                                   << "POST"
                                   << "/api/v1/groups/g/off" << 403;
    QTest::newRow("read, PDUDaemon") << "r"
                                     << "GET"
                                     << "/power/control/on" << 403;
    QTest::newRow("read, no such path") << "r"
                                        << "GET"
                                        << "/nothing/here" << 404;
    QTest::newRow("read, wrong method") << "r"
                                        << "POST"
                                        << "/metrics" << 405;
    // Switching alone does not read.
    QTest::newRow("switch, a listing") << "s"
                                       << "GET"
                                       << "/api/v1/queue" << 403;
    QTest::newRow("switch, command") << "s"
                                     << "POST"
                                     << "/api/v1/units/a/on" << 0;
    QTest::newRow("both, PDUDaemon") << "rs"
                                     << "GET"
                                     << "/power/control/on" << 0;
}

void TestHttpRoutes::grants() {
    QFETCH(QString, granted);
    QFETCH(QString, method);
    QFETCH(QString, path);
    QFETCH(int, status);
    const RouteDecision decision = m_open->routes().decide(
        MethodNamed.value(method), kavio::service::pathSegments(QUrl(path)), grantsOf(granted));
    QCOMPARE(decision.status, status);
}

// The first pattern that fits owns the path, with every row of that same pattern; a literal
// segment wins by coming first, and a later row of another pattern never adds its methods.
void TestHttpRoutes::precedence() {
    RouteTable table;
    const RouteHandler nothing = [](const RouteCall&) {};
    table.add(Method::Get, QStringLiteral("/a/{x}/fixed"), Access::Read, nothing);
    table.add(Method::Delete, QStringLiteral("/a/{x}/fixed"), Access::Switch, nothing);
    table.add(Method::Post, QStringLiteral("/a/{x}/{y}"), Access::Switch, nothing);
    const Accesses all = grantsOf(QStringLiteral("rs"));

    RouteDecision decision = table.decide(Method::Post, {"a", "1", "fixed"}, all);
    QCOMPARE(decision.status, 405);
    QCOMPARE(decision.allow, QByteArray("GET, DELETE"));
    decision = table.decide(Method::Delete, {"a", "1", "fixed"}, all);
    QCOMPARE(decision.status, 0);
    QCOMPARE(decision.route, &table.routes()[1]);
    decision = table.decide(Method::Post, {"a", "1", "other"}, all);
    QCOMPARE(decision.status, 0);
    QCOMPARE(decision.route, &table.routes()[2]);
    QCOMPARE(decision.parts, (QHash<QString, QString>{{"x", "1"}, {"y", "other"}}));
    QCOMPARE(table.decide(Method::Get, {"a", "1"}, all).status, 404);
    QCOMPARE(table.decide(Method::Get, {"a", "1", "fixed", "more"}, all).status, 404);
    // "{}" names nothing: it is a literal segment.
    table.add(Method::Get, QStringLiteral("/b/{}"), Access::Read, nothing);
    QCOMPARE(table.decide(Method::Get, {"b", "x"}, all).status, 404);
    QCOMPARE(table.decide(Method::Get, {"b", "{}"}, all).status, 0);

    QCOMPARE(allowHeader(Methods(Method::Put) | Method::Head | Method::Get | Method::Post),
             QByteArray("GET, HEAD, POST, PUT"));
    QCOMPARE(allowHeader(Methods(Method::Trace) | Method::Options | Method::Patch),
             QByteArray("PATCH, OPTIONS, TRACE"));
}

void TestHttpRoutes::pathSegments_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QStringList>("segments");
    QTest::newRow("root") << "/" << QStringList();
    QTest::newRow("plain") << "/api/v1/units" << QStringList{"api", "v1", "units"};
    QTest::newRow("empty segments") << "/api///v1/" << QStringList{"api", "v1"};
    QTest::newRow("encoded slash and UTF-8")
        << "/units/rack%2Fb%20%C3%BC" << QStringList{"units", QString::fromUtf8("rack/b \xC3\xBC")};
    QTest::newRow("plus stays") << "/units/a+b" << QStringList{"units", "a+b"};
}

void TestHttpRoutes::pathSegments() {
    QFETCH(QString, path);
    QTEST(kavio::service::pathSegments(QUrl(path)), "segments");
}

void TestHttpRoutes::answers_data() {
    QTest::addColumn<bool>("guarded");       // the service with a token
    QTest::addColumn<QByteArray>("request"); // the request line without its version, headers
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("allow");
    QTest::addColumn<QByteArray>("type"); // the start of the Content-Type
    QTest::addColumn<QByteArray>("body"); // a part of the body; empty: no body

    // "\n\n" parts a request's head from its content.
    const QByteArray json = "application/json";
    const QByteArray text = "text/plain";
    auto row = [&](const char* name, bool guarded, const QByteArray& request, int status,
                   const QByteArray& type, const QByteArray& body,
                   const QByteArray& allow = QByteArray()) {
        const qsizetype split = request.indexOf("\n\n");
        QTest::newRow(name) << guarded << (split < 0 ? request : request.left(split))
                            << (split < 0 ? QByteArray() : request.mid(split + 2)) << status
                            << allow << type << body;
    };
    const bool open = false;
    const bool guarded = true;
    row("units", open, "GET /api/v1/units", 200, json, R"("name":"near")");
    row("unit", open, "GET /api/v1/units/near", 200, json, R"("name": "near")");
    row("unit, HEAD", open, "HEAD /api/v1/units/near", 200, json, "");
    row("no unit", open, "GET /api/v1/units/nobody", 404, json, "no unit named 'nobody'");
    row("groups", open, "GET /api/v1/groups", 200, json, R"("name": "empty")");
    row("bad limit", open, "GET /api/v1/groups?limit=0", 400, json,
        "'limit' takes a number from 1 to 10000, not '0'");
    row("bad offset", open, "GET /api/v1/units?offset=-1", 400, json,
        "'offset' takes a number from 0, not '-1'");
    row("unknown parameter", open, "GET /api/v1/units?page=2", 400, json,
        "unknown parameter 'page'");
    row("queue", open, "GET /api/v1/queue", 200, json, R"("count": 0)");
    row("queue's limit", open, "GET /api/v1/queue?limit=1001", 400, json, "from 1 to 1000,");
    row("history", open, "GET /api/v1/history", 200, json, "[");
    // A unit of the store with no rows kept yet: an empty history, not an unknown name.
    row("history of a unit", open, "GET /api/v1/history?unit=near", 200, json, "[\n]");
    row("history, no group", open, "GET /api/v1/history?group=nobody", 404, json,
        "no group is named 'nobody'");
    row("history, no source", open, "GET /api/v1/history?source=cron", 400, json,
        "'cron' is no source");
    row("metrics", open, "GET /metrics", 200, "text/plain; version=0.0.4", "kavio_unit_status{");
    row("metrics, POST", open, "POST /metrics", 405, text, "Method not allowed", "GET, HEAD");
    row("value", open, "GET /api/v1/units/near/value", 200, text, "0");
    row("value, no unit", open, "GET /api/v1/units/nobody/value", 404, text,
        "no unit named 'nobody'");
    row("value, not 0 or 1", open, "PUT /api/v1/units/near/value\n\n2", 400, text,
        "The value is 1 (on) or 0 (off)");
    row("value, POST", open, "POST /api/v1/units/near/value", 405, text, "Method not allowed",
        "GET, HEAD, PUT");
    row("unknown command", open, "POST /api/v1/units/near/explode", 400, json,
        "unknown command 'explode'");
    row("command, no unit", open, "POST /api/v1/units/nobody/on", 404, json,
        "no unit named 'nobody'");
    row("command, no group", open, "POST /api/v1/groups/nobody/on", 404, json,
        "no group named 'nobody'");
    row("command, empty group", open, "POST /api/v1/groups/empty/on", 404, json,
        R"(the group \"empty\" has no units)");
    row("command, GET", open, "GET /api/v1/units/near/on", 405, text, "Method not allowed", "POST");
    row("PDUDaemon, no unit", open, "GET /power/control/on?hostname=nobody&port=1", 503, text,
        "Unknown unit 'nobody'");
    row("PDUDaemon, no command", open, "GET /power/control/cycle?hostname=near&port=1", 503, text,
        "Unknown command 'cycle': on, off or reboot");
    row("PDUDaemon, port", open, "GET /power/control/on?hostname=near&port=2", 503, text,
        "Bad port '2'");
    row("PDUDaemon, delay", open, "GET /power/control/reboot?alias=near&delay=86401", 503, text,
        "Bad delay: a whole number of seconds from 0 to 86400");
    row("PDUDaemon, no name", open, "GET /power/control/on?port=1", 503, text,
        "Missing hostname and port, or alias");
    row("PDUDaemon, twice", open, "GET /power/control/on?alias=a&alias=b", 400, text,
        "'alias' is given twice");
    // Commands that reach the queue, for a unit that cannot be reached.
    row("value, switched", open, "PUT /api/v1/units/gone/value\n\n1", 502, text, "FAILED: gone");
    row("command", open, "POST /api/v1/units/gone/query", 502, json, R"("status": "FAILED")");
    row("PDUDaemon, port with a zero", open, "GET /power/control/off?hostname=gone&port=01", 502,
        text, "FAILED: gone");
    row("PDUDaemon, shared address", open, "GET /power/control/on?hostname=127.0.0.1&port=1", 503,
        text, "Address 127.0.0.1 is shared by the units gone, near: name one");
    row("PDUDaemon, an alias is a name", open, "GET /power/control/on?alias=127.0.0.1", 503, text,
        "Unknown unit '127.0.0.1'");
    row("PDUDaemon, HEAD", open, "HEAD /power/control/on?hostname=near&port=1", 405, text, "",
        "GET");
    row("no such path", open, "GET /nothing/here", 404, json, R"("error": "no such resource")");
    row("no such path, DELETE", open, "DELETE /nothing/here", 404, json, "no such resource");
    row("PDUDaemon's root", open, "GET /power/control", 404, json, "no such resource");
    row("API root", open, "GET /api/v1", 404, json, "no such resource");
    row("too deep", open, "POST /api/v1/units/near/on/now", 404, json, "no such resource");
    row("other Host", open, "GET /api/v1/units\r\nHost: evil.example", 421, text,
        "does not answer for that Host");
    row("other site", open, "GET /api/v1/units\r\nOrigin: http://evil.example", 403, text,
        "Requests from other sites are refused");
    // Only a plain HTTP/1.0 client may leave the Host out.
    row("HTTP/1.0 without Host", open, "GET /api/v1/units/near HTTP/1.0\r\nHost:", 200, json,
        R"("name": "near")");
    row("HTTP/1.0, other Host", open, "GET /metrics HTTP/1.0\r\nHost: evil.example", 421, text,
        "does not answer for that Host");
    row("HTTP/1.1 without Host", open, "GET /api/v1/units/near\r\nHost:", 421, text,
        "does not answer for that Host");
    row("no token", guarded, "GET /api/v1/units", 401, text, "Unauthorized");
    row("no token, no such path", guarded, "GET /nothing/here", 401, text, "Unauthorized");
    row("no token, wrong method", guarded, "POST /metrics", 401, text, "Unauthorized");
    row("wrong token", guarded, "GET /metrics\r\nAuthorization: Bearer t0ken-valuf", 401, text,
        "Unauthorized");
    row("token", guarded, "GET /api/v1/units/near\r\nAuthorization: Bearer t0ken-value", 200, json,
        R"("name": "near")");
    row("token, no such path", guarded, "GET /nothing\r\nAuthorization: bearer t0ken-value", 404,
        json, "no such resource");
    row("token, wrong method", guarded, "POST /metrics\r\nAuthorization: Bearer t0ken-value", 405,
        text, "Method not allowed", "GET, HEAD");
}

void TestHttpRoutes::answers() {
    QFETCH(bool, guarded);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, content);
    QFETCH(int, status);
    QFETCH(QByteArray, allow);
    QFETCH(QByteArray, type);
    QFETCH(QByteArray, body);
    const quint16 port = guarded ? m_guarded->port() : m_open->port();
    QByteArray head = request;
    if (!head.left(head.indexOf("\r\n")).endsWith("HTTP/1.0"))
        head.insert(head.contains("\r\n") ? head.indexOf("\r\n") : head.size(), " HTTP/1.1");
    if (!head.contains("\r\nHost:"))
        head += "\r\nHost: 127.0.0.1:" + QByteArray::number(port);
    if (!content.isEmpty())
        head += "\r\nContent-Length: " + QByteArray::number(content.size());
    head += "\r\nConnection: close\r\n\r\n" + content;
    const Answer answer = exchange(port, head);
    QCOMPARE(answer.status, status);
    QCOMPARE(answer.headers.value("allow"), allow);
    QVERIFY2(answer.headers.value("content-type").startsWith(type),
             answer.headers.value("content-type").constData());
    if (body.isEmpty())
        QCOMPARE(answer.body, QByteArray());
    else
        QVERIFY2(answer.body.contains(body), answer.body.constData());
    QCOMPARE(answer.headers.contains("www-authenticate"), status == 401);
}

void TestHttpRoutes::listenRefusals_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("portTaken");
    QTest::addColumn<QString>("tokenFile");
    QTest::addColumn<QString>("certificate");
    QTest::addColumn<QString>("problem");

    QTest::newRow("off loopback without a token")
        << "192.0.2.7" << false << QString() << QString() << "needs --http-token-file";
    QTest::newRow("port taken") << "127.0.0.1" << true << QString() << QString()
                                << "HTTP cannot listen on 127.0.0.1:";
    QTest::newRow("no token file")
        << "127.0.0.1" << false << "missing-token" << QString() << "cannot be read";
    QTest::newRow("no certificate") << "127.0.0.1" << false << QString() << "missing-cert.pem"
                                    << "the TLS certificate or key cannot be read";
}

// A start the endpoint refuses opens nothing and says why.
void TestHttpRoutes::listenRefusals() {
    QFETCH(QString, address);
    QFETCH(bool, portTaken);
    QFETCH(QString, tokenFile);
    QFETCH(QString, certificate);
    QFETCH(QString, problem);
    ServiceOptions options;
    options.httpAddress = QHostAddress(address);
    options.httpPort = portTaken ? m_open->port() : 0;
    options.http = address + QLatin1Char(':') + QString::number(options.httpPort);
    if (!tokenFile.isEmpty())
        options.tokenFile = m_database->dir.filePath(tokenFile);
    if (!certificate.isEmpty()) {
        options.tlsCert = m_database->dir.filePath(certificate);
        options.tlsKey = m_database->dir.filePath(QStringLiteral("missing-key.pem"));
    }
    QObject owner;
    HttpEndpoint endpoint;
    QString said;
    QVERIFY(!endpoint.listen(options, &owner, said));
    QVERIFY2(said.contains(problem), qPrintable(said));
    QCOMPARE(endpoint.server(), nullptr);
    QCOMPARE(endpoint.port(), quint16(0));
    QVERIFY(owner.children().isEmpty());
}

// A reboot's off is queued at once, its on only once the off has ended and the delay has passed;
// nothing of it stays behind.
void TestHttpRoutes::reboots() {
    const quint16 unit = m_gone;
    constexpr int DelayMs = 2000;
    DelayedReboots reboots(*m_engine);
    QList<quint8> tasks;
    QList<qint64> endedMs;
    QElapsedTimer clock;
    clock.start();
    QObject context;
    connect(m_engine.get(), &TCommandEngine::exchangeFinished, &context,
            [&](const TCommandResult& result) {
                if (result.Index == unit) {
                    tasks << result.Task;
                    endedMs << clock.elapsed();
                }
            });
    reboots.start(unit, DelayMs);
    QCOMPARE(reboots.count(), 1);
    QCOMPARE(reboots.first(0).size(), 0);
    QCOMPARE(reboots.first(5).size(), 1);
    QCOMPARE(reboots.first(5)[0].index, unit);
    QCOMPARE(reboots.first(5)[0].dueMs, qint64(0)); // the off is not done yet

    QVERIFY(QTest::qWaitFor([&] { return !tasks.isEmpty(); }, 20000));
    const qint64 offEnded = QDateTime::currentMSecsSinceEpoch();
    QCOMPARE(tasks, QList<quint8>{TaskPowerOff});
    QCOMPARE(reboots.count(), 1);
    const qint64 due = reboots.first(1).value(0).dueMs;
    QVERIFY2(due > offEnded + DelayMs / 2 && due <= offEnded + DelayMs,
             qPrintable(QString::number(due - offEnded)));

    QVERIFY(QTest::qWaitFor([&] { return tasks.size() == 2; }, 20000));
    QCOMPARE(tasks, (QList<quint8>{TaskPowerOff, TaskPowerOn}));
    QVERIFY2(endedMs[1] - endedMs[0] >= DelayMs - 50,
             qPrintable(QString::number(endedMs[1] - endedMs[0])));
    QCOMPARE(reboots.count(), 0);
    QTRY_VERIFY(reboots.findChildren<QTimer*>().isEmpty());
}

// A store that cannot be read is answered 500 with the reason, and the next request is served
// once it can be read again.
void TestHttpRoutes::storeFault() {
    QSqlQuery sql(Database::connection());
    QVERIFY2(sql.exec(QStringLiteral(R"(ALTER TABLE "Master" RENAME TO "Hidden")")),
             qPrintable(sql.lastError().text()));
    const QByteArray request =
        "GET /api/v1/units/near HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(m_open->port()) +
        "\r\nConnection: close\r\n\r\n";
    const Answer broken = exchange(m_open->port(), request);
    QVERIFY(sql.exec(QStringLiteral(R"(ALTER TABLE "Hidden" RENAME TO "Master")")));
    QCOMPARE(broken.status, 500);
    QCOMPARE(broken.headers.value("content-type"), QByteArray("application/json"));
    QVERIFY2(broken.body.contains(R"("error")") && broken.body.contains("Master"),
             broken.body.constData());
    QCOMPARE(exchange(m_open->port(), request).status, 200);
}

QTEST_GUILESS_MAIN(TestHttpRoutes)
#include "test_http_routes.moc"
