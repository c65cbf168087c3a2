#include "Exception.h"
#include "ListLines.h"
#include "Schema.h"
#include "SqlRunner.h"
#include "StatusCounts.h"
#include "TempDatabase.h"
#include "TimerStore.h"
#include "UnitDirectory.h"

#include <QSqlQuery>
#include <QTest>

using namespace kavio;
using test::TempDatabase;

namespace {

void exec(const QString& sql) {
    QSqlQuery query(Database::connection());
    QVERIFY2(query.exec(sql), qPrintable(sql));
}

template <typename Read, typename... Args> QList<quint16> keysOf(Read read, Args... args) {
    QList<quint16> keys;
    read(args..., [&keys](lines::ListedRecord&& record) { keys << record.index; });
    return keys;
}

} // namespace

class TestStoreReads : public QObject {
    Q_OBJECT

private slots:
    // Records whose key is no whole number in 1..65535 are seen by none of the reads; a group's
    // membership rows repeated or pointing at groups give each record once, in key order.
    void readsSkipBadKeysAndRepeatedRows() {
        TempDatabase db;
        const quint16 group = TempDatabase::addGroup(QStringLiteral("g"));
        const quint16 other = TempDatabase::addGroup(QStringLiteral("other"));
        const quint16 b = TempDatabase::addUnit(QStringLiteral("b"));
        const quint16 a = TempDatabase::addUnit(QStringLiteral("a"));
        exec(QStringLiteral(R"(INSERT INTO "Master" ("Index", "Name", "Group", "Status")
 VALUES (70000, 'far', 0, 0))"));
        for (const quint16 member : {b, a, b, other})
            exec(QStringLiteral(R"(INSERT INTO "Group" ("GroupIndex", "Index") VALUES (%1, %2))")
                     .arg(group)
                     .arg(member));
        exec(QStringLiteral(R"(INSERT INTO "Group" ("GroupIndex", "Index") VALUES (%1, 70000))")
                 .arg(group));
        exec(QStringLiteral(R"(INSERT INTO "Group" ("GroupIndex", "Index") VALUES (%1, '2.5'))")
                 .arg(group));

        QCOMPARE(keysOf(lines::unitsByKey), (QList<quint16>{b, a}));
        QCOMPARE(keysOf(lines::groupsByKey), (QList<quint16>{group, other}));
        QCOMPARE(keysOf(lines::membersByKey, group), (QList<quint16>{other, b, a}));
        QCOMPARE(directory::unitKeys(), (QList<quint16>{b, a}));
        QCOMPARE(directory::memberKeysInRowOrder(group), (std::vector<quint16>{b, a, b, other}));
        QCOMPARE(directory::memberKeys(group), (QSet<quint16>{a, b, other}));
        const std::vector<UnitTarget> units = directory::unitMembersByKey(group);
        QCOMPARE(units.size(), size_t(2));
        QCOMPARE(units[0].index, b);
        QCOMPARE(units[1].name, QStringLiteral("a"));

        const std::vector<StoredRecord> records = directory::recordsByKey();
        QCOMPARE(records.size(), size_t(4));
        QVERIFY(records[0].group && records[1].group && !records[2].group);
        QCOMPARE(records[3].name, QStringLiteral("a"));

        QVERIFY(directory::kindOf(group)->group);
        QVERIFY(!directory::kindOf(a)->group);
        QVERIFY(!directory::kindOf(999));
    }

    // Units by status: an unknown code counts as unknown; groups and far keys count nothing.
    void unitsByStatusCountsKnownCodes() {
        TempDatabase db;
        TempDatabase::addGroup(QStringLiteral("g"));
        for (int status : {0, 0, 1, 4, 9, -1})
            exec(QStringLiteral(R"(UPDATE "Master" SET "Status" = %1 WHERE "Index" = %2)")
                     .arg(status)
                     .arg(TempDatabase::addUnit(QStringLiteral("u"))));
        exec(QStringLiteral(R"(INSERT INTO "Master" ("Index", "Name", "Group", "Status")
 VALUES (70000, 'far', 0, 0))"));
        QCOMPARE(unitsByStatus(), (std::array<int, 6>{2, 1, 0, 2, 1, 0}));
    }

    // Only the dates that change are written (the stored one is compared, not another field);
    // with a day given, only the passed timers that repeat are walked; the walk's index exists.
    void rewriteDatesWritesOnlyChanges() {
        TempDatabase db;
        const quint16 unit = TempDatabase::addUnit(QStringLiteral("u"));
        for (const auto& [every, date] :
             {std::pair{0, "2026-01-01"}, std::pair{4, "2026-01-01"}, std::pair{1, "2026-06-01"}})
            exec(QStringLiteral(R"(INSERT INTO "Timer" ("Index", "Task", "Every", "TimeOfDay",
 "Date") VALUES (%1, 0, %2, '08:00', '%3'))")
                     .arg(unit)
                     .arg(every)
                     .arg(QLatin1String(date)));
        auto changes = [] {
            QSqlQuery query(Database::connection());
            query.exec(QStringLiteral("SELECT total_changes()"));
            return query.next() ? query.value(0).toLongLong() : -1;
        };
        QStringList walked;
        const qint64 before = changes();
        timers::rewriteDates(std::nullopt, [&](const timers::TimerField& field) {
            walked << field("Every").toString();
            return std::optional<QString>(field("Date").toString());
        });
        QCOMPARE(walked, (QStringList{"0", "4", "1"}));
        QCOMPARE(changes(), before);

        walked.clear();
        timers::rewriteDates(QStringLiteral("2026-03-01"), [&](const timers::TimerField& field) {
            walked << field("Every").toString();
            return std::optional<QString>(QStringLiteral("2026-03-02"));
        });
        QCOMPARE(walked, QStringList{"0"});
        QCOMPARE(changes(), before + 1);
        QCOMPARE(timers::eventsOn(QStringLiteral("2026-03-02")).size(), size_t(1));

        timers::addDateIndex();
        QSqlQuery index(Database::connection());
        QVERIFY(index.exec(
            QStringLiteral(R"(SELECT count(*) FROM sqlite_master WHERE name = 'TimerByDate')")));
        QVERIFY(index.next());
        QCOMPARE(index.value(0).toInt(), 1);
    }

    // A failed read names the table and the file of the connection it ran on.
    void failedReadNamesTableAndFile() {
        TempDatabase db;
        try {
            runQuery(Database::connection(), QStringLiteral("Nowhere.DB"),
                     QStringLiteral("SELECT 1 FROM \"Nowhere\""));
            QFAIL("no error");
        } catch (const DatabaseError& error) {
            QVERIFY2(error.message().startsWith(QStringLiteral("Table Nowhere.DB of ")),
                     qPrintable(error.message()));
            QVERIFY2(error.message().contains(QStringLiteral("KavioCC.db cannot be read: ")),
                     qPrintable(error.message()));
        }
        QCOMPARE(
            schema::validKeyCondition(QStringLiteral("Index"), QStringLiteral("m")),
            QStringLiteral(R"((typeof(m."Index") = 'integer' AND m."Index" BETWEEN 1 AND 65535))"));
    }
};

QTEST_GUILESS_MAIN(TestStoreReads)
#include "test_store_reads.moc"
