// The one writer of units and groups, on a real database file.
#include "Exception.h"
#include "SqliteTool.h"
#include "TempDatabase.h"
#include "UnitWriter.h"
#include "WriteTransaction.h"

#include <QProcess>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTest>
#include <memory>

using namespace kavio;
using test::TempDatabase;

namespace {

// The rows a query gives, each as its columns joined by '|' (NULL as "null").
QStringList rows(const QString& sql) {
    QSqlQuery query(Database::connection());
    if (!query.exec(sql))
        return {QStringLiteral("failed: ") + sql};
    QStringList result;
    while (query.next()) {
        QStringList columns;
        for (int column = 0; column < query.record().count(); ++column)
            columns << (query.isNull(column) ? QStringLiteral("null")
                                             : query.value(column).toString());
        result << columns.join(QLatin1Char('|'));
    }
    return result;
}

QStringList master() {
    return rows(QStringLiteral("SELECT * FROM \"Master\" ORDER BY \"Index\""));
}

QStringList memberships() {
    return rows(QStringLiteral("SELECT * FROM \"Group\" ORDER BY rowid"));
}

bool exec(const QString& sql) {
    return QSqlQuery(Database::connection()).exec(sql);
}

UnitFields unit(const QString& name) {
    return {name, QStringLiteral("127.0.0.1"), 4001, QStringLiteral("pw")};
}

} // namespace

class TestUnitWriter : public QObject {
    Q_OBJECT

private slots:
    // Every column of a new unit and a new group; texts exactly as given; a new group's key
    // loses the rows a hand edit left with it.
    void newRecordsGetTheDefaults() {
        TempDatabase db;
        const QString name = QStringLiteral("\uFEFFRack 'A'; --");
        QCOMPARE(writer::makeUnit({name, QStringLiteral("10.0.0.1"), 4001, QStringLiteral("pw")}),
                 quint16(1));
        QVERIFY(exec(QStringLiteral("INSERT INTO \"Group\" VALUES (2, 1), (2, 7)")));
        QCOMPARE(writer::makeGroup(QStringLiteral("G"), {1}), quint16(2));
        QCOMPARE(writer::makeGroup(QStringLiteral("Empty")), quint16(3));
        QCOMPARE(master(),
                 (QStringList{"1|" + name + "|10.0.0.1|4001|pw|0|0|3|0",
                              "2|G|null|null|null|1|0|3|0", "3|Empty|null|null|null|1|0|3|0"}));
        QCOMPARE(memberships(), QStringList{"2|1"});
        QCOMPARE(NewRecord::Port, 80);
    }

    // Keys up to 65535 are handed out, none above: nothing of such a record is written.
    void fullStoreTakesNothing() {
        TempDatabase db;
        writer::makeUnit(unit(QStringLiteral("a")));
        QVERIFY(
            exec(QStringLiteral("UPDATE sqlite_sequence SET seq = 65534 WHERE name = 'Master'")));
        QCOMPARE(writer::makeUnit(unit(QStringLiteral("last"))), quint16(65535));
        try {
            writer::makeGroup(QStringLiteral("g"), {1});
            QFAIL("a key above 65535 was handed out");
        } catch (const StoreFull& full) {
            QCOMPARE(full.key(), 65536);
            QVERIFY(full.message().contains(QStringLiteral("above the largest key 65535")));
        }
        QVERIFY_THROWS_EXCEPTION(StoreFull, writer::makeUnit(unit(QStringLiteral("b"))));
        QCOMPARE(master().size(), 2);
        QVERIFY(memberships().isEmpty());
    }

    // The lock of a long change: refused at once while another program writes, taken once it
    // has finished within the wait, and what is written under it lands with its commit.
    void writeLockWaitsItsTime() {
        TempDatabase db;
        QProcess other;
        other.start(QStringLiteral("sqlite3"), {db.path});
        QVERIFY(other.waitForStarted());
        other.write("BEGIN IMMEDIATE;\nSELECT 'locked';\n.shell sleep 0.6\nROLLBACK;\n");
        other.closeWriteChannel();
        QByteArray said;
        while (!said.contains("locked") && other.waitForReadyRead(10000))
            said += other.readAllStandardOutput();
        QString problem;
        QCOMPARE(writeLock::take(0, problem), writeLock::Outcome::Busy);
        QVERIFY(!problem.isEmpty());
        QCOMPARE(writeLock::take(20000, problem), writeLock::Outcome::Taken);
        QVERIFY(other.waitForFinished(10000));
        writer::makeUnit(unit(QStringLiteral("a")));
        QVERIFY(writeLock::commit(problem));
        writeLock::abandon();
        QCOMPARE(master().size(), 1);
        QCOMPARE(writeLock::take(0, problem), writeLock::Outcome::Taken);
        writer::makeUnit(unit(QStringLiteral("b")));
        writeLock::abandon();
        QCOMPARE(master().size(), 1);
    }

    // A write whose commit the file refuses (here a deferred foreign key) is taken back whole
    // and leaves no transaction open, whether it is the writer's own or a long one under the
    // lock.
    void failedCommitTakesAllBack() {
        TempDatabase db;
        QVERIFY(exec(QStringLiteral("PRAGMA foreign_keys = ON")));
        QVERIFY(exec(QStringLiteral("CREATE TEMP TABLE parent (id INTEGER PRIMARY KEY)")));
        QVERIFY(exec(QStringLiteral("CREATE TEMP TABLE child (id INTEGER REFERENCES parent(id) "
                                    "DEFERRABLE INITIALLY DEFERRED)")));
        const QString orphan = QStringLiteral("INSERT INTO child VALUES (7)");
        {
            WriteTransaction transaction(QStringLiteral("Master.DB"));
            writer::makeUnit(unit(QStringLiteral("a")));
            QVERIFY(exec(orphan));
            QVERIFY_THROWS_EXCEPTION(DatabaseError, transaction.commit());
        }
        QString problem;
        QCOMPARE(writeLock::take(0, problem), writeLock::Outcome::Taken);
        writer::makeUnit(unit(QStringLiteral("b")));
        QVERIFY(exec(orphan));
        QVERIFY(!writeLock::commit(problem));
        QVERIFY(problem.contains(QStringLiteral("FOREIGN KEY")));
        writeLock::abandon();
        QVERIFY(master().isEmpty());
        QCOMPARE(rows(QStringLiteral("SELECT count(*) FROM child")), QStringList{"0"});
        writer::makeUnit(unit(QStringLiteral("c")));
        QCOMPARE(master().size(), 1);
    }

    // Changes find their record by key and touch only its own fields; a record that is gone is
    // not made anew.
    void changesKeepTheRest() {
        TempDatabase db;
        const quint16 a = writer::makeUnit(unit(QStringLiteral("a")));
        const quint16 b = writer::makeUnit(unit(QStringLiteral("b")));
        const quint16 g = writer::makeGroup(QStringLiteral("g"), {a});
        QVERIFY(exec(QStringLiteral("UPDATE \"Master\" SET \"Status\" = 0, \"Checked\" = 1")));
        QVERIFY(writer::changeUnit(
            a, {QStringLiteral("A"), QStringLiteral("10.1.1.1"), 81, QStringLiteral("new")}));
        QVERIFY(writer::changeGroup(g, QStringLiteral("G"), {b, a}));
        QVERIFY(writer::markTimer(b));
        QCOMPARE(master(),
                 (QStringList{"1|A|10.1.1.1|81|new|0|0|0|1", "2|b|127.0.0.1|4001|pw|0|1|0|1",
                              "3|G|null|null|null|1|0|0|1"}));
        QCOMPARE(memberships(), (QStringList{"3|2", "3|1"}));

        const QStringList before = master();
        QVERIFY(!writer::changeUnit(9, unit(QStringLiteral("x"))));
        QVERIFY(!writer::changeGroup(9, QStringLiteral("x"), {a}));
        QVERIFY(!writer::markTimer(9));
        QCOMPARE(master(), before);
        QCOMPARE(memberships(), (QStringList{"3|2", "3|1"}));
        writer::setMembers(g, {});
        QVERIFY(memberships().isEmpty());
    }

    // A unit goes with its memberships in every group, a group with its rows; timers and rows
    // whose keys no program reads stay.
    void removeTakesMemberships() {
        TempDatabase db;
        const quint16 a = writer::makeUnit(unit(QStringLiteral("a")));
        const quint16 b = writer::makeUnit(unit(QStringLiteral("b")));
        const quint16 g = writer::makeGroup(QStringLiteral("g"), {a, b});
        const quint16 h = writer::makeGroup(QStringLiteral("h"), {a});
        QVERIFY(exec(QStringLiteral("INSERT INTO \"Group\" VALUES (70000, 1)")));
        QVERIFY(exec(QStringLiteral("INSERT INTO \"Timer\" (\"Index\", \"Task\", \"Every\", "
                                    "\"TimeOfDay\", \"Date\") VALUES (1, 0, 0, '10:00:00', "
                                    "'2026-01-01')")));
        const StoreCounts counts = writer::counts();
        QCOMPARE(counts.units, 2);
        QCOMPARE(counts.groups, 2);
        QCOMPARE(counts.timers, 1);

        QVERIFY(writer::remove(a));
        QCOMPARE(memberships(), (QStringList{"3|2", "70000|1"}));
        QVERIFY(!writer::remove(a));
        QVERIFY(writer::remove(g));
        QCOMPARE(memberships(), QStringList{"70000|1"});
        QCOMPARE(master(),
                 (QStringList{"2|b|127.0.0.1|4001|pw|0|0|3|0", "4|h|null|null|null|1|0|3|0"}));
        QCOMPARE(rows(QStringLiteral("SELECT \"Index\" FROM \"Timer\"")), QStringList{"1"});
        Q_UNUSED(h);

        writer::removeAll();
        QVERIFY(master().isEmpty());
        QCOMPARE(memberships(), QStringList{"70000|1"});
        QCOMPARE(writer::counts().timers, 0);
    }

    // The ticks of many records land all or none: a write the file refuses halfway, or one that
    // another program's lock keeps out, leaves every tick as it was.
    void ticksAllOrNone_data() {
        QTest::addColumn<QString>("obstacle");
        QTest::newRow("none") << QString();
        QTest::newRow("refused halfway") << QStringLiteral("refuse");
        QTest::newRow("locked") << QStringLiteral("lock");
    }

    void ticksAllOrNone() {
        QFETCH(QString, obstacle);
        TempDatabase db;
        for (const char* name : {"a", "b", "c", "d"})
            writer::makeUnit(unit(QLatin1String(name)));
        writer::setTicks({4}, true);
        if (obstacle == QLatin1String("refuse"))
            QVERIFY(exec(QStringLiteral("CREATE TRIGGER refuse BEFORE UPDATE OF \"Checked\" ON "
                                        "\"Master\" WHEN NEW.\"Index\" = 3 BEGIN SELECT "
                                        "RAISE(ABORT, 'refused'); END")));
        std::unique_ptr<test::SqliteWriteLock> lock;
        if (obstacle == QLatin1String("lock")) {
            lock = std::make_unique<test::SqliteWriteLock>(db.path);
            QVERIFY(lock->isHeld());
        }
        const auto ticks = [] {
            return rows(QStringLiteral("SELECT \"Checked\" FROM \"Master\" ORDER BY \"Index\""));
        };
        if (obstacle.isEmpty()) {
            writer::setTicks({1, 2, 3, 4}, true);
            QCOMPARE(ticks(), (QStringList{"1", "1", "1", "1"}));
            writer::setTicks({2, 4}, false);
            QCOMPARE(ticks(), (QStringList{"1", "0", "1", "0"}));
            return;
        }
        QVERIFY_THROWS_EXCEPTION(DatabaseError, writer::setTicks({1, 2, 3, 4}, true));
        if (lock)
            lock->release();
        QCOMPARE(ticks(), (QStringList{"0", "0", "0", "1"}));
        // Nothing of the failed write is left pending: the next one lands on its own.
        writer::setTicks({1}, true);
        QCOMPARE(ticks(), (QStringList{"1", "0", "0", "1"}));
    }
};

QTEST_GUILESS_MAIN(TestUnitWriter)
#include "test_unit_writer.moc"
