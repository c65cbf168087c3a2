// The History table's own parts, on a real file: how much is kept, how times are read, how
// pages and last answers are found, and what the writer does when the file will not take rows.
#include "Clock.h"
#include "Exception.h"
#include "HistoryPruner.h"
#include "HistoryQuery.h"
#include "HistoryWriter.h"
#include "TempDatabase.h"

#include <QSettings>
#include <QSignalSpy>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace kavio;
using test::TempDatabase;

namespace {

constexpr qint64 Day = 86400000;
constexpr int Patience = 5000;

HistoryRow row(qint64 timeMs, quint16 index, const QString& outcome = QStringLiteral("answered")) {
    HistoryRow r;
    r.TimeMs = timeMs;
    r.Index = index;
    r.Name = QStringLiteral("unit %1").arg(index);
    r.Address = QStringLiteral("127.0.0.1");
    r.Port = 4001;
    r.Command = QStringLiteral("q");
    r.Task = 5;
    r.Source = QStringLiteral("poll");
    r.Outcome = outcome;
    return r;
}

bool run(const QString& sql) {
    QSqlQuery query(Database::connection());
    if (query.exec(sql))
        return true;
    qWarning() << sql << query.lastError().text();
    return false;
}

qint64 number(const QString& sql) {
    QSqlQuery query(Database::connection());
    return query.exec(sql) && query.next() ? query.value(0).toLongLong() : -1;
}

} // namespace

class TestHistoryStore : public QObject {
    Q_OBJECT

    QTemporaryDir config;
    std::unique_ptr<TempDatabase> db;

private slots:
    void initTestCase() { qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path())); }
    void init() { db = std::make_unique<TempDatabase>(); }
    void cleanup() { db.reset(); }

    void retentionFromSettings_data() {
        QTest::addColumn<QString>("days");
        QTest::addColumn<QString>("rows"); // null: the key is not in the file
        QTest::addColumn<int>("keepDays");
        QTest::addColumn<qint64>("keepRows");
        QTest::newRow("neither") << QString() << QString() << 400 << qint64(1000000);
        QTest::newRow("both") << "5"
                              << "250" << 5 << qint64(250);
        QTest::newRow("one day") << "1"
                                 << "1" << 1 << qint64(1);
        QTest::newRow("zero") << "0"
                              << "0" << 400 << qint64(1000000);
        QTest::newRow("negative") << "-3"
                                  << "-7" << 400 << qint64(1000000);
        QTest::newRow("words") << "ten"
                               << "many" << 400 << qint64(1000000);
        QTest::newRow("beyond 32 bits") << "30"
                                        << "5000000000" << 30 << qint64(5000000000);
    }

    // Only a whole positive number replaces the default.
    void retentionFromSettings() {
        QFETCH(QString, days);
        QFETCH(QString, rows);
        QFETCH(int, keepDays);
        QFETCH(qint64, keepRows);
        {
            QSettings settings(QSettings::IniFormat, QSettings::UserScope,
                               QStringLiteral("KavioCC"));
            settings.remove(QStringLiteral("History"));
            if (!days.isNull())
                settings.setValue(QStringLiteral("History/KeepDays"), days);
            if (!rows.isNull())
                settings.setValue(QStringLiteral("History/KeepRows"), rows);
        }
        const HistoryRetention retention = HistoryRetention::fromSettings();
        QCOMPARE(retention.KeepDays, keepDays);
        QCOMPARE(retention.KeepRows, keepRows);
    }

    void pruningAtTheDayBoundary_data() {
        QTest::addColumn<int>("keepDays");
        QTest::newRow("one day") << 1;
        QTest::newRow("three days") << 3;
    }

    // A row exactly KeepDays old stays, one a millisecond older goes; the pruner's own timer
    // does it once started.
    void pruningAtTheDayBoundary() {
        QFETCH(int, keepDays);
        ManualClock clock(QDateTime(QDate(2026, 3, 29), QTime(1, 30), Qt::UTC));
        const qint64 cutoff = clock.time.toMSecsSinceEpoch() - keepDays * Day;
        HistoryWriter writer;
        for (qint64 offset : {-Day, qint64(-1), qint64(0), qint64(1), Day})
            writer.add(row(cutoff + offset, 1));
        QVERIFY(writer.flush());
        HistoryPruner pruner({keepDays, 1000});
        pruner.start();
        QTRY_COMPARE_WITH_TIMEOUT(number(QStringLiteral(R"(SELECT count(*) FROM "History")")), 3,
                                  Patience);
        QCOMPARE(number(QStringLiteral(R"(SELECT min("Time") FROM "History")")), cutoff);
        // The round is over once a batch finds nothing: the next one counts afresh and, with
        // fewer rows than KeepRows, deletes none.
        QTest::qWait(4 * HistoryPruner::BatchIntervalMs);
        QCOMPARE(pruner.pruneBatch(), 0);
        QCOMPARE(number(QStringLiteral(R"(SELECT count(*) FROM "History")")), 3);
    }

    void parseHistoryTime_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QDateTime>("expected"); // invalid: no time
        const QDateTime now(QDate(2026, 12, 7), QTime(15, 45, 10, 500));
        const QDate day(2026, 12, 7);
        QTest::newRow("seconds") << "90s" << now.addSecs(-90);
        QTest::newRow("minutes") << "15m" << now.addSecs(-15 * 60);
        QTest::newRow("hours") << "2h" << now.addSecs(-2 * 3600);
        QTest::newRow("days") << "3d" << now.addMSecs(-3 * Day);
        QTest::newRow("weeks") << "1w" << now.addMSecs(-7 * Day);
        QTest::newRow("date") << "2026-11-30" << QDateTime(QDate(2026, 11, 30), QTime(0, 0));
        QTest::newRow("time of today") << "12:30" << QDateTime(day, QTime(12, 30));
        QTest::newRow("time with seconds") << "08:05:09" << QDateTime(day, QTime(8, 5, 9));
        QTest::newRow("date T time")
            << "2026-12-01T12:30" << QDateTime(QDate(2026, 12, 1), QTime(12, 30));
        QTest::newRow("date blank time")
            << "2026-12-01 12:30" << QDateTime(QDate(2026, 12, 1), QTime(12, 30));
        QTest::newRow("blank time, seconds and ms")
            << "2026-12-01 23:59:58.250" << QDateTime(QDate(2026, 12, 1), QTime(23, 59, 58, 250));
        QTest::newRow("UTC") << "2026-12-01T12:30:00Z"
                             << QDateTime(QDate(2026, 12, 1), QTime(12, 30), Qt::UTC);
        QTest::newRow("offset") << "2026-12-01T12:30:00+02:00"
                                << QDateTime(QDate(2026, 12, 1), QTime(10, 30), Qt::UTC);
        for (const char* bad : {"yesterday", "", "1y", "-5m", "5 m", "2026-13-01", "2026-02-30",
                                "25:00", "2026-12-01x", "2026-12-01 25:00", "2026-12-01  12:30"})
            QTest::newRow(bad) << QString::fromLatin1(bad) << QDateTime();
    }

    void parseHistoryTime() {
        QFETCH(QString, text);
        QFETCH(QDateTime, expected);
        const std::optional<qint64> got =
            ParseHistoryTime(text, QDateTime(QDate(2026, 12, 7), QTime(15, 45, 10, 500)));
        QCOMPARE(got.has_value(), expected.isValid());
        if (got)
            QCOMPARE(QDateTime::fromMSecsSinceEpoch(*got), expected.toLocalTime());
    }

    // Rows of one time are told apart by their key: a page ends where the next begins, and the
    // last answer of each unit is the newest answered row of a key the program can hold.
    void pagesNamesAndLastAnswers() {
        const quint16 unit = TempDatabase::addUnit(QStringLiteral("rack"));
        const quint16 group = TempDatabase::addGroup(QStringLiteral("lab"));
        QVERIFY(!HistoryHasName(QStringLiteral("unit 1")));
        HistoryWriter writer;
        for (quint16 index : {1, 2, 1, 3, 1})
            writer.add(row(1000, index));
        writer.add(row(2000, 2, QStringLiteral("timed out")));
        writer.add(row(900, 2));
        writer.add(row(5000, 0));
        QVERIFY(writer.flush());
        QVERIFY(run(QStringLiteral(R"(INSERT INTO "History" SELECT 100, 9000, 65536, "Name",
 "IPAddress", "Port", "Command", "Task", "Source", "Reply", "Status", "Outcome", "Duration"
 FROM "History" LIMIT 1)")));

        QList<qint64> ids;
        std::optional<HistoryCursor> after;
        for (int pages = 0; pages < 10 && (pages == 0 || after); ++pages) {
            const HistoryPage page = ReadHistory({}, 2, after);
            QVERIFY(page.Rows.size() == 2 || !page.Next);
            ids += page.Ids;
            after = page.Next;
        }
        QCOMPARE(ids, (QList<qint64>{100, 8, 6, 5, 4, 3, 2, 1, 7}));
        QCOMPARE(ReadHistory({}, 0).Ids, ids);

        const QHash<quint16, qint64> last = LastAnswers();
        QCOMPARE(last, (QHash<quint16, qint64>{{1, 1000}, {2, 1000}, {3, 1000}}));
        QCOMPARE(LastAnswerMs(2), std::optional<qint64>(1000));
        QVERIFY(HistoryHasName(QStringLiteral("unit 3")));
        QVERIFY(!HistoryHasName(QStringLiteral("unit")));
        QCOMPARE(UnitKeyByName(QStringLiteral("rack")), std::optional<quint16>(unit));
        QCOMPARE(GroupKeyByName(QStringLiteral("lab")), std::optional<quint16>(group));
        QVERIFY(!UnitKeyByName(QStringLiteral("lab")));
        QVERIFY(!GroupKeyByName(QStringLiteral("rack")));

        // A file without the table has no history, and nobody is asked to add it.
        QVERIFY(run(QStringLiteral(R"(DROP TABLE "History")")));
        QVERIFY(ReadHistory({}, 0).Rows.isEmpty());
        QVERIFY(LastAnswers().isEmpty());
        QVERIFY(!HistoryHasName(QStringLiteral("unit 3")));
    }

    // Rows wait FlushDelayMs; with no database they wait for one, no more than MaxWaitingRows of
    // them (the oldest go, counted, told once).
    void writerWaitsAndBoundsWhatWaits() {
        HistoryWriter writer;
        QSignalSpy written(&writer, &HistoryWriter::written);
        QSignalSpy lost(&writer, &HistoryWriter::rowsLost);
        writer.add(row(1, 1));
        QCOMPARE(writer.waiting(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(written.count(), 1, Patience);

        Database::close();
        writer.add(row(2, 1));
        QTest::qWait(HistoryWriter::FlushDelayMs + 100);
        QCOMPARE(writer.waiting(), 1);
        Database::open(db->path);
        QTRY_COMPARE_WITH_TIMEOUT(writer.waiting(), 0, Patience);
        QCOMPARE(number(QStringLiteral(R"(SELECT count(*) FROM "History")")), 2);

        Database::close();
        for (int i = 0; i < HistoryWriter::MaxWaitingRows + 5; ++i)
            writer.add(row(1000 + i, 1));
        QCOMPARE(writer.waiting(), HistoryWriter::MaxWaitingRows);
        QCOMPARE(writer.lost(), 5);
        QCOMPARE(lost.count(), 1);
        QVERIFY(lost.first().first().toString().contains(QStringLiteral("too many rows")));
        Database::open(db->path);
        QVERIFY(writer.flush());
        QCOMPARE(
            number(QStringLiteral(R"(SELECT min("Time") FROM "History" WHERE "Time" >= 1000)")),
            1005);
        QCOMPARE(number(QStringLiteral(R"(SELECT count(*) FROM "History")")),
                 2 + HistoryWriter::MaxWaitingRows);
        QCOMPARE(writer.lost(), 5);
    }

    // A COMMIT held up by a reader keeps the rows for the next try; a table that refuses them
    // loses them, told once a spell; reading it fails loudly, the tooltip quietly.
    void writerFailures() {
        HistoryWriter writer;
        QSignalSpy lost(&writer, &HistoryWriter::rowsLost);
        QVERIFY(run(QStringLiteral("PRAGMA journal_mode=DELETE")));
        {
            QSqlDatabase reader =
                QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("reader"));
            reader.setDatabaseName(db->path);
            QVERIFY(reader.open());
            QSqlQuery read(reader);
            QVERIFY(read.exec(QStringLiteral("BEGIN")));
            QVERIFY(read.exec(QStringLiteral(R"(SELECT count(*) FROM "History")")) && read.next());
            writer.add(row(1, 1));
            writer.add(row(2, 1));
            QVERIFY(!writer.flush());
            QCOMPARE(writer.waiting(), 2);
            read.finish();
            QVERIFY(read.exec(QStringLiteral("COMMIT")));
            reader.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("reader"));
        QTRY_COMPARE_WITH_TIMEOUT(writer.waiting(), 0, Patience);
        QCOMPARE(number(QStringLiteral(R"(SELECT count(*) FROM "History")")), 2);
        QCOMPARE(writer.lost(), 0);

        // A table that takes no row and whose row cannot be read: its outcome overflows.
        const QString broken = QStringLiteral(
            R"(CREATE TABLE "History" ("Id" INTEGER PRIMARY KEY, "Time", "Index", "Name",
 "IPAddress", "Port", "Command", "Task", "Source", "Reply", "Status", "Duration"))");
        for (int spell = 1; spell <= 2; ++spell) {
            QVERIFY(run(QStringLiteral(R"(DROP TABLE "History")")));
            QVERIFY(run(broken));
            QVERIFY(
                run(QStringLiteral(R"(INSERT INTO "History" ("Time", "Index") VALUES (5, 1))")));
            QVERIFY(run(QStringLiteral(R"(ALTER TABLE "History" ADD COLUMN "Outcome"
 GENERATED ALWAYS AS (abs(-9223372036854775807 - 1)) VIRTUAL)")));
            for (int batch = 0; batch < 2; ++batch) {
                writer.add(row(3, 1));
                QVERIFY(writer.flush());
                QCOMPARE(writer.waiting(), 0);
            }
            QCOMPARE(writer.lost(), 2 * spell);
            QCOMPARE(lost.count(), spell);
            QVERIFY_THROWS_EXCEPTION(DatabaseError, ReadHistory({}, 0));
            QVERIFY_THROWS_EXCEPTION(DatabaseError, LastAnswers());
            QVERIFY_THROWS_EXCEPTION(DatabaseError, LastAnswerMs(1));
            QCOMPARE(LastAnswerText(1), QStringLiteral("last answer: unknown"));
            // Without the table the writer adds it again and writing works.
            QVERIFY(run(QStringLiteral(R"(DROP TABLE "History")")));
            writer.add(row(4, 1));
            QVERIFY(writer.flush());
            QCOMPARE(number(QStringLiteral(R"(SELECT count(*) FROM "History")")), 1);
        }
    }
};

QTEST_MAIN(TestHistoryStore)
#include "test_history_store.moc"
