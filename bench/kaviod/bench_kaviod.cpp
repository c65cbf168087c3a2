// What kaviod's HTTP interface costs: the time from a PDUDaemon request to the start of the
// unit's exchange (the queue idle, so its pacing adds nothing), the rate of GET /api/v1/units for
// 1,000 units on one keep-alive connection, the resident memory of kaviod serving 65,535, and
// with those 65,535 and their first poll queued, how long each large answer takes and how long
// it holds the event loop that runs the exchanges.
#include "BenchSupport.h"
#include "Database.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

using namespace kavio;
using namespace kavio::bench;

namespace {

QString binary(const char* name) {
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(name);
}

// A database of `count` units on `port` of 127.0.0.1 (a closed port refuses at once), the first
// on `firstPort` when given.
QString makeDatabase(const QTemporaryDir& dir, const QString& name, int count, quint16 port,
                     quint16 firstPort = 0) {
    const QString path = dir.filePath(name);
    Database::open(path);
    QSqlDatabase db = Database::connection();
    db.transaction();
    QSqlQuery insert(db);
    insert.prepare(QStringLiteral("INSERT INTO \"Master\" (\"Name\", \"IPAddress\", \"Port\", "
                                  "\"Password\") VALUES (?, '127.0.0.1', ?, 'pw')"));
    for (int unit = 1; unit <= count; ++unit) {
        insert.addBindValue(QStringLiteral("unit %1").arg(unit, 5, 10, QLatin1Char('0')));
        insert.addBindValue(unit == 1 && firstPort ? firstPort : port);
        insert.exec();
    }
    db.commit();
    Database::close();
    return path;
}

// The Host of every request: the service answers only its own address and port.
QByteArray hostHeader;

struct Service {
    QProcess process;
    quint16 port = 0;

    // The log goes to a file: a pipe nobody reads would stop the service once full.
    explicit Service(const QString& database) {
        const QString log = database + QStringLiteral(".log");
        process.setStandardErrorFile(log);
        process.start(binary("kaviod"), {QStringLiteral("--database"), database,
                                         QStringLiteral("--http"), QStringLiteral("127.0.0.1:0")});
        static const QRegularExpression listening(QStringLiteral("HTTP on 127\\.0\\.0\\.1:(\\d+)"));
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 20000) {
            QFile file(log);
            file.open(QIODevice::ReadOnly);
            const auto match = listening.match(QString::fromUtf8(file.readAll()));
            if (match.hasMatch()) {
                port = quint16(match.captured(1).toUInt());
                hostHeader = "127.0.0.1:" + QByteArray::number(port);
                return;
            }
            QThread::msleep(20);
        }
        qFatal("kaviod did not start");
    }
    ~Service() {
        process.terminate();
        process.waitForFinished(10000);
    }
    qint64 rssKb(const char* field) const {
        QFile status(QStringLiteral("/proc/%1/status").arg(process.processId()));
        status.open(QIODevice::ReadOnly);
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith(field))
                return line.mid(qstrlen(field)).trimmed().split(' ').first().toLongLong();
        }
        return 0;
    }
};

// Sends one request on `socket` and reads its whole response; false on failure.
bool exchange(QTcpSocket& socket, const QByteArray& request) {
    socket.write(request);
    QByteArray response;
    qsizetype headEnd = -1;
    qint64 length = -1;
    while (true) {
        if (!socket.waitForReadyRead(10000))
            return false;
        response += socket.readAll();
        if (headEnd < 0) {
            headEnd = response.indexOf("\r\n\r\n");
            if (headEnd < 0)
                continue;
            const qsizetype at = response.indexOf("Content-Length: ");
            length = response.mid(at + 16, response.indexOf("\r\n", at) - at - 16).toLongLong();
        }
        if (response.size() >= headEnd + 4 + length)
            return response.startsWith("HTTP/1.1 200");
    }
}

// Sends one request and gives the body of its response (empty on failure).
QByteArray fetch(QTcpSocket& socket, const QByteArray& path) {
    socket.write("GET " + path + " HTTP/1.1\r\nHost: " + hostHeader + "\r\n\r\n");
    QByteArray response;
    qsizetype headEnd = -1;
    qint64 length = -1;
    while (socket.waitForReadyRead(30000)) {
        response += socket.readAll();
        if (headEnd < 0) {
            headEnd = response.indexOf("\r\n\r\n");
            if (headEnd < 0)
                continue;
            const qsizetype at = response.indexOf("Content-Length: ");
            length = response.mid(at + 16, response.indexOf("\r\n", at) - at - 16).toLongLong();
        }
        if (response.size() >= headEnd + 4 + length)
            return response.mid(headEnd + 4);
    }
    return {};
}

// The last record made a group of all the others, so that the groups' listing has 65,534
// members to name (the keys end at 65,535).
void addGroupOfAll(const QString& path) {
    Database::open(path);
    {
        QSqlQuery add(Database::connection());
        add.exec(QStringLiteral(
            R"(UPDATE "Master" SET "Name" = 'all', "Group" = 1 WHERE "Index" = 65535)"));
        add.exec(QStringLiteral(R"(INSERT INTO "Group" ("GroupIndex", "Index") SELECT 65535,
 "Index" FROM "Master" WHERE "Group" = 0)"));
    }
    Database::close();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_RUNTIME_DIR"}) {
        const QString folder = dir.filePath(QString::fromLatin1(name));
        QDir().mkpath(folder);
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ExeOwner);
        qputenv(name, QFile::encodeName(folder));
    }
    bool met = true;

    // A unit of our own that notes when a connection reaches it and answers ON; it is the first
    // of `units` (the others refuse at once on port 1).
    for (const int units : {1, 1000}) {
        QTcpServer unit;
        unit.listen(QHostAddress(QStringLiteral("127.0.0.1")));
        QElapsedTimer clock;
        clock.start();
        double reached = 0;
        QObject::connect(&unit, &QTcpServer::newConnection, [&] {
            reached = millisecondsOf(clock);
            QTcpSocket* socket = unit.nextPendingConnection();
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                if (socket->readAll().endsWith('\r')) {
                    socket->write("ON");
                    socket->disconnectFromHost();
                }
            });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        });
        Service service(makeDatabase(dir, QStringLiteral("latency%1.db").arg(units), units, 1,
                                     unit.serverPort()));
        QTcpSocket client;
        client.connectToHost(QHostAddress(QStringLiteral("127.0.0.1")), service.port);
        client.waitForConnected(5000);
        // Past the first poll of every unit.
        QEventLoop settle;
        QTimer::singleShot(1000 + 3 * units, &settle, &QEventLoop::quit);
        settle.exec();
        std::vector<double> delays;
        for (int round = 0; round < 40; ++round) {
            // Past the pause after each exchange: the queue is idle.
            QEventLoop pause;
            QTimer::singleShot(300, &pause, &QEventLoop::quit);
            pause.exec();
            reached = 0;
            const double sent = millisecondsOf(clock);
            client.write("GET /power/control/on?hostname=unit%2000001&port=1 HTTP/1.1\r\n"
                         "Host: " +
                         hostHeader + "\r\n\r\n");
            QEventLoop wait;
            QObject::connect(&unit, &QTcpServer::newConnection, &wait, &QEventLoop::quit,
                             Qt::QueuedConnection);
            QTimer::singleShot(5000, &wait, &QEventLoop::quit);
            wait.exec();
            client.readAll();
            if (reached > 0)
                delays.push_back(reached - sent);
        }
        const QByteArray what =
            "Request to exchange start, idle, " + QByteArray(units == 1 ? "1 unit" : "1,000 units");
        met &= report((what + ", median").constData(), median(delays), "ms", 5);
        met &= report((what + ", worst of 40").constData(), maximum(delays), "ms", 5);
    }

    {
        Service service(makeDatabase(dir, QStringLiteral("thousand.db"), 1000, 1));
        QTcpSocket client;
        client.connectToHost(QHostAddress(QStringLiteral("127.0.0.1")), service.port);
        client.waitForConnected(5000);
        const QByteArray request = "GET /api/v1/units HTTP/1.1\r\nHost: " + hostHeader + "\r\n\r\n";
        exchange(client, request);
        constexpr int Requests = 1000;
        QElapsedTimer clock;
        clock.start();
        int answered = 0;
        for (int round = 0; round < Requests; ++round)
            answered += exchange(client, request) ? 1 : 0;
        const double rate = answered / (millisecondsOf(clock) / 1000.0);
        met &= reportAtLeast("GET /api/v1/units of 1,000 units, one connection", rate, "1/s", 500);
    }

    // A history of a million rows read with a filter no index serves (a source that none has),
    // while another connection keeps asking for the queue: the loop that serves the queue must
    // not wait for the read.
    {
        const QString path = makeDatabase(dir, QStringLiteral("history.db"), 1, 1);
        Database::open(path);
        QSqlQuery(Database::connection())
            .exec(QStringLiteral(R"(INSERT INTO "History" ("Time", "Index", "Name", "IPAddress",
 "Port", "Command", "Task", "Source", "Reply", "Status", "Outcome", "Duration")
 WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1000000)
 SELECT %1 - i * 10, 1, 'unit 00001', '127.0.0.1', 1, 'q', 5, 'poll', 'ON', 0, 'answered', 3
 FROM n)")
                      .arg(QDateTime::currentMSecsSinceEpoch()));
        Database::close();
        Service service(path);
        QTcpSocket reader;
        QTcpSocket prober;
        for (QTcpSocket* socket : {&reader, &prober}) {
            socket->connectToHost(QHostAddress(QStringLiteral("127.0.0.1")), service.port);
            socket->waitForConnected(5000);
        }
        const QByteArray probe = "GET /api/v1/queue HTTP/1.1\r\nHost: " + hostHeader + "\r\n\r\n";
        exchange(prober, probe);
        QThread::sleep(1); // past the first poll
        // The same probes for a while with no read, for comparison: the machine's own noise.
        std::vector<double> quiet;
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 300) {
            QElapsedTimer one;
            one.start();
            exchange(prober, probe);
            quiet.push_back(millisecondsOf(one));
        }
        clock.restart();
        reader.write("GET /api/v1/history?source=http HTTP/1.1\r\nHost: " + hostHeader +
                     "\r\n\r\n");
        reader.flush();
        std::vector<double> probes;
        double answered = 0;
        while (answered == 0 && clock.elapsed() < 30000) {
            QElapsedTimer one;
            one.start();
            exchange(prober, probe);
            probes.push_back(millisecondsOf(one));
            if (reader.waitForReadyRead(0))
                answered = millisecondsOf(clock);
        }
        std::printf("History of 1,000,000 rows, a source none has: answered in %.0f ms\n",
                    answered);
        std::printf("GET /api/v1/queue with no history read, worst %.3f ms\n", maximum(quiet));
        met &= report("GET /api/v1/queue during that read, worst", maximum(probes), "ms", 20);
    }

    {
        const QString path = makeDatabase(dir, QStringLiteral("all.db"), 65535, 1);
        addGroupOfAll(path);
        Service service(path);
        // The first poll queues a query for every unit; give it time to be under way.
        QThread::sleep(5);
        met &= report("kaviod resident memory, 65,535 records (a group of all), peak after 5 s",
                      service.rssKb("VmHWM:") / 1024.0, "MB", 100);

        // The large answers while the first poll's queue is long: each is timed alone, then
        // again while another connection keeps reading one unit, whose worst wait is what the
        // large answer held the exchanges' event loop for.
        QTcpSocket big;
        QTcpSocket prober;
        for (QTcpSocket* socket : {&big, &prober}) {
            socket->connectToHost(QHostAddress(QStringLiteral("127.0.0.1")), service.port);
            socket->waitForConnected(5000);
        }
        const QByteArray probe = "/api/v1/units/unit%2032768";
        fetch(prober, probe);
        const QJsonObject queue =
            QJsonDocument::fromJson(fetch(big, "/api/v1/queue?limit=1")).object();
        std::printf("Queue length during the measures: %lld (first poll of 65,534 units)\n",
                    queue.value(QStringLiteral("count")).toVariant().toLongLong());
        // The same reads for a while with no large answer, for comparison: the machine's and
        // the exchanges' own noise.
        {
            std::vector<double> quiet;
            QElapsedTimer clock;
            clock.start();
            while (clock.elapsed() < 2000) {
                QElapsedTimer one;
                one.start();
                fetch(prober, probe);
                quiet.push_back(millisecondsOf(one));
            }
            std::printf("One unit read with no large answer, median %.3f ms, worst %.3f ms\n",
                        median(quiet), maximum(quiet));
        }
        for (const QByteArray& path :
             {QByteArray("/api/v1/units/unit%2065534"), QByteArray("/api/v1/queue"),
              QByteArray("/api/v1/units"), QByteArray("/api/v1/units?limit=10000&offset=55535"),
              QByteArray("/api/v1/groups"), QByteArray("/metrics")}) {
            QElapsedTimer alone;
            alone.start();
            const qsizetype bytes = fetch(big, path).size();
            const double took = millisecondsOf(alone);
            std::vector<double> probes;
            for (int round = 0; round < 3; ++round) {
                big.write("GET " + path + " HTTP/1.1\r\nHost: " + hostHeader + "\r\n\r\n");
                big.flush();
                QByteArray answer;
                QElapsedTimer clock;
                clock.start();
                // Until the whole answer is in (its length is known from the first time).
                while (answer.size() < bytes && clock.elapsed() < 30000) {
                    QElapsedTimer one;
                    one.start();
                    fetch(prober, probe);
                    probes.push_back(millisecondsOf(one));
                    if (big.waitForReadyRead(0) || big.bytesAvailable())
                        answer += big.readAll();
                }
                while (!answer.contains("\r\n\r\n") ||
                       answer.size() - answer.indexOf("\r\n\r\n") - 4 < bytes) {
                    if (!big.waitForReadyRead(30000))
                        break;
                    answer += big.readAll();
                }
            }
            std::printf("GET %s: %lld bytes in %.1f ms\n", path.constData(),
                        static_cast<long long>(bytes), took);
            met &= report(("One unit read meanwhile, worst, during GET " + path).constData(),
                          maximum(probes), "ms", 20);
        }
    }
    return met ? 0 : 1;
}
