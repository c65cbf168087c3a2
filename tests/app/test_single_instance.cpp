#include "SingleInstance.h"

#include "InstanceNames.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QLockFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

using namespace kavio;

class TestSingleInstance : public QObject {
    Q_OBJECT

    QTemporaryDir runtime;
    QTemporaryDir data;

    QProcessEnvironment environment(const QString& dataHome) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        env.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), data.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        return env;
    }

private slots:
    void initTestCase() {
        QVERIFY(runtime.isValid() && data.isValid());
        qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    }

    void oneHolderPerFile() {
        const QString path = data.filePath(QStringLiteral("one/KavioCC.db"));
        QVERIFY(QDir().mkpath(data.filePath(QStringLiteral("one"))));
        // The same file under another name, and a file that does not exist yet.
        QVERIFY(QFile::link(data.filePath(QStringLiteral("one")),
                            data.filePath(QStringLiteral("link"))));
        QCOMPARE(SingleInstance::keyFor(data.filePath(QStringLiteral("link/KavioCC.db"))),
                 SingleInstance::keyFor(path));
        QCOMPARE(SingleInstance::keyFor(data.filePath(QStringLiteral("one/../one/KavioCC.db"))),
                 SingleInstance::keyFor(path));
        QVERIFY(SingleInstance::keyFor(data.filePath(QStringLiteral("two/KavioCC.db"))) !=
                SingleInstance::keyFor(path));

        auto first = std::make_unique<SingleInstance>(path);
        QVERIFY(first->claim());
        QVERIFY(first->claim()); // still the holder
        QVERIFY(first->lockPath().startsWith(runtime.path()));
        QSignalSpy raised(first.get(), &SingleInstance::raiseRequested);
        SingleInstance second(data.filePath(QStringLiteral("link/KavioCC.db")));
        QVERIFY(!second.claim());
        QVERIFY(second.knock(2000));
        QTRY_COMPARE(raised.count(), 1);

        SingleInstance other(data.filePath(QStringLiteral("two/KavioCC.db")));
        QVERIFY(other.claim());
        first.reset(); // the holder ends: the file is free again
        QVERIFY(second.claim());
        QVERIFY(!SingleInstance(path).claim());
        // Nobody holds a third file: a knock there reaches no one.
        QVERIFY(!SingleInstance(data.filePath(QStringLiteral("three/KavioCC.db"))).knock(300));
    }

    // The program itself: a second start on the same database ends at once and the first runs on.
    void secondProgramEnds() {
        QProcess first;
        first.setProcessEnvironment(environment(data.filePath(QStringLiteral("share"))));
        first.start(QStringLiteral(KAVIOCC_PROGRAM));
        QVERIFY(first.waitForStarted());
        const QString db = data.filePath(QStringLiteral("share/KavioCC/KavioCC.db"));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(db), 10000);
        // The file comes first, then its lock.
        const auto holder = [&db] {
            qint64 pid = 0;
            QLockFile(SingleInstance(db).lockPath()).getLockInfo(&pid, nullptr, nullptr);
            return pid;
        };
        QTRY_COMPARE_WITH_TIMEOUT(holder(), first.processId(), 10000);

        QProcess second;
        second.setProcessEnvironment(first.processEnvironment());
        second.start(QStringLiteral(KAVIOCC_PROGRAM));
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(second.readAllStandardError(), QByteArray());
        QCOMPARE(first.state(), QProcess::Running);

        QProcess elsewhere; // another database: runs alongside
        elsewhere.setProcessEnvironment(environment(data.filePath(QStringLiteral("other"))));
        elsewhere.start(QStringLiteral(KAVIOCC_PROGRAM));
        QVERIFY(!elsewhere.waitForFinished(1500));
        for (QProcess* program : {&first, &elsewhere}) {
            program->terminate();
            QVERIFY(program->waitForFinished(5000));
        }
    }

    // Help, the version and mistakes are answered without a display: none is there to open.
    void commandLineNeedsNoDisplay_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("said"); // the start of standard output, then of standard error
        QTest::newRow("unknown") << QStringList{"--bogus"} << 64 << "|kaviocc: Unknown option";
        QTest::newRow("after Qt's own") << QStringList{"-platform", "xcb", "-reverse", "--bogus"}
                                        << 64 << "|kaviocc: Unknown option 'bogus'";
        QTest::newRow("missing file")
            << QStringList{"--database", "/nonexistent/k.db"} << 64 << "|kaviocc: the database";
        QTest::newRow("version") << QStringList{"-style=fusion", "--version"} << 0 << "kaviocc |";
        QTest::newRow("help") << QStringList{"--help"} << 0 << "Usage: |";
    }

    void commandLineNeedsNoDisplay() {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, said);
        QProcessEnvironment env = environment(data.filePath(QStringLiteral("nodisplay")));
        for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
            env.remove(QLatin1String(name));
        QProcess program;
        program.setProcessEnvironment(env);
        program.start(QStringLiteral(KAVIOCC_PROGRAM), arguments);
        QVERIFY(program.waitForFinished(20000));
        const QString out = QString::fromLocal8Bit(program.readAllStandardOutput());
        const QString error = QString::fromLocal8Bit(program.readAllStandardError());
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QVERIFY2(program.exitCode() == exitCode, qPrintable(error));
        QVERIFY2(out.startsWith(said.section(QLatin1Char('|'), 0, 0)), qPrintable(out));
        QVERIFY2(error.startsWith(said.section(QLatin1Char('|'), 1)), qPrintable(error));
        QCOMPARE(error.isEmpty(), exitCode == 0);
    }

    // A kavioctl serving the units itself holds the file's lock for a while: the control center
    // says at once what it waits for, and waits for it instead of giving up.
    void waitsForKavioctlServingUnits() {
        const QString home = data.filePath(QStringLiteral("tool"));
        const QString path = home + QStringLiteral("/KavioCC/KavioCC.db");
        QTcpServer silent; // takes connections (the kernel does) and never answers
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        QFile csv(data.filePath(QStringLiteral("units.csv")));
        QVERIFY(csv.open(QIODevice::WriteOnly));
        csv.write("name,address,port,password,groups\n");
        for (const char* name : {"a", "b", "c"})
            csv.write(QByteArray(name) + ",127.0.0.1," + QByteArray::number(silent.serverPort()) +
                      ",pw,\n");
        csv.close();
        const QString kavioctl = QStringLiteral(KAVIOCTL_PROGRAM);
        QCOMPARE(QProcess::execute(kavioctl,
                                   {QStringLiteral("--database"), path, QStringLiteral("--create"),
                                    QStringLiteral("import"), csv.fileName()}),
                 0);

        QProcess serving;
        serving.start(kavioctl, {QStringLiteral("--database"), path, QStringLiteral("query"),
                                 QStringLiteral("--all")});
        SingleInstance instance(path);
        QLockFile seen(instance.lockPath());
        QTRY_VERIFY(InstanceNames::heldByKavioctl(seen));
        QProcess program;
        program.setProcessEnvironment(environment(home));
        program.start(QStringLiteral(KAVIOCC_PROGRAM));
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT(
            (said += program.readAllStandardError())
                .contains(QStringLiteral("kaviocc: waiting up to 60 s for kavioctl "
                                         "(pid %1)")
                              .arg(serving.processId())
                              .toUtf8()),
            1000);
        QVERIFY(serving.waitForFinished(5000));
        QCOMPARE(QString::fromUtf8(serving.readAllStandardOutput()),
                 QStringLiteral("a\tquery\tUNKNOWN\nb\tquery\tUNKNOWN\nc\tquery\tUNKNOWN\n"));
        // Then the control center takes the file and runs.
        qint64 holder = 0;
        QTRY_VERIFY((seen.getLockInfo(&holder, nullptr, nullptr), holder == program.processId()));
        QVERIFY(instance.knock(5000)); // it listens: it runs as the control center
        program.terminate();
        QVERIFY(program.waitForFinished(5000));
    }
};

QTEST_GUILESS_MAIN(TestSingleInstance)

#include "test_single_instance.moc"
