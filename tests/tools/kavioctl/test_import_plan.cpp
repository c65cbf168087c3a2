// The plan of an import, made in-process against a real database file, and its application.
#include "Exception.h"
#include "ImportApplication.h"
#include "ImportPlan.h"
#include "TempDatabase.h"
#include "UnitWriter.h"

#include <QBuffer>
#include <QSqlQuery>
#include <QTest>

using namespace kavio;
using kavio::ctl::ImportPlan;
using test::TempDatabase;

namespace {

const QByteArray Header = "name,address,port,password,groups\r\n";

// The store every plan is checked against: the unit "plain" (1), the group "kitchen" (2) and two
// records named "twin" (3, 4).
void seedStore() {
    writer::makeUnit(
        {QStringLiteral("plain"), QStringLiteral("127.0.0.1"), 80, QStringLiteral("pw")});
    writer::makeGroup(QStringLiteral("kitchen"), {1});
    writer::makeGroup(QStringLiteral("twin"));
    writer::makeGroup(QStringLiteral("twin"));
}

bool plan(ImportPlan& plan, const QByteArray& rows) {
    QByteArray text = Header + rows;
    QBuffer buffer(&text);
    buffer.open(QIODevice::ReadOnly);
    return plan.read(buffer) && plan.check();
}

// A planned unit as "name|address|port|password|groups", a group "s<key>" when stored, "m<n>"
// when made as the n-th.
QStringList units(const ImportPlan& plan) {
    QStringList result;
    for (qsizetype number = 0; number < plan.unitCount(); ++number) {
        const ImportPlan::PlannedUnit unit = plan.unit(number);
        QStringList groups;
        for (const ImportPlan::GroupRef& group : unit.groups)
            groups << (group.made >= 0 ? QStringLiteral("m%1").arg(group.made)
                                       : QStringLiteral("s%1").arg(group.stored));
        result << QStringList{unit.fields.name, unit.fields.address,
                              QString::number(unit.fields.port), unit.fields.password,
                              groups.join(QLatin1Char(','))}
                      .join(QLatin1Char('|'));
    }
    return result;
}

QStringList faults(const ImportPlan& plan) {
    QStringList result;
    for (const ImportPlan::Fault& fault : plan.faults())
        result << QStringLiteral("%1:%2: %3")
                      .arg(fault.line)
                      .arg(fault.column >= 0 ? ImportPlan::Header[fault.column]
                                             : QStringLiteral("-"),
                           fault.message);
    return result;
}

QStringList rows(const QString& sql) {
    QSqlQuery query(Database::connection());
    query.exec(sql);
    QStringList result;
    while (query.next())
        result << query.value(0).toString() + QLatin1Char('|') + query.value(1).toString();
    return result;
}

} // namespace

class TestImportPlan : public QObject {
    Q_OBJECT

private slots:
    void plans_data() {
        QTest::addColumn<QByteArray>("rows");
        QTest::addColumn<QStringList>("groups");
        QTest::addColumn<QStringList>("units");
        QTest::addColumn<QStringList>("faults");
        QTest::newRow("made") << QByteArray("new,10.0.0.9,8080,pw,kitchen;fresh;kitchen\r\n"
                                            "solo,,,,\r\n"
                                            "second,10.0.0.10,01,pw,solo;fresh\r\n")
                              << QStringList{"solo", "fresh"}
                              << QStringList{"new|10.0.0.9|8080|pw|s2,m1",
                                             "second|10.0.0.10|1|pw|m0,m1"}
                              << QStringList{};
        QTest::newRow("nothing") << QByteArray() << QStringList{} << QStringList{} << QStringList{};
        QTest::newRow("taken")
            << QByteArray("plain,10.0.0.2,80,pw,\r\nok,10.0.0.1,80,pw,\r\nok,10.0.0.2,80,pw,\r\n")
            << QStringList{} << QStringList{}
            << QStringList{"2:name: Name already in use \"plain\"",
                           "4:name: Name already in use \"ok\" (also on line 3)"};
        QTest::newRow("groups named")
            << QByteArray("a,1.1.1.1,80,pw,twin\r\nb,1.1.1.1,80,pw,plain\r\n"
                          "c,1.1.1.1,80,pw,a\r\nd,1.1.1.1,80,pw,g;\r\n")
            << QStringList{} << QStringList{}
            << QStringList{"2:groups: \"twin\" is the name of 2 records of the database; which "
                           "group is meant cannot be told",
                           "3:groups: \"plain\" is a unit of the database, not a group",
                           "4:groups: \"a\" is the unit on line 2, not a group",
                           "5:groups: an empty group name; names are separated by single ';', "
                           "with none before the first or after the last"};
        QTest::newRow("group rows")
            << QByteArray("lonely,,,,\r\nnested,,,,lonely\r\n") << QStringList{} << QStringList{}
            << QStringList{"2:name: There are no Kavios in the group",
                           "3:groups: a group's row (one without address, port and password) "
                           "names no groups; leave this field empty"};
        QTest::newRow("fields")
            << QByteArray("x,1.1.1.1,80x,pw,\r\ny,1.1.1.1,80\r\nz,1.1.1.1,80,p\xC3\x28,\r\n")
            << QStringList{} << QStringList{}
            << QStringList{"2:port: Invalid Port Number",
                           "3:-: the row has 3 fields; expected 5 (name,address,port,password,"
                           "groups)",
                           "4:password: the text is not UTF-8"};
    }

    void plans() {
        QFETCH(QByteArray, rows);
        QFETCH(QStringList, groups);
        QFETCH(QStringList, units);
        QFETCH(QStringList, faults);
        TempDatabase db;
        seedStore();
        ImportPlan made;
        QCOMPARE(plan(made, rows), faults.isEmpty());
        QCOMPARE(::faults(made), faults);
        QCOMPARE(made.faultCount(), faults.size());
        QCOMPARE(made.groupsToMake(), groups);
        QCOMPARE(::units(made), units);
    }

    // A file that is no import at all is refused before the store is asked.
    void refusedUnread() {
        QByteArray text = "name,address,port\r\nx,1.1.1.1,80\r\n";
        QBuffer buffer(&text);
        buffer.open(QIODevice::ReadOnly);
        ImportPlan made;
        QVERIFY(!made.read(buffer));
        QCOMPARE(faults(made), QStringList{"1:-: the header is \"name,address,port\"; expected "
                                           "name,address,port,password,groups"});
        ImportPlan missing;
        QVERIFY(!missing.readFile(QStringLiteral("/nonexistent/units.csv")));
        QCOMPARE(faults(missing), QStringList{"0:-: no such file"});
    }

    // The application makes the groups first, then each unit with its memberships; when the keys
    // run out halfway, nothing of it stays.
    void applicationAllOrNone() {
        TempDatabase db;
        seedStore();
        ImportPlan made;
        QVERIFY(
            plan(made, "new,10.0.0.9,8080,pw,kitchen;fresh\r\nsecond,10.0.0.10,81,pw,fresh\r\n"));
        ctl::applyImport(made);
        QCOMPARE(
            rows(QStringLiteral("SELECT \"Index\", \"Name\" FROM \"Master\" WHERE \"Index\" > 4")),
            (QStringList{"5|fresh", "6|new", "7|second"}));
        QCOMPARE(rows(QStringLiteral("SELECT * FROM \"Group\" WHERE \"GroupIndex\" <> 3")),
                 (QStringList{"2|1", "2|6", "5|6", "5|7"}));

        TempDatabase full;
        seedStore();
        ImportPlan refused;
        QVERIFY(plan(refused, "new,10.0.0.9,8080,pw,kitchen;fresh\r\nsecond,10.0.0.10,81,pw,\r\n"));
        QVERIFY(QSqlQuery(Database::connection())
                    .exec(QStringLiteral("UPDATE sqlite_sequence SET seq = 65533")));
        QVERIFY_THROWS_EXCEPTION(StoreFull, ctl::applyImport(refused));
        QCOMPARE(rows(QStringLiteral("SELECT count(*), max(\"Index\") FROM \"Master\"")),
                 QStringList{"4|4"});
        QCOMPARE(rows(QStringLiteral("SELECT count(*), 0 FROM \"Group\"")), QStringList{"1|0"});
    }
};

QTEST_GUILESS_MAIN(TestImportPlan)
#include "test_import_plan.moc"
