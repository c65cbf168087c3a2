// kavioctl's list, export and import, run as the real program against a real database file.

#include "SqliteTool.h"
#include "UnitCsv.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using kavio::test::runSqliteTool;

namespace {

const QByteArray Header = "name,address,port,password,groups\r\n";

struct Run {
    int code = -1;
    QString out;
    QString err;
};

class StoreCommandsTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    int files = 0;

    QString path(const QString& name) const { return dir.filePath(name); }

    // A fresh database file made by kavioctl itself (its tables as the program creates them).
    QString freshDatabase() {
        const QString db = path(QStringLiteral("db%1.db").arg(++files));
        kavioctl({QStringLiteral("list"), QStringLiteral("--create")}, db);
        return db;
    }

    QString writeFile(const QByteArray& bytes) {
        const QString name = path(QStringLiteral("in%1.csv").arg(++files));
        QFile file(name);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(name));
        return name;
    }

    Run kavioctl(QStringList arguments, const QString& database, const QString& output = {}) {
        QProcess process;
        if (!output.isEmpty())
            process.setStandardOutputFile(output);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_DATA_HOME"), path(QStringLiteral("data")));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), path(QStringLiteral("run")));
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(KAVIOCTL_PATH),
                      arguments << QStringLiteral("--database") << database);
        Run run;
        if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
            return run;
        run.code = process.exitCode();
        run.out = QString::fromUtf8(process.readAllStandardOutput());
        run.err = QString::fromUtf8(process.readAllStandardError());
        return run;
    }

    // Everything in the file, keys and key counters included.
    static QString dump(const QString& db) { return runSqliteTool(db, QStringLiteral(".dump")); }

    // Units and groups as names and values, memberships by name: what must survive a round
    // trip whatever keys the records get.
    static QString content(const QString& db) {
        return runSqliteTool(
            db, QStringLiteral(
                    "SELECT quote(Name), IPAddress, Port, Password, \"Group\", Timer, Status, "
                    "Checked FROM Master ORDER BY Name;"
                    "SELECT quote(u.Name), quote(g.Name) FROM \"Group\" AS r JOIN Master AS u ON "
                    "u.\"Index\" = r.\"Index\" JOIN Master AS g ON g.\"Index\" = r.GroupIndex "
                    "ORDER BY 1, 2;"));
    }

    // Units and groups with names that CSV has to quote, and members.
    // With `beyond`, also a unit whose key no consumer can hold, which the commands pass over.
    QString seeded(bool beyond = true) {
        const QString db = freshDatabase();
        bool ok = false;
        runSqliteTool(
            db,
            QStringLiteral(
                "INSERT INTO Master (\"Index\", Name, \"Group\") VALUES (1, 'Lab, \"east\"', 1),"
                " (2, 'Küche', 1), (3, 'empty', 1);"
                "INSERT INTO Master (\"Index\", Name, IPAddress, Port, Password, Status, Timer) "
                "VALUES (4, 'rack' || char(10) || 'two', '10.0.0.1', 80, 'pa,\"ss', 0, 1),"
                " (5, ' Ölpumpe ', '192.168.1.20', 65535, 'SECRETPW', 1, 0),"
                " (6, 'plain', '1.2.3.4', 4001, 'x', 4, 0),"
                " (70000, 'beyond', '1.2.3.5', 1, 'x', 3, 0);"
                "INSERT INTO \"Group\" VALUES (1, 4), (2, 4), (1, 5), (2, 6), (1, 70000);"),
            &ok);
        if (!ok)
            qFatal("cannot seed %s", qPrintable(db));
        if (!beyond)
            runSqliteTool(db, QStringLiteral("DELETE FROM Master WHERE \"Index\" = 70000;"
                                             "DELETE FROM \"Group\" WHERE \"Index\" = 70000;"
                                             "UPDATE sqlite_sequence SET seq = 6;"));
        return db;
    }

private slots:
    void initTestCase() { QVERIFY(dir.isValid()); }

    void exportedListImportsAsItWas() {
        const QString first = seeded();
        // Names as they are: one that begins with U+FEFF, and ones a spreadsheet would take for
        // a formula.
        runSqliteTool(
            first,
            QStringLiteral("INSERT INTO Master (\"Index\", Name, IPAddress, Port, Password) "
                           "VALUES (10, char(65279) || 'mark', '1.1.1.1', 1, 'p'),"
                           " (11, '=SUM(A1)', '1.1.1.2', 2, 'p'), (12, '+1', '1.1.1.3', 3, 'p'),"
                           " (13, '-2', '1.1.1.4', 4, 'p'), (14, '@x', '1.1.1.5', 5, 'p');"));
        const QString a = path(QStringLiteral("a.csv"));
        {
            // An older file is replaced, and readable by its owner only from now on.
            QFile old(a);
            QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
            QVERIFY(old.setPermissions(old.permissions() | QFile::ReadOther | QFile::ReadGroup));
        }
        const Run exported = kavioctl({"export", "--with-passwords", "--output", a}, first);
        QCOMPARE(exported.code, 0);
        // The import takes no group without units, so none is written.
        QVERIFY(exported.err.endsWith("the group \"empty\" has no units and is left out\n"));
        QCOMPARE(QFile::permissions(a),
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
        QFile file(a);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QByteArray bytes = file.readAll();
        QVERIFY(bytes.startsWith(Header));
        QVERIFY(bytes.contains("\"Lab, \"\"east\"\"\",,,,\r\n"));
        QVERIFY(bytes.contains(
            "\"rack\ntwo\",10.0.0.1,80,\"pa,\"\"ss\",\"Küche;Lab, \"\"east\"\"\"\r\n"));
        QVERIFY(!bytes.contains("beyond"));
        for (const char* row :
             {"\r\n=SUM(A1),1.1.1.2,", "\r\n+1,", "\r\n-2,", "\r\n@x,", "\r\n\xEF\xBB\xBFmark,"})
            QVERIFY2(bytes.contains(row), row);

        // The hand-edited name with a line break goes out as it is, but no way in takes it.
        const QString second = freshDatabase();
        const Run refused = kavioctl({"import", a}, second);
        QVERIFY2(refused.err.contains(":10: field name: The Name may not contain control"),
                 qPrintable(refused.err));
        QCOMPARE(refused.code, 1);
        runSqliteTool(first, QStringLiteral("UPDATE Master SET Name = 'rack two' WHERE Name = "
                                            "'rack' || char(10) || 'two';"));
        QCOMPARE(kavioctl({"export", "--with-passwords", "--output", a}, first).code, 0);
        QFile fixed(a);
        QVERIFY(fixed.open(QIODevice::ReadOnly));
        bytes = fixed.readAll();
        const Run imported = kavioctl({"import", a}, second);
        QCOMPARE(imported.err, QString());
        QCOMPARE(imported.out, QStringLiteral("Imported 8 units and 2 groups\n"));
        QCOMPARE(imported.code, 0);
        const QString b = path(QStringLiteral("b.csv"));
        QCOMPARE(kavioctl({"export", "--with-passwords", "--output", b}, second).code, 0);
        QFile again(b);
        QVERIFY(again.open(QIODevice::ReadOnly));
        QCOMPARE(again.readAll(), bytes);
        // The record out of reach stays behind; all else arrives, with status unknown.
        runSqliteTool(first, QStringLiteral("DELETE FROM Master WHERE \"Index\" > 65535;"
                                            "DELETE FROM \"Group\" WHERE \"Index\" > 65535;"
                                            "DELETE FROM Master WHERE Name = 'empty';"
                                            "UPDATE Master SET Status = 3, Timer = 0;"));
        QCOMPARE(content(second), content(first));
    }

    void exportWithoutPasswords() {
        const QString db = seeded();
        const Run run = kavioctl({"export"}, db);
        QCOMPARE(run.code, 0);
        QVERIFY(!run.out.contains("SECRETPW"));
        const auto document = kavio::ctl::csv::read(run.out.toUtf8());
        QCOMPARE(document.records.size(), 6);
        for (const auto& record : document.records.mid(1)) {
            QCOMPARE(record.fields.size(), 5);
            QCOMPARE(record.fields[3], QString());
        }
        QCOMPARE(document.records[3].fields,
                 QStringList({" Ölpumpe ", "192.168.1.20", "65535", "", "Lab, \"east\""}));

        // Without passwords too, the file is the owner's alone, new or replaced.
        const QString shared = path(QStringLiteral("shared.csv"));
        const QFile::Permissions owner =
            QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser;
        QCOMPARE(kavioctl({"export", "--output", shared}, db).code, 0);
        QCOMPARE(QFile::permissions(shared), owner);
        QFile old(shared);
        QVERIFY(old.setPermissions(owner | QFile::ReadGroup | QFile::ReadOther));
        QCOMPARE(kavioctl({"export", "--output", shared}, db).code, 0);
        QCOMPARE(QFile::permissions(shared), owner);
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), run.out.toUtf8());

        // A group name with the separator of the groups column cannot be written.
        runSqliteTool(db, QStringLiteral("UPDATE Master SET Name = 'a;b' WHERE \"Index\" = 3;"));
        const QString target = path(QStringLiteral("refused.csv"));
        const Run refused = kavioctl({"export", "--output", target}, db);
        QCOMPARE(refused.code, 1);
        QVERIFY(refused.err.contains("\"a;b\""));
        QVERIFY(!QFile::exists(target));
        QCOMPARE(kavioctl({"export", "--output", path("missing/x.csv")}, seeded()).code, 1);
    }

    void list() {
        const QString db = seeded();
        runSqliteTool(db, QStringLiteral("INSERT INTO Master (\"Index\", Name, IPAddress, Port,"
                                         " Password) VALUES (7, 'Plain 10', '1.1.1.1', 1, 'x'),"
                                         " (9, 'plain 9', '1.1.1.2', 2, 'x'),"
                                         " (8, 'z\\' || char(31) || char(9) || '\"', '', NULL,"
                                         " 'x');"
                                         // The mark follows the timers, not the stored flag:
                                         // a timer made by hand marks 7, the flag alone marks
                                         // nothing on 6, and 4 is marked by a timer of its own.
                                         "UPDATE Master SET Timer = 1 WHERE \"Index\" = 6;"
                                         "INSERT INTO Timer (\"Index\", Task, Every, TimeOfDay,"
                                         " Date) VALUES (7, 1, 4, '09:30:00', '2030-01-01'),"
                                         " (4, 0, 0, '08:00:00', '2030-01-01');"));
        const Run text = kavioctl({"list"}, db);
        QCOMPARE(text.code, 0);
        QVERIFY2(text.err.startsWith("kavioctl: Records with keys outside 1 to 65535 are ignored "
                                     "(Master.DB: 70000"),
                 qPrintable(text.err));
        const QStringList lines = text.out.split('\n');
        QCOMPARE(lines.size(), 10 + 1);
        QCOMPARE(lines.last(), QString());
        QCOMPARE(lines[0].simplified(),
                 QStringLiteral("KIND INDEX STATUS TIMER ADDRESS PORT NAME GROUPS"));
        const QStringList expected = {"group 3 - no - - empty -",
                                      "group 2 - no - - Küche -",
                                      "group 1 - no - - Lab, \"east\" -",
                                      "unit 5 OFF no 192.168.1.20 65535 Ölpumpe Lab, \"east\"",
                                      "unit 6 UNREACHABLE no 1.2.3.4 4001 plain Küche",
                                      "unit 9 UNKNOWN no 1.1.1.2 2 plain 9 -",
                                      "unit 7 UNKNOWN yes 1.1.1.1 1 Plain 10 -",
                                      "unit 4 ON yes 10.0.0.1 80 rack\\ntwo Küche;Lab, \"east\"",
                                      "unit 8 UNKNOWN no - - z\\\\x1f\\t\" -"};
        for (int i = 0; i < expected.size(); ++i)
            QCOMPARE(lines[i + 1].simplified(), expected[i]);
        // Columns line up under the header.
        QCOMPARE(lines[1].indexOf("no"), lines[0].indexOf("TIMER"));
        QCOMPARE(lines[4].indexOf("192"), lines[0].indexOf("ADDRESS"));

        const Run json = kavioctl({"list", "--json"}, db);
        QCOMPARE(json.code, 0);
        const QJsonArray array = QJsonDocument::fromJson(json.out.toUtf8()).array();
        QCOMPARE(array.size(), 9);
        QCOMPARE(array[8].toObject().value("name").toString(), QStringLiteral("z\\\x1f\t\""));
        QVERIFY(array[8].toObject().value("port").isNull());
        QCOMPARE(array[0].toObject().value("kind").toString(), QStringLiteral("group"));
        QVERIFY(array[0].toObject().value("status").isNull());
        const QJsonObject rack = array[7].toObject();
        QCOMPARE(rack.value("name").toString(), QStringLiteral("rack\ntwo"));
        QCOMPARE(rack.value("index").toInt(), 4);
        QCOMPARE(rack.value("address").toString(), QStringLiteral("10.0.0.1"));
        QCOMPARE(rack.value("port").toInt(), 80);
        QCOMPARE(rack.value("status").toString(), QStringLiteral("ON"));
        QCOMPARE(rack.value("timer").toBool(), true);
        QCOMPARE(rack.value("groups").toArray(), QJsonArray({"Küche", "Lab, \"east\""}));
        for (const QString& out : {text.out, json.out})
            QVERIFY(!out.contains("SECRETPW") && !out.contains("pa,") && !out.contains("beyond"));

        const Run members = kavioctl({"list", "--group", "Küche"}, db);
        QCOMPARE(members.code, 0);
        QCOMPARE(members.out.count('\n'), 3);
        QVERIFY(members.out.section('\n', 1, 1).contains(" plain"));
        QVERIFY(members.out.section('\n', 2, 2).contains("rack\\ntwo"));
        const Run empty = kavioctl({"list", "--group", "empty", "--json"}, db);
        QCOMPARE(empty.code, 0);
        QCOMPARE(QJsonDocument::fromJson(empty.out.toUtf8()).array().size(), 0);
        QVERIFY(empty.err.contains("has no members"));
        const Run unknown = kavioctl({"list", "--group", "küche"}, db);
        QCOMPARE(unknown.code, 1);
        QCOMPARE(unknown.out, QString());
        QVERIFY(unknown.err.contains("\"küche\" is the name of no group"));
        QVERIFY(kavioctl({"list", "--group", "plain"}, db).err.contains("is a unit"));
    }

    void importAddsToTheStore() {
        const QString db = seeded(false);
        const QString file = writeFile("\xEF\xBB\xBF" + Header +
                                       "new,10.0.0.9,8080,pw,K\xC3\xBC"
                                       "che;fresh;K\xC3\xBC"
                                       "che\r\n\r\nsolo,,,,\r\n"
                                       "second,10.0.0.10,01,pw,solo;fresh\n");
        const QString before = dump(db);
        const Run dry = kavioctl({"import", "--dry-run", file}, db);
        QCOMPARE(dry.err, QString());
        QCOMPARE(dry.out, QStringLiteral("Would import 2 units and 2 groups\n"));
        QCOMPARE(dry.code, 0);
        QCOMPARE(dump(db), before);
        const Run real = kavioctl({"import", file}, db);
        QCOMPARE(real.out, QStringLiteral("Imported 2 units and 2 groups\n"));
        QCOMPARE(real.code, 0);
        QCOMPARE(runSqliteTool(db, "SELECT \"Index\", Name, IPAddress, Port, Password, \"Group\", "
                                   "Timer, Status, Checked FROM Master WHERE \"Index\" > 6;"
                                   "SELECT * FROM \"Group\" WHERE \"Index\" > 6;"),
                 QStringLiteral("7|solo||||1|0|3|0\n8|fresh||||1|0|3|0\n"
                                "9|new|10.0.0.9|8080|pw|0|0|3|0\n"
                                "10|second|10.0.0.10|1|pw|0|0|3|0\n"
                                "2|9\n8|9\n7|10\n8|10"));
        // Every name is taken now: importing again changes nothing.
        const QString after = dump(db);
        const Run again = kavioctl({"import", file}, db);
        QCOMPARE(again.code, 1);
        QCOMPARE(again.err.count("Name already in use"), 3);
        QCOMPARE(dump(db), after);
    }

    void oneBadRowChangesNothing() {
        QByteArray bytes = Header;
        for (int i = 0; i < 300; ++i)
            bytes += QStringLiteral("unit %1,10.0.%2.%3,80,pw,big\r\n")
                         .arg(i)
                         .arg(i / 256)
                         .arg(i % 256)
                         .toUtf8();
        bytes += "bad,10.0.0.1,80x,pw,\r\nlast,10.0.9.9,80,pw,big\r\n";
        for (const bool beyond : {false, true}) {
            const QString db = seeded(beyond);
            const QString before = dump(db);
            const Run run = kavioctl({"import", writeFile(bytes)}, db);
            QCOMPARE(run.code, 1);
            QCOMPARE(run.out, QString());
            // Row faults first; only a file without them reaches the key limit.
            QVERIFY2(run.err.contains(":302: field port: Invalid Port Number\n"),
                     qPrintable(run.err));
            QCOMPARE(run.err.count('\n'), beyond ? 3 : 2); // the ignored key named once
            QCOMPARE(dump(db), before);
        }
        const QString full = seeded(true);
        const QString before = dump(full);
        const Run refused = kavioctl({"import", writeFile(Header + "a,1.1.1.1,1,p,\n")}, full);
        QCOMPARE(refused.code, 1);
        QVERIFY2(refused.err.contains("key 70001, above the largest key 65535"),
                 qPrintable(refused.err));
        QCOMPARE(dump(full), before);
    }

    void badInput_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("message");
        const QByteArray good = "ok,10.0.0.1,80,pw,\r\n";
        QTest::newRow("header") << QByteArray("name,address,port,password\r\n" + good)
                                << ":1: the header is \"name,address,port,password\"; expected "
                                   "name,address,port,password,groups";
        QTest::newRow("empty") << QByteArray() << ": the file is empty";
        QTest::newRow("only a mark") << QByteArray("\xEF\xBB\xBF") << ": the file is empty";
        QTest::newRow("unterminated")
            << QByteArray(Header + good + "\"open,1.1.1.1,80,pw,\r\nmore\r\n")
            << ":3: field name: a quoted field is not closed";
        QTest::newRow("quote inside") << QByteArray(Header + "a\"b,1.1.1.1,80,pw,\r\n")
                                      << ":2: field name: a double quote inside a field";
        QTest::newRow("sixth field") << QByteArray(Header + "x,1.1.1.1,80,pw,,a\"b\r\n")
                                     << ":2: a double quote inside a field";
        QTest::newRow("after quote") << QByteArray(Header + "x,\"1.1.1.1\"x,80,pw,\r\n")
                                     << ":2: field address: text after the closing double quote";
        QTest::newRow("lone CR") << QByteArray(Header + "x,1.1.1.1,80,pw,\rnext\r\n")
                                 << ":2: field groups: a carriage return without a line feed";
        QTest::newRow("fields") << QByteArray(Header + good + "\"a\nb\",1.1.1.1,80\r\n")
                                << ":3: the row has 3 fields; expected 5";
        QTest::newRow("utf-8") << QByteArray(Header + good + "x,1.1.1.1,80,p\xC3\x28,\r\n")
                               << ":3: field password: the text is not UTF-8";
        QTest::newRow("port") << QByteArray(Header + "x,1.1.1.1,80x,pw,\r\n")
                              << ":2: field port: Invalid Port Number";
        QTest::newRow("port 0") << QByteArray(Header + "x,1.1.1.1,0,pw,\r\n")
                                << ":2: field port: Invalid Port Number";
        QTest::newRow("port long") << QByteArray(Header + "x,1.1.1.1,000080,pw,\r\n")
                                   << ":2: field port: Port longer than 5 characters (it has 6)";
        QTest::newRow("no port") << QByteArray(Header + "x,1.1.1.1,,pw,\r\n")
                                 << ":2: field port: You MUST enter a Port";
        QTest::newRow("address") << QByteArray(Header + "x,10.0.0.256,80,pw,\r\n")
                                 << ":2: field address: Triplets must be of range 0..255  "
                                    "IPAddressString[10.0.0.256]";
        QTest::newRow("no address")
            << QByteArray(Header + "x,,80,pw,\r\n") << ":2: field address: Invalid IP Address";
        QTest::newRow("no password")
            << QByteArray(Header + "x,1.1.1.1,80,,\r\n")
            << ":2: field password: You Forgot to enter the Kavio's Password";
        QTest::newRow("password") << QByteArray(Header + "x,1.1.1.1,80,12345678901,\r\n")
                                  << ":2: field password: Password longer than 10 characters";
        QTest::newRow("ESC and CR") << QByteArray(Header + "x,1.1.1.1,80,\"x\x1B"
                                                           "f\r\",\r\n")
                                    << ":2: field password: The Password may not contain control";
        QTest::newRow("no name") << QByteArray(Header + ",1.1.1.1,80,pw,\r\n")
                                 << ":2: field name: You MUST enter a name";
        QTest::newRow("name") << QByteArray(Header + QByteArray(33, 'n') + ",1.1.1.1,80,pw,\r\n")
                              << ":2: field name: Name longer than 32 characters (it has 33)";
        QTest::newRow("NUL") << Header + QByteArray("x,1.1.1.1,80,p\0w,\r\n", 20)
                             << ":2: field password: contains a NUL character";
        QTest::newRow("twice") << QByteArray(Header + good + "\r\nok,10.0.0.2,80,pw,\r\n")
                               << ":4: field name: Name already in use \"ok\" (also on line 2)";
        QTest::newRow("in store") << QByteArray(Header + "plain,10.0.0.2,80,pw,\r\n")
                                  << ":2: field name: Name already in use \"plain\"\n";
        QTest::newRow("store case") << QByteArray(Header + "Plain,10.0.0.2,80,pw,plain\r\n")
                                    << ":2: field groups: \"plain\" is a unit of the database";
        QTest::newRow("unit as group") << QByteArray(Header + good + "x,1.1.1.1,80,pw,ok\r\n")
                                       << ":3: field groups: \"ok\" is the unit on line 2";
        QTest::newRow("empty group") << QByteArray(Header + "x,1.1.1.1,80,pw,a;\r\n")
                                     << ":2: field groups: an empty group name";
        QTest::newRow("long group")
            << QByteArray(Header + "x,1.1.1.1,80,pw," + QByteArray(33, 'g') + "\r\n")
            << ":2: field groups: Group name longer than 32 characters";
        QTest::newRow("lonely group") << QByteArray(Header + good + "g,,,,\r\n")
                                      << ":3: field name: There are no Kavios in the group";
        QTest::newRow("group in group")
            << QByteArray(Header + "g,,,,h\r\n") << ":2: field groups: a group's row";
        QTest::newRow("huge") << QByteArray(Header + "x," + QByteArray(10 << 20, '1') +
                                            ",80,pw,\r\n")
                              << ":2: field address: Illegal length for "
                                 "IPString![1111111111111111111111111111111111111111...(10485760)]";
    }

    void badInput() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, message);
        const QString db = seeded(false);
        const QString before = dump(db);
        const QString file = writeFile(bytes);
        const Run run = kavioctl({"import", file}, db);
        QCOMPARE(run.code, 1);
        QCOMPARE(run.out, QString());
        QVERIFY2(run.err.startsWith("kavioctl: " + file + message), qPrintable(run.err));
        QVERIFY(run.err.size() < 600);
        QCOMPARE(dump(db), before);
    }

    void unreadableFiles() {
        const QString db = seeded(false);
        QVERIFY(
            kavioctl({"import", path("none.csv")}, db).err.endsWith("none.csv: no such file\n"));
        // A file name is shown with its control characters escaped, as names are by `list`.
        QVERIFY(kavioctl({"import", path("no\x1b[2Jne.csv")}, db)
                    .err.endsWith("/no\\x1b[2Jne.csv: no such file\n"));
        QVERIFY(kavioctl({"import", dir.path()}, db).err.contains("is a folder"));
        QFile big(path("big.csv"));
        QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(65 << 20));
        big.close();
        QVERIFY(kavioctl({"import", big.fileName()}, db).err.contains("files above 64 MB"));
    }

    // A result that cannot be written to standard output is a failure, said on standard error.
    void outputThatCannotBeWritten_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("list") << QStringList{"list"};
        QTest::newRow("list --json") << QStringList{"list", "--json"};
        QTest::newRow("export") << QStringList{"export", "--with-passwords"};
        QTest::newRow("help") << QStringList{"--help"};
    }

    void outputThatCannotBeWritten() {
        QFETCH(QStringList, arguments);
        const Run run = kavioctl(arguments, seeded(false), QStringLiteral("/dev/full"));
        QCOMPARE(run.code, 1);
        QVERIFY2(run.err.endsWith("kavioctl: standard output cannot be written: No space left on "
                                  "device\n"),
                 qPrintable(run.err));
    }

    // Only the default database is made on demand: another one that is not there is refused,
    // and nothing is created, unless --create asks for it.
    void givenDatabaseMustExist() {
        const QString db = path(QStringLiteral("unmounted/disk/KavioCC.db"));
        const Run refused = kavioctl({"list"}, db);
        QCOMPARE(refused.code, 1);
        QVERIFY2(refused.err.contains("does not exist, nor does its folder (--create"),
                 qPrintable(refused.err));
        QVERIFY(!QFile::exists(path(QStringLiteral("unmounted"))));
        QVERIFY(kavioctl({"list"}, path("new.db")).err.contains("new.db does not exist ("));
        QVERIFY(!QFile::exists(path(QStringLiteral("new.db"))));
        QCOMPARE(kavioctl({"list", "--create"}, db).code, 0);
        QVERIFY(QFile::exists(db));
        // Without --database, the default place is made.
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_DATA_HOME"), path(QStringLiteral("home/data")));
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(KAVIOCTL_PATH), {QStringLiteral("list")});
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitCode(), 0);
        QVERIFY(QFile::exists(path(QStringLiteral("home/data/KavioCC/KavioCC.db"))));
    }

    // Another program holds a write transaction: reading goes on unhindered, a writer waits up
    // to --wait, saying once what for, and then gives up changing nothing.
    void writeLockedDatabase() {
        const QString db = seeded(false);
        const QString before = dump(db);
        kavio::test::SqliteWriteLock lock(db);
        QVERIFY(lock.isHeld());
        QElapsedTimer clock;
        clock.start();
        const Run list = kavioctl({"list"}, db);
        QCOMPARE(list.code, 0);
        QVERIFY(list.out.contains("Ölpumpe"));
        QCOMPARE(kavioctl({"export"}, db).code, 0);
        QVERIFY2(clock.elapsed() < 2500, qPrintable(QString::number(clock.elapsed())));
        // The faults of the rows read before the wait are told all the same.
        const QString file = writeFile(Header + "new,10.0.0.9,80,pw,\r\nshort,1.1.1.1\r\n");
        clock.restart();
        const Run import = kavioctl({"import", file, "--wait", "1"}, db);
        const qint64 waited = clock.elapsed();
        QCOMPARE(import.code, 1);
        QCOMPARE(import.err.count("waiting up to 1 s for another program to finish writing"), 1);
        QVERIFY2(import.err.contains("cannot be written now"), qPrintable(import.err));
        QVERIFY2(import.err.contains(":3: the row has 2 fields") &&
                     import.err.endsWith(": nothing was imported\n"),
                 qPrintable(import.err));
        QVERIFY2(waited >= 900 && waited < 10000, qPrintable(QString::number(waited)));
        lock.release();
        QCOMPARE(dump(db), before);
    }
};
} // namespace

QTEST_GUILESS_MAIN(StoreCommandsTest)
#include "test_kavioctl_store.moc"
