// The kaviosim program, run as a separate process the way a user or a benchmark runs it.

#include "LoopbackClient.h"
#include "UnitSim.h"

#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTest>

namespace {

const QString Program = QStringLiteral(KAVIOSIM_PATH);

// Runs kaviosim with `arguments` to its end; stdout and stderr are kept apart.
struct FinishedRun {
    int exitCode = -1;
    QProcess::ExitStatus exitStatus = QProcess::CrashExit;
    QByteArray out;
    QByteArray err;
    bool finished = false;
};

FinishedRun runToEnd(const QStringList& arguments) {
    QProcess process;
    QSignalSpy finished(&process, &QProcess::finished);
    process.start(Program, arguments);
    FinishedRun run;
    run.finished = finished.wait(20000);
    if (!run.finished) {
        process.kill();
        finished.wait(5000);
        return run;
    }
    run.exitCode = process.exitCode();
    run.exitStatus = process.exitStatus();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

// A kaviosim that keeps serving; collects its output as it comes.
class ServingProcess {
public:
    explicit ServingProcess(const QStringList& arguments) {
        QObject::connect(&process, &QProcess::readyReadStandardOutput, &process,
                         [this] { out += process.readAllStandardOutput(); });
        process.start(Program, arguments);
    }
    ~ServingProcess() {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            QSignalSpy(&process, &QProcess::finished).wait(5000);
        }
    }

    bool waitForOutput(const QByteArray& text, int timeoutMs = 10000) {
        return QTest::qWaitFor([&] { return out.contains(text); }, timeoutMs);
    }

    // Ports from the "Unit N listening on ADDRESS:PORT" lines, in unit order.
    QList<quint16> listeningPorts() const {
        static const QRegularExpression line(
            QStringLiteral("^Unit (\\d+) listening on 127\\.0\\.0\\.1:(\\d+)$"),
            QRegularExpression::MultilineOption);
        QList<quint16> ports;
        auto matches = line.globalMatch(QString::fromUtf8(out));
        while (matches.hasNext()) {
            const auto match = matches.next();
            if (match.captured(1).toInt() != ports.size() + 1) {
                return {};
            }
            ports << match.captured(2).toUShort();
        }
        return ports;
    }

    QProcess process;
    QByteArray out;
};

} // namespace

class TestKaviosim : public QObject {
    Q_OBJECT

private slots:
    void sqlStatements();
    void sqlLoadsIntoTheMasterTable();
    void badArguments_data();
    void badArguments();
    void takenPortIsReported();
    void servesLogsAndQuitsOnSigterm();
    void quietServesWithoutOutput();
};

void TestKaviosim::sqlStatements() {
    const FinishedRun run = runToEnd({"--sql", "--count", "3", "--base-port", "6000", "--password",
                                      "it's", "--behaviour", "busy"});
    QVERIFY(run.finished);
    QCOMPARE(run.exitStatus, QProcess::NormalExit);
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.err, QByteArray());
    const QByteArray prefix = R"(INSERT INTO "Master" ("Name","IPAddress","Port","Password") )";
    QCOMPARE(run.out.split('\n'), (QList<QByteArray>{
                                      prefix + "VALUES ('Sim unit 1','127.0.0.1',6000,'it''s');",
                                      prefix + "VALUES ('Sim unit 2','127.0.0.1',6001,'it''s');",
                                      prefix + "VALUES ('Sim unit 3','127.0.0.1',6002,'it''s');",
                                      "",
                                  }));
}

void TestKaviosim::sqlLoadsIntoTheMasterTable() {
    const FinishedRun run = runToEnd({"--sql", "--count", "2", "--base-port", "5001", "--password",
                                      "a'b\"c", "--address", "127.0.0.1"});
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 0);

    {
        auto db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("sqltest"));
        db.setDatabaseName(QStringLiteral(":memory:"));
        QVERIFY(db.open());
        QSqlQuery query(db);
        QVERIFY2(query.exec(R"(CREATE TABLE "Master" ("Index" INTEGER PRIMARY KEY AUTOINCREMENT,
                 "Name" TEXT, "IPAddress" TEXT, "Port" INTEGER, "Password" TEXT,
                 "Group" BOOLEAN DEFAULT 0, "Timer" BOOLEAN DEFAULT 0, "Status" INTEGER DEFAULT 3,
                 "Checked" BOOLEAN DEFAULT 0))"),
                 qPrintable(query.lastError().text()));
        for (const QByteArray& statement : run.out.split('\n')) {
            if (!statement.isEmpty()) {
                QVERIFY2(query.exec(QString::fromUtf8(statement)),
                         qPrintable(query.lastError().text()));
            }
        }
        QVERIFY(query.exec(R"(SELECT "Name","IPAddress","Port","Password","Group" FROM "Master"
                              ORDER BY "Index")"));
        QStringList rows;
        while (query.next()) {
            rows << QStringLiteral("%1|%2|%3|%4|%5")
                        .arg(query.value(0).toString(), query.value(1).toString())
                        .arg(query.value(2).toInt())
                        .arg(query.value(3).toString())
                        .arg(query.value(4).toInt());
        }
        QCOMPARE(rows, (QStringList{"Sim unit 1|127.0.0.1|5001|a'b\"c|0",
                                    "Sim unit 2|127.0.0.1|5002|a'b\"c|0"}));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("sqltest"));
}

void TestKaviosim::badArguments_data() {
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("count zero") << QStringList{"--count", "0"};
    QTest::newRow("count not a number") << QStringList{"--count", "many"};
    QTest::newRow("port too big") << QStringList{"--base-port", "70000"};
    QTest::newRow("ports run out") << QStringList{"--count", "3", "--base-port", "65534"};
    QTest::newRow("unknown behaviour") << QStringList{"--behaviour", "teleport"};
    QTest::newRow("address not an address") << QStringList{"--address", "nowhere"};
    QTest::newRow("negative delay") << QStringList{"--delay", "-5"};
    QTest::newRow("negative cycles") << QStringList{"--cycles", "-1"};
    QTest::newRow("malformed reply escape") << QStringList{"--reply", "on\\q"};
    QTest::newRow("sql without fixed port") << QStringList{"--sql", "--base-port", "0"};
    QTest::newRow("unknown option") << QStringList{"--colour", "red"};
    QTest::newRow("stray argument") << QStringList{"extra"};
    QTest::newRow("missing value") << QStringList{"--count"};
}

void TestKaviosim::badArguments() {
    QFETCH(QStringList, arguments);
    const FinishedRun run = runToEnd(arguments);
    QVERIFY(run.finished);
    QCOMPARE(run.exitStatus, QProcess::NormalExit);
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.startsWith("kaviosim: "), run.err.constData());
    QCOMPARE(run.out, QByteArray());
}

void TestKaviosim::takenPortIsReported() {
    QTcpServer blocker;
    QVERIFY(blocker.listen(QHostAddress::LocalHost, 0));
    const FinishedRun run = runToEnd({"--base-port", QString::number(blocker.serverPort())});
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains(QByteArray::number(blocker.serverPort())), run.err.constData());
}

void TestKaviosim::servesLogsAndQuitsOnSigterm() {
    ServingProcess sim({"--count", "2", "--base-port", "0", "--behaviour", "on", "--password", "pw",
                        "--preamble", "hi\\r\\n"});
    QVERIFY(sim.waitForOutput("Unit 2 listening on"));
    const QList<quint16> ports = sim.listeningPorts();
    QCOMPARE(ports.size(), 2);
    QVERIFY(ports[0] != ports[1]);

    QCOMPARE(exchange(ports[0], kavio::sim::CommandFrame::encode("pw", 'q')),
             QByteArray("hi\r\nON"));
    QVERIFY(sim.waitForOutput(
        QStringLiteral("127.0.0.1:%1 <- q, answered ON\n").arg(ports[0]).toUtf8()));
    bool closed = false;
    QCOMPARE(exchange(ports[1], kavio::sim::CommandFrame::encode("PW", 'n'), &closed),
             QByteArray("hi\r\n"));
    QVERIFY(closed);
    QVERIFY(sim.waitForOutput(
        QStringLiteral("127.0.0.1:%1 <- n, wrong password").arg(ports[1]).toUtf8()));

    QSignalSpy finished(&sim.process, &QProcess::finished);
    sim.process.terminate();
    QVERIFY(finished.wait(10000));
    QCOMPARE(sim.process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.process.exitCode(), 0);
}

void TestKaviosim::quietServesWithoutOutput() {
    // Pick a port for it, since a quiet simulator does not say where it listens.
    quint16 port = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        port = probe.serverPort();
    }
    ServingProcess sim({"--quiet", "--base-port", QString::number(port)});
    bool answered = QTest::qWaitFor(
        [&] { return exchange(port, kavio::sim::CommandFrame::encode({}, 'n')) == "ON"; }, 10000);
    QVERIFY(answered);
    QTest::qWait(200);
    QCOMPARE(sim.out, QByteArray());

    QSignalSpy finished(&sim.process, &QProcess::finished);
    sim.process.terminate();
    QVERIFY(finished.wait(10000));
    QCOMPARE(sim.process.exitCode(), 0);
}

QTEST_MAIN(TestKaviosim)
#include "test_kaviosim.moc"
