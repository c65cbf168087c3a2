#include "Database.h"
#include "Exception.h"
#include "Table.h"
#include "TempDatabase.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace kavio;

namespace {

QStringList tableNames() {
    QSqlQuery query(Database::connection());
    query.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type='table' AND name NOT "
                              "LIKE 'sqlite_%' ORDER BY name"));
    QStringList names;
    while (query.next())
        names << query.value(0).toString();
    return names;
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

// Creates a file with the given SQL through the sqlite3 command-line tool, as an installation
// step would.
bool createWithSqliteTool(const QString& path, const QString& sql) {
    QProcess tool;
    tool.start(QStringLiteral("sqlite3"), {path});
    if (!tool.waitForStarted())
        return false;
    tool.write(sql.toUtf8());
    tool.closeWriteChannel();
    return tool.waitForFinished() && tool.exitCode() == 0;
}

const char* contractSchema = R"(
CREATE TABLE "Master" ("Index" INTEGER PRIMARY KEY AUTOINCREMENT, "Name" TEXT, "IPAddress" TEXT,
  "Port" INTEGER, "Password" TEXT, "Group" INTEGER NOT NULL DEFAULT 0,
  "Timer" INTEGER NOT NULL DEFAULT 0, "Status" INTEGER NOT NULL DEFAULT 3,
  "Checked" INTEGER NOT NULL DEFAULT 0);
CREATE TABLE "Group" ("GroupIndex" INTEGER NOT NULL, "Index" INTEGER NOT NULL);
CREATE TABLE "Timer" ("TimerIndex" INTEGER PRIMARY KEY AUTOINCREMENT, "Index" INTEGER NOT NULL,
  "Task" INTEGER NOT NULL, "Every" INTEGER NOT NULL, "Count" INTEGER NOT NULL DEFAULT 0,
  "TimeOfDay" TEXT NOT NULL, "DayOfWeek" INTEGER NOT NULL DEFAULT 0,
  "Month" INTEGER NOT NULL DEFAULT 0, "Date" TEXT NOT NULL);
)";

// While alive, file permissions bind this process even when it runs as the superuser: the
// capability to override them is dropped from the effective set and restored afterwards.
class FilePermissionsBind {
public:
    FilePermissionsBind() {
        header.version = _LINUX_CAPABILITY_VERSION_3;
        syscall(SYS_capget, &header, saved);
        __user_cap_data_struct lowered[2] = {saved[0], saved[1]};
        lowered[0].effective &=
            ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER));
        syscall(SYS_capset, &header, lowered);
    }
    ~FilePermissionsBind() { syscall(SYS_capset, &header, saved); }
    FilePermissionsBind(const FilePermissionsBind&) = delete;
    FilePermissionsBind& operator=(const FilePermissionsBind&) = delete;

private:
    __user_cap_header_struct header{};
    __user_cap_data_struct saved[2]{};
};

} // namespace

class TestDatabase : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { Database::close(); }

    void defaultPathIsUnderGenericDataLocation() {
        QStandardPaths::setTestModeEnabled(true);
        QCOMPARE(Database::defaultPath(),
                 QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                     QStringLiteral("/KavioCC/KavioCC.db"));
        QStandardPaths::setTestModeEnabled(false);
    }

    void createsMissingFileOwnerOnlyWithItsTables() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("deeper/KavioCC/KavioCC.db"));
        Database::open(path);
        QCOMPARE(tableNames(), QStringList({"Group", "History", "Master", "Timer"}));
        QCOMPARE(QFile(path).permissions() & (QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                                              QFileDevice::ReadOther | QFileDevice::WriteOther),
                 QFileDevice::Permissions());
        QVERIFY(QFile(path).permissions() & QFileDevice::WriteOwner);

        // What was stored survives closing and opening again.
        test::TempDatabase::addUnit(QStringLiteral("kept"));
        Database::close();
        Database::open(path);
        TTable master(QStringLiteral("Master.DB"));
        master.open();
        QCOMPARE(master.recordCount(), 1);
        QCOMPARE(master.fieldByName(QStringLiteral("Name")).asString(), QStringLiteral("kept"));
    }

    void createsOnlyTheMissingTables() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("KavioCC.db"));
        QVERIFY(createWithSqliteTool(
            path,
            QStringLiteral(
                R"(CREATE TABLE "Group" ("GroupIndex" INTEGER NOT NULL, "Index" INTEGER NOT NULL);
INSERT INTO "Group" VALUES (7, 8);)")));
        Database::open(path);
        QCOMPARE(tableNames(), QStringList({"Group", "History", "Master", "Timer"}));
        TTable group(QStringLiteral("Group.DB"));
        group.open();
        QCOMPARE(group.recordCount(), 1);
        QCOMPARE(group.fieldByName(QStringLiteral("GroupIndex")).asInteger(), 7);
    }

    void worksOnFileMadeByTheSqliteTool() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("KavioCC.db"));
        if (!createWithSqliteTool(path, QLatin1String(contractSchema)))
            QFAIL("the sqlite3 tool is needed to prepare this test's file");
        Database::open(path);
        const quint16 unit = test::TempDatabase::addUnit(QStringLiteral("u1"));
        QCOMPARE(unit, quint16(1));

        // A unit appended without Group, Timer or Checked is listed as an unticked unit.
        TTable master(QStringLiteral("Master.DB"));
        master.setFilter(QStringLiteral("Group=False"));
        master.setFiltered(true);
        master.open();
        QCOMPARE(master.recordCount(), 1);
        QCOMPARE(master.fieldByName(QStringLiteral("Checked")).asBoolean(), false);
        QCOMPARE(master.fieldByName(QStringLiteral("Timer")).asBoolean(), false);
        QCOMPARE(master.fieldByName(QStringLiteral("Status")).asInteger(), 3);
        QCOMPARE(master.fieldByName(QStringLiteral("Port")).asInteger(), 4001);
    }

    // A file that an older program wrote: its first writable open moves the timers whose
    // meaning changed, once; a reader changes nothing.
    void olderTimersAreBroughtUpToDateOnce() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("KavioCC.db"));
        // Yearly: Count 0 on 29 February, on 31 March, a Count already set, a date that is no
        // date. Weekly (1 = Sunday, 4 = Tuesday, 18 = Mon+Thu): saved after the week's ticked
        // days, every 3 weeks and every 0 (1) week; saved on a Saturday with its Sunday still
        // to come; on its ticked day; with no day ticked. A daily timer with Count 0.
        if (!createWithSqliteTool(path, QLatin1String(contractSchema) + QStringLiteral(R"(
INSERT INTO "Timer" VALUES (1, 1, 0, 3, 0, '09:00:00', 0, 0, '2028-02-29');
INSERT INTO "Timer" VALUES (2, 1, 0, 3, 0, '09:00:00', 0, 0, '2027-03-31');
INSERT INTO "Timer" VALUES (3, 1, 0, 3, 29, '09:00:00', 0, 0, '2027-02-28');
INSERT INTO "Timer" VALUES (4, 1, 0, 3, 0, '09:00:00', 0, 0, '29.02.2028');
INSERT INTO "Timer" VALUES (5, 1, 0, 1, 3, '09:00:00', 18, 0, '2028-11-05');
INSERT INTO "Timer" VALUES (6, 1, 0, 1, 0, '09:00:00', 4, 0, '2028-11-04');
INSERT INTO "Timer" VALUES (7, 1, 0, 1, 3, '09:00:00', 1, 0, '2028-11-04');
INSERT INTO "Timer" VALUES (8, 1, 0, 1, 3, '09:00:00', 18, 0, '2028-11-06');
INSERT INTO "Timer" VALUES (9, 1, 0, 1, 3, '09:00:00', 0, 0, '2028-11-05');
INSERT INTO "Timer" VALUES (10, 1, 0, 0, 0, '09:00:00', 0, 0, '2028-11-05');
)"))) {
            QFAIL("the sqlite3 tool is needed to prepare this test's file");
        }
        auto timers = [] {
            QStringList rows;
            QSqlQuery query(Database::connection());
            query.exec(
                QStringLiteral(R"(SELECT "Count", "Date" FROM "Timer" ORDER BY 1 * "TimerIndex")"));
            while (query.next())
                rows << query.value(0).toString() + QLatin1Char(' ') + query.value(1).toString();
            return rows;
        };
        auto version = [] {
            QSqlQuery query(Database::connection());
            return query.exec(QStringLiteral("PRAGMA user_version")) && query.next()
                       ? query.value(0).toInt()
                       : -1;
        };
        const QStringList before = {"0 2028-02-29", "0 2027-03-31", "29 2027-02-28", "0 29.02.2028",
                                    "3 2028-11-05", "0 2028-11-04", "3 2028-11-04",  "3 2028-11-06",
                                    "3 2028-11-05", "0 2028-11-05"};
        Database::open(path, Database::Access::Read);
        QCOMPARE(timers(), before);
        QCOMPARE(version(), 0);
        Database::close();

        Database::open(path);
        const QStringList after = {
            "29 2028-02-29", "31 2027-03-31", "29 2027-02-28", "0 29.02.2028", "3 2028-11-20",
            "0 2028-11-06",  "3 2028-11-04",  "3 2028-11-06",  "3 2028-11-05", "0 2028-11-05"};
        QCOMPARE(timers(), after);
        QVERIFY(version() >= 1);
        // Records saved from now on are read by the new rules and left as they are.
        QSqlQuery(Database::connection())
            .exec(QStringLiteral(R"(UPDATE "Timer" SET "Count" = 0 WHERE "TimerIndex" = 1)"));
        Database::close();
        Database::open(path);
        QCOMPARE(timers().value(0), QStringLiteral("0 2028-02-29"));
        QCOMPARE(timers().mid(1), after.mid(1));

        // A file made here starts at the current version: nothing of it is ever migrated.
        const QString fresh = dir.filePath(QStringLiteral("fresh/KavioCC.db"));
        Database::open(fresh);
        QVERIFY(version() >= 1);
    }

    void refusesBadFilesWithoutTouchingThem_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("expected");
        QTest::newRow("not a database")
            << QByteArray("This is a text file, not a database.\n").repeated(200) << QString()
            << QStringLiteral("cannot be read");
        QTest::newRow("Master without Status")
            << QByteArray()
            << QStringLiteral(
                   R"(CREATE TABLE "Master" ("Index" INTEGER PRIMARY KEY, "Name" TEXT, "IPAddress" TEXT, "Port" INTEGER, "Password" TEXT, "Group" INTEGER, "Timer" INTEGER, "Checked" INTEGER);)")
            << QStringLiteral("without the column \"Status\"");
        QTest::newRow("Timer with a renamed column")
            << QByteArray()
            << QStringLiteral(
                   R"(CREATE TABLE "Timer" ("TimerIndex" INTEGER PRIMARY KEY, "Unit" INTEGER, "Task" INTEGER, "Every" INTEGER, "Count" INTEGER, "TimeOfDay" TEXT, "DayOfWeek" INTEGER, "Month" INTEGER, "Date" TEXT);)")
            << QStringLiteral("table \"Timer\" without the column \"Index\"");
    }

    void refusesBadFilesWithoutTouchingThem() {
        QFETCH(QByteArray, content);
        QFETCH(QString, sql);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("KavioCC.db"));
        if (sql.isEmpty()) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(content);
        } else {
            QVERIFY(createWithSqliteTool(path, sql));
        }
        const QByteArray before = readAll(path);

        try {
            Database::open(path);
            QFAIL("a bad file was accepted");
        } catch (const DatabaseError& error) {
            QVERIFY2(error.message().contains(path), qPrintable(error.message()));
            QVERIFY2(error.message().contains(expected), qPrintable(error.message()));
        }
        QVERIFY(!Database::isOpen());
        QCOMPARE(readAll(path), before);
        QVERIFY(!QFile::exists(path + QStringLiteral("-wal")));
    }

    void refusesFileWithDamagedPages() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("KavioCC.db"));
        QString sql = QLatin1String(contractSchema);
        sql += QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                              "WHERE i < 3000) INSERT INTO \"Master\" (\"Name\") SELECT "
                              "printf('Unit %05d with a fairly long name', i) FROM n;");
        QVERIFY(createWithSqliteTool(path, sql));
        {
            // Scribble over a page in the middle of the units' data.
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.size() > 20 * 4096);
            file.seek(10 * 4096);
            file.write(QByteArray(4096, '\x5a'));
        }
        const QByteArray before = readAll(path);
        try {
            Database::open(path);
            QFAIL("a damaged file was accepted");
        } catch (const DatabaseError& error) {
            QVERIFY2(error.message().contains(path), qPrintable(error.message()));
            QVERIFY2(error.message().contains(QStringLiteral("damaged")),
                     qPrintable(error.message()));
        }
        QCOMPARE(readAll(path), before);
    }

    void refusesFileItCannotWrite() {
        // The superuser may write any file; set that power aside for this test so that the
        // file's permissions bind as they would for an operator.
        const FilePermissionsBind binding;
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("KavioCC.db"));
        QVERIFY(createWithSqliteTool(path, QLatin1String(contractSchema)));
        QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner));
        const QByteArray before = readAll(path);
        try {
            Database::open(path);
            QFAIL("a file that cannot be written was accepted");
        } catch (const DatabaseError& error) {
            QVERIFY2(error.message().contains(path), qPrintable(error.message()));
            QVERIFY2(error.message().contains(QStringLiteral("cannot be written")),
                     qPrintable(error.message()));
        }
        QCOMPARE(readAll(path), before);
    }

    // A file in rollback-journal mode whose folder cannot be written: SQLite could not put its
    // journal beside it, so no change could ever be stored. Refused and left untouched.
    void refusesFileWhoseJournalCannotBeMade() {
        const FilePermissionsBind binding;
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("readonly"));
        QVERIFY(QDir().mkdir(folder));
        const QString path = folder + QStringLiteral("/KavioCC.db");
        QVERIFY(createWithSqliteTool(path, QLatin1String(contractSchema)));
        const QByteArray before = readAll(path);
        QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        QString message;
        try {
            Database::open(path);
        } catch (const DatabaseError& error) {
            message = error.message();
        }
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ExeOwner);
        QVERIFY2(message.contains(path) && message.contains(QStringLiteral("cannot be written")),
                 qPrintable(message));
        QVERIFY(!Database::isOpen());
        QCOMPARE(readAll(path), before);
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList({"KavioCC.db"}));
    }

    // The folder and the file are private from their first moment, whatever the umask.
    void createsPrivateFolderAndFileWhateverTheUmask_data() {
        QTest::addColumn<int>("mask");
        QTest::newRow("umask 0") << 0;
        QTest::newRow("umask 022") << 022;
        QTest::newRow("umask 0777") << 0777;
    }

    void createsPrivateFolderAndFileWhateverTheUmask() {
        QFETCH(int, mask);
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("share/KavioCC"));
        const QString path = folder + QStringLiteral("/KavioCC.db");
        const mode_t saved = ::umask(mode_t(mask));
        try {
            Database::open(path);
        } catch (...) {
            ::umask(saved);
            throw;
        }
        ::umask(saved);
        test::TempDatabase::addUnit(QStringLiteral("kept"));
        auto modeOf = [](const QString& name) {
            struct stat info {};
            return ::stat(QFile::encodeName(name).constData(), &info) == 0
                       ? int(info.st_mode & 07777)
                       : -1;
        };
        QCOMPARE(modeOf(dir.filePath(QStringLiteral("share"))), 0700);
        QCOMPARE(modeOf(folder), 0700);
        QCOMPARE(modeOf(path), 0600);
        QCOMPARE(modeOf(path + QStringLiteral("-wal")), 0600);
    }

    void tablesNeedAnOpenDatabase() {
        {
            // Closing really closes the file, even while a caller still holds the connection.
            test::TempDatabase db;
            QSqlDatabase held = Database::connection();
            QVERIFY(held.isOpen());
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("still in use")));
            Database::close();
            QVERIFY(!held.isOpen());
            QVERIFY_THROWS_EXCEPTION(DatabaseError, Database::connection());
        }
        TTable master(QStringLiteral("Master.DB"));
        QVERIFY_THROWS_EXCEPTION(DatabaseError, master.open());
        QVERIFY_THROWS_EXCEPTION(DatabaseError, TTable(QStringLiteral("Units.DB")));
    }
};

QTEST_GUILESS_MAIN(TestDatabase)
#include "test_database.moc"
