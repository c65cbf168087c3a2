#include "Exception.h"
#include "GlobalFunctions.h"
#include "Messages.h"
#include "Table.h"
#include "TempDatabase.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QTest>

using namespace kavio;
using test::TempDatabase;

namespace {

QStringList names(TTable& table) {
    QStringList result;
    table.first();
    for (int i = table.recordCount(); i > 0; --i) {
        result << table.fieldByName(QStringLiteral("Name")).asString();
        table.next();
    }
    return result;
}

void addMembership(int group, int unit) {
    TTable rows(QStringLiteral("Group.DB"));
    rows.open();
    rows.append();
    rows.fieldByName(QStringLiteral("GroupIndex")).setInteger(group);
    rows.fieldByName(QStringLiteral("Index")).setInteger(unit);
    rows.post();
    rows.close();
}

} // namespace

class TestTable : public QObject {
    Q_OBJECT

private slots:
    void walkVisitsRecordsInKeyOrder() {
        TempDatabase db;
        TempDatabase::addUnit(QStringLiteral("a"));
        TempDatabase::addGroup(QStringLiteral("g"));
        TempDatabase::addUnit(QStringLiteral("b"));
        TTable master(QStringLiteral("Master.DB"));
        master.open();
        QCOMPARE(master.recordCount(), 3);
        QVERIFY(master.bof());
        QCOMPARE(names(master), QStringList({"a", "g", "b"}));
        QVERIFY(master.eof());
        master.next(); // stepping past the end stays at the end
        QVERIFY(master.eof());
        QVERIFY_THROWS_EXCEPTION(DatabaseError,
                                 master.fieldByName(QStringLiteral("Name")).asString());
    }

    void filterStaysInForceAcrossCloseAndOpenUntilCleared() {
        TempDatabase db;
        TempDatabase::addUnit(QStringLiteral("u1"));
        TempDatabase::addGroup(QStringLiteral("g1"));
        TempDatabase::addUnit(QStringLiteral("u2"));
        TTable master(QStringLiteral("Master.DB"));
        // A filter text alone filters nothing until filtering is switched on.
        master.setFilter(QStringLiteral("Group=False"));
        QVERIFY(!master.filtered());
        master.open();
        QCOMPARE(master.recordCount(), 3);
        master.close();
        master.setFiltered(true);
        master.open();
        QCOMPARE(names(master), QStringList({"u1", "u2"}));
        master.close();
        master.open();
        QCOMPARE(names(master), QStringList({"u1", "u2"}));

        // Changing the filter of an open table applies at once.
        master.setFilter(QStringLiteral("Group=True"));
        QCOMPARE(names(master), QStringList({"g1"}));
        master.setFiltered(false);
        QCOMPARE(names(master), QStringList({"u1", "g1", "u2"}));
        QCOMPARE(master.filter(), QStringLiteral("Group=True"));

        // Filter text without filtering switched on filters nothing.
        master.close();
        master.open();
        QCOMPARE(master.recordCount(), 3);
    }

    void keyFiltersOnEachTable() {
        TempDatabase db;
        addMembership(10, 1);
        addMembership(11, 2);
        addMembership(10, 3);
        TTable rows(QStringLiteral("Group.DB"));
        rows.setFilter(QStringLiteral("GroupIndex=10"));
        rows.setFiltered(true);
        rows.open();
        QCOMPARE(rows.recordCount(), 2);
        QCOMPARE(rows.fieldByName(QStringLiteral("Index")).asInteger(), 1);
        rows.next();
        QCOMPARE(rows.fieldByName(QStringLiteral("Index")).asInteger(), 3);

        rows.setFilter(QStringLiteral("Index=2"));
        QCOMPARE(rows.recordCount(), 1);
        QCOMPARE(rows.fieldByName(QStringLiteral("GroupIndex")).asInteger(), 11);
    }

    void onlyTheKnownFilterFormsAreAccepted_data() {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("expression");
        QTest::newRow("blank around =") << "Master.DB"
                                        << "Index = 1";
        QTest::newRow("leading zero") << "Master.DB"
                                      << "Index=01";
        QTest::newRow("sign") << "Master.DB"
                              << "Index=-1";
        QTest::newRow("plus sign") << "Master.DB"
                                   << "Index=+1";
        QTest::newRow("trailing blank") << "Master.DB"
                                        << "Index=1 ";
        QTest::newRow("line end") << "Master.DB"
                                  << "Index=1\n";
        QTest::newRow("injection") << "Master.DB"
                                   << "Index=1 OR 1=1";
        QTest::newRow("injection in value") << "Master.DB"
                                            << "Index=1; DROP TABLE Master";
        QTest::newRow("other field") << "Master.DB"
                                     << "Name='a'";
        QTest::newRow("lower-case name") << "Master.DB"
                                         << "index=1";
        QTest::newRow("lower-case boolean") << "Master.DB"
                                            << "Group=true";
        QTest::newRow("boolean as number") << "Master.DB"
                                           << "Group=1";
        QTest::newRow("field not in table") << "Master.DB"
                                            << "GroupIndex=1";
        QTest::newRow("Group on Timer") << "Timer.DB"
                                        << "Group=True";
        QTest::newRow("TimerIndex on Group") << "Group.DB"
                                             << "TimerIndex=3";
        QTest::newRow("too long") << "Master.DB"
                                  << "Index=123456789012";
    }

    void onlyTheKnownFilterFormsAreAccepted() {
        QFETCH(QString, table);
        QFETCH(QString, expression);
        TempDatabase db;
        TempDatabase::addUnit(QStringLiteral("u1"));
        TTable object(table);
        object.setFilter(QStringLiteral("Index=1"));
        object.setFiltered(true);
        QVERIFY_THROWS_EXCEPTION(DatabaseError, object.setFilter(expression));
        // The refused text leaves the previous filter in force and the table whole.
        QCOMPARE(object.filter(), QStringLiteral("Index=1"));
        TTable master(QStringLiteral("Master.DB"));
        master.open();
        QCOMPARE(master.recordCount(), 1);
    }

    void appendEditPostDeleteAcrossTableObjects() {
        TempDatabase db;
        const quint16 first = TempDatabase::addUnit(QStringLiteral("first"));
        const quint16 second = TempDatabase::addUnit(QStringLiteral("second"));
        QCOMPARE(second, quint16(first + 1));

        TTable writer(QStringLiteral("Master.DB"));
        TTable reader(QStringLiteral("Master.DB"));
        writer.open();
        QVERIFY(writer.findKey(second));
        writer.edit();
        writer.fieldByName(QStringLiteral("Name")).setString(QStringLiteral("renamed"));
        // Not posted yet: another object sees the old value.
        reader.open();
        QCOMPARE(names(reader), QStringList({"first", "second"}));
        reader.close();
        writer.post();
        QCOMPARE(writer.fieldByName(QStringLiteral("Name")).asString(), QStringLiteral("renamed"));
        reader.open();
        QCOMPARE(names(reader), QStringList({"first", "renamed"}));
        reader.close();

        // Cancel writes nothing; closing drops an unposted change.
        writer.edit();
        writer.fieldByName(QStringLiteral("Name")).setString(QStringLiteral("cancelled"));
        writer.cancel();
        QCOMPARE(writer.fieldByName(QStringLiteral("Name")).asString(), QStringLiteral("renamed"));
        writer.edit();
        writer.fieldByName(QStringLiteral("Name")).setString(QStringLiteral("dropped"));
        writer.close();
        reader.open();
        QCOMPARE(names(reader), QStringList({"first", "renamed"}));
        reader.close();

        // Deleting moves the cursor to the following record.
        writer.open();
        writer.first();
        writer.deleteRecord();
        QCOMPARE(writer.recordCount(), 1);
        QCOMPARE(writer.fieldByName(QStringLiteral("Name")).asString(), QStringLiteral("renamed"));
        writer.deleteRecord();
        QVERIFY(writer.eof());
        QVERIFY_THROWS_EXCEPTION(DatabaseError, writer.deleteRecord());
        QVERIFY_THROWS_EXCEPTION(DatabaseError, writer.edit());

        // Writing a field outside edit or append is refused.
        TempDatabase::addUnit(QStringLiteral("third"));
        writer.close();
        writer.open();
        QVERIFY_THROWS_EXCEPTION(
            DatabaseError,
            writer.fieldByName(QStringLiteral("Name")).setString(QStringLiteral("x")));
        QVERIFY_THROWS_EXCEPTION(DatabaseError, writer.fieldByName(QStringLiteral("Colour")));
    }

    void appendedRecordBecomesCurrentWithDefaults() {
        TempDatabase db;
        TTable master(QStringLiteral("Master.DB"));
        master.open();
        master.append();
        master.fieldByName(QStringLiteral("Name")).setString(QStringLiteral("new"));
        master.post();
        QCOMPARE(master.recordCount(), 1);
        QCOMPARE(master.fieldByName(QStringLiteral("Index")).asInteger(), 1);
        QCOMPARE(master.fieldByName(QStringLiteral("Group")).asBoolean(), false);
        QCOMPARE(master.fieldByName(QStringLiteral("Status")).asInteger(), 3);
        QCOMPARE(master.fieldByName(QStringLiteral("Timer")).asBoolean(), false);
        QCOMPARE(master.fieldByName(QStringLiteral("Checked")).asBoolean(), false);
        QVERIFY(master.fieldByName(QStringLiteral("IPAddress")).isNull());

        TTable timers(QStringLiteral("Timer.DB"));
        timers.open();
        timers.append();
        for (const char* field : {"Index", "Task", "Every"})
            timers.fieldByName(QLatin1String(field)).setInteger(1);
        // A record the table refuses is reported as such and adds nothing.
        try {
            timers.post();
            QFAIL("a timer without its time of day was appended");
        } catch (const DatabaseError& error) {
            QVERIFY2(error.message().contains(QStringLiteral("cannot be appended: NOT NULL")),
                     qPrintable(error.message()));
        }
        QCOMPARE(timers.recordCount(), 0);
        timers.fieldByName(QStringLiteral("TimeOfDay")).setString(QStringLiteral("07:30:00"));
        timers.fieldByName(QStringLiteral("Date")).setString(QStringLiteral("2026-12-07"));
        timers.post();
        for (const char* field : {"Count", "DayOfWeek", "Month"})
            QCOMPARE(timers.fieldByName(QLatin1String(field)).asInteger(), 0);
    }

    // A record edited or appended so that it no longer passes the filter leaves the open table.
    void recordsLeavingTheFilterLeaveTheTable() {
        TempDatabase db;
        TempDatabase::addUnit(QStringLiteral("u1"));
        TempDatabase::addUnit(QStringLiteral("u2"));
        TTable units(QStringLiteral("Master.DB"));
        units.setFilter(QStringLiteral("Group=False"));
        units.setFiltered(true);
        units.open();
        units.edit();
        units.fieldByName(QStringLiteral("Group")).setBoolean(true);
        units.post();
        QCOMPARE(names(units), QStringList({"u2"}));
        units.append();
        units.fieldByName(QStringLiteral("Name")).setString(QStringLiteral("g"));
        units.fieldByName(QStringLiteral("Group")).setBoolean(true);
        units.post();
        QVERIFY(units.eof());
        units.append();
        units.fieldByName(QStringLiteral("Name")).setString(QStringLiteral("u3"));
        units.post();
        QCOMPARE(units.fieldByName(QStringLiteral("Name")).asString(), QStringLiteral("u3"));
        QCOMPARE(names(units), QStringList({"u2", "u3"}));

        TTable groups(QStringLiteral("Master.DB"));
        groups.setFilter(QStringLiteral("Group=True"));
        groups.setFiltered(true);
        groups.open();
        groups.edit();
        groups.fieldByName(QStringLiteral("Group")).setBoolean(false);
        groups.post();
        QCOMPARE(names(groups), QStringList({"g"}));
    }

    void emptyTableRemovesAllAndNeverReusesKeys() {
        TempDatabase db;
        TempDatabase::addUnit(QStringLiteral("a"));
        TempDatabase::addUnit(QStringLiteral("b"));
        TTable master(QStringLiteral("Master.DB"));
        master.setFilter(QStringLiteral("Index=1"));
        master.setFiltered(true);
        master.emptyTable();
        master.setFiltered(false);
        master.open();
        QCOMPARE(master.recordCount(), 0);
        master.close();
        QCOMPARE(TempDatabase::addUnit(QStringLiteral("c")), quint16(3));
    }

    void keysAbove65535AreRefused() {
        TempDatabase db;
        TempDatabase::addUnit(QStringLiteral("low"));
        QSqlQuery(Database::connection())
            .exec(QStringLiteral("UPDATE sqlite_sequence SET seq = 65534 WHERE name = 'Master'"));
        QCOMPARE(TempDatabase::addUnit(QStringLiteral("last")), quint16(65535));
        try {
            TempDatabase::addUnit(QStringLiteral("one too many"));
            QFAIL("a key above 65535 was handed out");
        } catch (const DatabaseError& error) {
            QVERIFY2(error.message().contains(QStringLiteral("65536")),
                     qPrintable(error.message()));
        }
        TTable master(QStringLiteral("Master.DB"));
        master.open();
        QCOMPARE(names(master), QStringList({"low", "last"}));
    }

    // Hand-edited keys that 16 bits cannot hold (65537 would become 1, -1 would become 65535)
    // and key 0: such records are never read, listed or written, and the operator is told once.
    void keysOutsideTheRangeAreIgnored() {
        RecordingMessageSink messages;
        TempDatabase db;
        const quint16 one = TempDatabase::addUnit(QStringLiteral("one"));
        QSqlQuery sql(Database::connection());
        for (
            const char* statement : {
                R"(INSERT INTO Master ("Index", Name, Status) VALUES (0, 'zero', 0), (-1, 'minus', 0),
                    (65537, 'wraps to one', 0), (65535, 'last', 0))",
                R"(INSERT INTO "Group" VALUES (70000, 1), (65535, 0), (65535, 1), (65535, 'x'))",
                R"(INSERT INTO Timer ("Index", Task, Every, TimeOfDay, "Date")
                    VALUES (65537, 0, 0, '07:00:00', '2026-12-07'), (1, 1, 0, '08:00:00', '2026-12-07'))"})
            QVERIFY2(sql.exec(QLatin1String(statement)), qPrintable(sql.lastError().text()));
        QVERIFY(messages.shown.isEmpty());
        Database::close();
        Database::open(db.path);
        QCOMPARE(messages.shown.size(), 1);
        const QString told = messages.shown.first().text;
        for (const char* key :
             {"Master.DB: -1, 0, 65537", "Group.DB: 70000, 0, x", "Timer.DB: 65537"})
            QVERIFY2(told.contains(QLatin1String(key)), qPrintable(told));

        TTable master(QStringLiteral("Master.DB"));
        master.open();
        QCOMPARE(names(master), QStringList({"one", "last"}));
        master.close();
        OpenByIndex(master, one);
        QCOMPARE(names(master), QStringList({"one"}));
        master.close();
        ResetAllStatuses(master);
        QCOMPARE(TempDatabase::status(65535), 3);
        TTable groups(QStringLiteral("Group.DB"));
        groups.open();
        QCOMPARE(groups.recordCount(), 1);
        QCOMPARE(groups.fieldByName(QStringLiteral("Index")).asInteger(), 1);
        groups.emptyTable();
        QCOMPARE(groups.recordCount(), 0);
        TTable timers(QStringLiteral("Timer.DB"));
        timers.open();
        QCOMPARE(timers.recordCount(), 1);
        QCOMPARE(timers.fieldByName(QStringLiteral("TimeOfDay")).asString(),
                 QStringLiteral("08:00:00"));

        // The ignored records stay exactly as they were.
        sql = QSqlQuery(Database::connection());
        QVERIFY(sql.exec(QStringLiteral(
            R"(SELECT group_concat(Status, '') FROM Master WHERE "Index" NOT BETWEEN 1 AND 65535)")));
        QVERIFY(sql.next());
        QCOMPARE(sql.value(0).toString(), QStringLiteral("000"));
        QVERIFY(sql.exec(QStringLiteral(R"(SELECT count(*) FROM "Group")")));
        QVERIFY(sql.next());
        QCOMPARE(sql.value(0).toInt(), 3);
        QCOMPARE(messages.shown.size(), 1);
    }

    void handEditedValuesGiveClearErrors() {
        TempDatabase db;
        const quint16 unit = TempDatabase::addUnit(QStringLiteral("edited"));
        QSqlQuery(Database::connection())
            .exec(
                QStringLiteral("UPDATE Master SET Port = 'eighty' WHERE \"Index\" = %1").arg(unit));
        TTable master(QStringLiteral("Master.DB"));
        master.open();
        try {
            master.fieldByName(QStringLiteral("Port")).asInteger();
            QFAIL("text was read as a number");
        } catch (const DatabaseError& error) {
            QVERIFY(error.message().contains(QStringLiteral("\"Port\"")));
            QVERIFY(error.message().contains(QStringLiteral("eighty")));
            QVERIFY(error.message().contains(db.path));
        }
        QCOMPARE(master.fieldByName(QStringLiteral("Port")).asString(), QStringLiteral("eighty"));
    }

    void editOfRecordDeletedMeanwhileFails() {
        TempDatabase db;
        const quint16 unit = TempDatabase::addUnit(QStringLiteral("gone"));
        TTable holder(QStringLiteral("Master.DB"));
        holder.open();
        TTable remover(QStringLiteral("Master.DB"));
        remover.open();
        remover.deleteRecord();
        holder.edit();
        holder.fieldByName(QStringLiteral("Status")).setInteger(0);
        QVERIFY_THROWS_EXCEPTION(DatabaseError, holder.post());
        holder.close();
        holder.open();
        QCOMPARE(holder.recordCount(), 0);
        QVERIFY(!holder.findKey(unit));
    }
};

QTEST_GUILESS_MAIN(TestTable)
#include "test_table.moc"
