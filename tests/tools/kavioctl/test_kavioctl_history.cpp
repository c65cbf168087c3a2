// kavioctl history, run as the real program on a known History table; and the rows its own
// exchange leaves, also when it is killed in the middle.
#include "Codes.h"
#include "Database.h"
#include "HistoryWriter.h"
#include "LoopbackUnits.h"
#include "SqliteTool.h"
#include "TempDatabase.h"
#include "UnitSim.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace kavio;
using kavio::sim::Behaviour;
using kavio::sim::SimulatedUnit;
using kavio::sim::UnitConfig;
using test::behaving;
using test::runSqliteTool;
using test::TempDatabase;

namespace {

constexpr int Patience = 30000;

struct Run {
    int exitCode = -1;
    QStringList out;
    QString err;
};

} // namespace

class TestKavioctlHistory : public QObject {
    Q_OBJECT

    QTemporaryDir runtime;
    std::unique_ptr<TempDatabase> db;
    qint64 now = 0;

    Run kavioctl(const QStringList& arguments) {
        QProcess process;
        QSignalSpy finished(&process, &QProcess::finished);
        process.start(QStringLiteral(KAVIOCTL_PATH),
                      QStringList{QStringLiteral("--database"), db->path} + arguments);
        Run run;
        // The simulated units live in this process: its event loop runs while kavioctl does.
        if (!finished.wait(Patience))
            return run;
        run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
        run.out = QString::fromUtf8(process.readAllStandardOutput())
                      .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        run.err = QString::fromUtf8(process.readAllStandardError());
        return run;
    }

    // The unit and source columns of each line of the default output.
    static QStringList unitsAndSources(const QStringList& lines) {
        QStringList got;
        for (const QString& line : lines) {
            const QStringList fields = line.split(QLatin1Char('\t'));
            got << (fields.size() == 10 ? fields[2] + "/" + fields[5] : "bad line: " + line);
        }
        return got;
    }

private slots:
    void initTestCase() {
        QVERIFY(runtime.isValid());
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
        QFile::setPermissions(runtime.path(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    void init() {
        db = std::make_unique<TempDatabase>();
        now = QDateTime::currentMSecsSinceEpoch();
        const quint16 one = TempDatabase::addUnit(QStringLiteral("one"));
        const quint16 two = TempDatabase::addUnit(QStringLiteral("two"));
        const quint16 rack = TempDatabase::addGroup(QStringLiteral("rack"));
        QVERIFY(
            QSqlQuery(Database::connection())
                .exec(QStringLiteral(R"(INSERT INTO "Group" VALUES (%1, %2))").arg(rack).arg(two)));
        HistoryWriter writer;
        // Hours ago: 50 one/poll, 30 two/timed poll, 20 one/timer, 3 gone/http, 1 two/kavioctl.
        const QList<std::tuple<int, quint16, QString, QString>> rows = {
            {50, one, "one", "poll"},
            {30, two, "two", "timed poll"},
            {20, one, "one", "timer"},
            {3, 9, "gone\tunit", "http"},
            {1, two, "two", "kavioctl"}};
        for (const auto& [hours, index, name, source] : rows) {
            HistoryRow row;
            row.TimeMs = now - hours * 3600000LL;
            row.Index = index;
            row.Name = name;
            row.Address = QStringLiteral("127.0.0.1");
            row.Port = 4001;
            row.Command = QStringLiteral("q");
            row.Task = TaskQuery;
            row.Source = source;
            row.Reply = QStringLiteral("ON");
            row.Outcome = QStringLiteral("answered");
            row.DurationMs = 7;
            writer.add(row);
        }
        QVERIFY(writer.flush());
    }

    void cleanup() { db.reset(); }

    void filters_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("expected"); // unit/source per line, or the error's words
        QTest::newRow("all, oldest first") << QStringList{} << 0
                                           << QStringList{"one/poll", "two/timed poll", "one/timer",
                                                          "gone\\x09unit/http", "two/kavioctl"};
        QTest::newRow("unit") << QStringList{"--unit", "one"} << 0
                              << QStringList{"one/poll", "one/timer"};
        QTest::newRow("deleted unit")
            << QStringList{"--unit", "gone\tunit"} << 0 << QStringList{"gone\\x09unit/http"};
        QTest::newRow("group") << QStringList{"--group", "rack"} << 0
                               << QStringList{"two/timed poll", "two/kavioctl"};
        QTest::newRow("relative since")
            << QStringList{"--since", "2d"} << 0
            << QStringList{"two/timed poll", "one/timer", "gone\\x09unit/http", "two/kavioctl"};
        QTest::newRow("until and source") << QStringList{"--until", "10h", "--source", "timed-poll"}
                                          << 0 << QStringList{"two/timed poll"};
        QTest::newRow("limit keeps the newest")
            << QStringList{"--limit", "2"} << 0
            << QStringList{"gone\\x09unit/http", "two/kavioctl"};
        QTest::newRow("ISO date in the future")
            << QStringList{"--since", "2999-01-01"} << 0 << QStringList{};
        QTest::newRow("unknown unit")
            << QStringList{"--unit", "nobody"} << 1 << QStringList{"no unit is named 'nobody'"};
        QTest::newRow("unknown group")
            << QStringList{"--group", "one"} << 1 << QStringList{"no group is named 'one'"};
        QTest::newRow("both") << QStringList{"--unit", "one", "--group", "rack"} << 1
                              << QStringList{"either --unit or --group"};
        QTest::newRow("bad time") << QStringList{"--since", "yesterday"} << 1
                                  << QStringList{"'yesterday' is no time"};
        QTest::newRow("bad source")
            << QStringList{"--source", "cron"} << 1 << QStringList{"'cron' is no source"};
        QTest::newRow("bad limit")
            << QStringList{"--limit", "-3"} << 1 << QStringList{"positive number"};
    }

    void filters() {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QStringList, expected);
        const Run run = kavioctl(QStringList{"history"} + arguments);
        QCOMPARE(run.exitCode, exitCode);
        if (exitCode == 0) {
            QCOMPARE(unitsAndSources(run.out), expected);
            QVERIFY(run.err.isEmpty());
        } else {
            QVERIFY(run.out.isEmpty());
            QVERIFY2(run.err.contains(expected.first()), qPrintable(run.err));
        }
    }

    void jsonAndCsv() {
        Run run = kavioctl({"history", "--unit", "one", "--json"});
        QCOMPARE(run.exitCode, 0);
        const QJsonArray rows = QJsonDocument::fromJson(run.out.join('\n').toUtf8()).array();
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows[1][QStringLiteral("source")].toString(), QStringLiteral("timer"));
        QCOMPARE(rows[1][QStringLiteral("time")].toString(),
                 QDateTime::fromMSecsSinceEpoch(now - 20 * 3600000LL, Qt::UTC)
                     .toString(Qt::ISODateWithMs));
        QCOMPARE(rows[1][QStringLiteral("duration_ms")].toInt(), 7);
        run = kavioctl({"history", "--group", "rack", "--csv"});
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.out.size(), 3);
        QVERIFY(run.out[0].startsWith(QStringLiteral("time,key,unit,address,command,source")));
        QCOMPARE(kavioctl({"history", "--json", "--csv"}).exitCode, 64);
    }

    // kavioctl's own exchange keeps its rows; killed in the middle, it leaves whole rows only
    // and a sound file.
    void ownExchangeAndKill() {
        SimulatedUnit unit(behaving(Behaviour::On));
        QVERIFY(unit.listen());
        const quint16 a =
            TempDatabase::addUnit(QStringLiteral("live"), QStringLiteral("127.0.0.1"), unit.port());
        Run run = kavioctl({"query", "live"});
        QCOMPARE(run.exitCode, 0);
        run = kavioctl({"history", "--unit", "live", "--source", "kavioctl"});
        QCOMPARE(run.out.size(), 1);
        QStringList fields = run.out[0].split('\t');
        QCOMPARE(fields.mid(1, 8), QStringList({QString::number(a), "live",
                                                QStringLiteral("127.0.0.1:%1").arg(unit.port()),
                                                "q", "kavioctl", "ON", "ON", "answered"}));

        // Units on 127.0.0.x that answer slowly keep the run going until it is killed.
        UnitConfig slow = behaving(Behaviour::Slow);
        slow.delayMs = 20;
        SimulatedUnit slowUnit(slow);
        QVERIFY(slowUnit.listen());
        for (int i = 0; i < 200; ++i)
            TempDatabase::addUnit(QStringLiteral("slow %1").arg(i), QStringLiteral("127.0.0.1"),
                                  slowUnit.port());
        const qint64 before = runSqliteTool(db->path, "SELECT count(*) FROM History;").toLongLong();
        QProcess poll;
        poll.start(QStringLiteral(KAVIOCTL_PATH),
                   {QStringLiteral("--database"), db->path, QStringLiteral("poll")});
        QVERIFY(poll.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(
            runSqliteTool(db->path, "SELECT count(*) FROM History;").toLongLong() > before + 5,
            Patience);
        poll.kill(); // SIGKILL
        QVERIFY(poll.waitForFinished(Patience));
        QCOMPARE(runSqliteTool(db->path, "PRAGMA integrity_check;"), QStringLiteral("ok"));
        // Every row is whole: no column empty that an exchange always fills.
        QCOMPARE(runSqliteTool(db->path,
                               "SELECT count(*) FROM History WHERE Name = '' OR Command = '' OR "
                               "Source = '' OR Outcome = '' OR Time <= 0 OR Port <= 0;"),
                 QStringLiteral("0"));
        QVERIFY(runSqliteTool(db->path, "SELECT count(*) FROM History WHERE Source = 'kavioctl';")
                    .toLongLong() > 5);
    }
};

QTEST_MAIN(TestKavioctlHistory)
#include "test_kavioctl_history.moc"
