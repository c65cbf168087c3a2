#include "GlobalFunctions.h"
#include "Table.h"
#include "TempDatabase.h"

#include <QTest>

using namespace kavio;
using test::TempDatabase;

class TestGlobalFunctions : public QObject {
    Q_OBJECT

private slots:
    void parseStatus_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("status");
        QTest::newRow("ON") << QByteArray("ON") << 0;
        QTest::newRow("OFF") << QByteArray("OFF") << 1;
        QTest::newRow("CYCLE") << QByteArray("CYCLE") << 2;
        QTest::newRow("BUSY") << QByteArray("BUSY") << 5;
        QTest::newRow("empty") << QByteArray() << 3;
        QTest::newRow("lower case") << QByteArray("on") << 3;
        QTest::newRow("mixed case") << QByteArray("Off") << 3;
        QTest::newRow("leading blank") << QByteArray(" ON") << 3;
        QTest::newRow("trailing blank") << QByteArray("ON ") << 3;
        QTest::newRow("carriage return") << QByteArray("ON\r") << 3;
        QTest::newRow("line feed") << QByteArray("BUSY\n") << 3;
        QTest::newRow("prefix") << QByteArray("CYC") << 3;
        QTest::newRow("two words") << QByteArray("ONOFF") << 3;
        QTest::newRow("embedded zero") << QByteArray("ON\0", 3) << 3;
        QTest::newRow("error word") << QByteArray("ERROR") << 3;
    }

    void parseStatus() {
        QFETCH(QByteArray, reply);
        QFETCH(int, status);
        QCOMPARE(int(ParseStatus(reply)), status);
    }

    void taskName() {
        const QStringList expected = {"Power On", "Power Off", "Reboot", "Pulse", "Cycle"};
        for (quint8 task = 0; task < 5; ++task) {
            QString name = QStringLiteral("before");
            TaskName(task, name);
            QCOMPARE(name, expected[task]);
        }
        for (quint8 task : {quint8(5), quint8(6), quint8(255)}) {
            QString name = QStringLiteral("left as it was");
            TaskName(task, name);
            QCOMPARE(name, QStringLiteral("left as it was"));
        }
    }

    void openByIndexFindsOneRecordOrNone() {
        TempDatabase db;
        TempDatabase::addUnit(QStringLiteral("a"));
        const quint16 b = TempDatabase::addUnit(QStringLiteral("b"));
        TTable master(QStringLiteral("Master.DB"));
        OpenByIndex(master, b);
        QVERIFY(master.isOpen());
        QCOMPARE(master.recordCount(), 1);
        QCOMPARE(master.fieldByName(QStringLiteral("Name")).asString(), QStringLiteral("b"));
        QCOMPARE(master.filter(), QStringLiteral("Index=%1").arg(b));
        master.close();

        OpenByIndex(master, 999);
        QVERIFY(master.isOpen());
        QVERIFY(master.eof());
        QCOMPARE(master.recordCount(), 0);

        CloseFiltered(master);
        QVERIFY(!master.isOpen());
        QVERIFY(!master.filtered());
        QVERIFY(master.filter().isEmpty());
        master.open();
        QCOMPARE(master.recordCount(), 2);
    }

    void filterByIndexDoesNotOpen() {
        TempDatabase db;
        TTable master(QStringLiteral("Master.DB"));
        FilterByIndex(master, 65535);
        QVERIFY(!master.isOpen());
        QVERIFY(master.filtered());
        QCOMPARE(master.filter(), QStringLiteral("Index=65535"));
    }

    void groupAndTimerFilters() {
        TempDatabase db;
        TTable rows(QStringLiteral("Group.DB"));
        rows.open();
        for (auto [group, unit] : {std::pair{5, 1}, {6, 1}, {5, 2}}) {
            rows.append();
            rows.fieldByName(QStringLiteral("GroupIndex")).setInteger(group);
            rows.fieldByName(QStringLiteral("Index")).setInteger(unit);
            rows.post();
        }
        rows.close();
        OpenByGroupIndex(rows, 5);
        QCOMPARE(rows.recordCount(), 2);
        rows.close();
        OpenByIndex(rows, 1); // a unit's memberships
        QCOMPARE(rows.recordCount(), 2);
        CloseFiltered(rows);

        TTable timers(QStringLiteral("Timer.DB"));
        timers.open();
        timers.append();
        timers.fieldByName(QStringLiteral("Index")).setInteger(1);
        timers.fieldByName(QStringLiteral("Task")).setInteger(0);
        timers.fieldByName(QStringLiteral("Every")).setInteger(0);
        timers.fieldByName(QStringLiteral("TimeOfDay")).setString(QStringLiteral("07:30:00"));
        timers.fieldByName(QStringLiteral("Date")).setString(QStringLiteral("2026-12-07"));
        timers.post();
        const qint64 timerIndex = timers.fieldByName(QStringLiteral("TimerIndex")).asInteger();
        timers.close();
        OpenByTimerIndex(timers, quint32(timerIndex));
        QCOMPARE(timers.recordCount(), 1);
        QCOMPARE(timers.fieldByName(QStringLiteral("TimeOfDay")).asString(),
                 QStringLiteral("07:30:00"));
        timers.close();
        OpenByTimerIndex(timers, quint32(timerIndex + 1));
        QVERIFY(timers.eof());
    }

    void setStatusTouchesOnlyItsUnit() {
        TempDatabase db;
        const quint16 a = TempDatabase::addUnit(QStringLiteral("a"));
        const quint16 b = TempDatabase::addUnit(QStringLiteral("b"));
        TTable master(QStringLiteral("Master.DB"));
        SetStatus(master, b, StatusBusy);
        QVERIFY(!master.isOpen());
        QCOMPARE(TempDatabase::status(a), 3);
        QCOMPARE(TempDatabase::status(b), 5);

        // A unit deleted while a command was queued: nothing is created or changed.
        SetStatus(master, 777, StatusOn);
        CloseFiltered(master);
        master.open();
        QCOMPARE(master.recordCount(), 2);
        QVERIFY(!master.findKey(777));
        QCOMPARE(TempDatabase::status(a), 3);
        QCOMPARE(TempDatabase::status(b), 5);
        master.close();

        OpenByIndex(master, a);
        SetCurrentStatus(master, StatusError);
        QVERIFY(master.isOpen());
        QCOMPARE(master.fieldByName(QStringLiteral("Status")).asInteger(), 4);
        master.close();
        QCOMPARE(TempDatabase::status(a), 4);
    }

    void resetAllStatuses() {
        TempDatabase db;
        const quint16 unit = TempDatabase::addUnit(QStringLiteral("u"));
        const quint16 group = TempDatabase::addGroup(QStringLiteral("g"));
        TTable master(QStringLiteral("Master.DB"));
        SetStatus(master, unit, StatusOn);
        SetStatus(master, group, StatusOff);
        ResetAllStatuses(master); // even with a filter left on the object
        QVERIFY(!master.filtered());
        QVERIFY(master.filter().isEmpty());
        QCOMPARE(TempDatabase::status(unit), 3);
        QCOMPARE(TempDatabase::status(group), 3);
    }

    void nameInUse_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("inUse");
        QTest::newRow("unit name") << "Rack 1" << true;
        QTest::newRow("group name") << "Lab" << true;
        QTest::newRow("other case") << "rack 1" << false;
        QTest::newRow("trailing blank") << "Rack 1 " << false;
        QTest::newRow("leading blank") << " Lab" << false;
        QTest::newRow("prefix") << "Rack" << false;
        QTest::newRow("unused") << "Rack 2" << false;
    }

    void nameInUse() {
        QFETCH(QString, name);
        QFETCH(bool, inUse);
        TempDatabase db;
        TempDatabase::addUnit(QStringLiteral("Rack 1"));
        const quint16 lab = TempDatabase::addGroup(QStringLiteral("Lab"));
        TTable master(QStringLiteral("Master.DB"));
        // A filter left behind on the object must not hide names from the search.
        OpenByIndex(master, lab + 1);
        master.close();
        QCOMPARE(NameInUse(master, name), inUse);
        QVERIFY(!master.isOpen());
    }
};

QTEST_GUILESS_MAIN(TestGlobalFunctions)
#include "test_global_functions.moc"
