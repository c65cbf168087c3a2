#include "Codes.h"
#include "ControlProtocol.h"
#include "ControlServer.h"
#include "PollRule.h"
#include "ServingCore.h"
#include "TempDatabase.h"

#include <QFile>
#include <QLocalSocket>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace kavio;
using test::TempDatabase;

namespace {

QDateTime at(int hour, int minute, int second) {
    return QDateTime(QDate(2026, 12, 8), QTime(hour, minute, second));
}

void writeSettings(const QVariant& mode, const QVariant& parallel) {
    QSettings file(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("KavioCC"));
    file.setValue(QStringLiteral("Poll/Mode"), mode);
    file.setValue(QStringLiteral("Queue/Parallel"), parallel);
}

} // namespace

class TestServingCore : public QObject {
    Q_OBJECT

    QTemporaryDir home;

private slots:
    void initTestCase() {
        QVERIFY(home.isValid());
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(home.filePath(QStringLiteral("run"))));
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, home.path());
    }

    // One clock for every program: the first tick after arming polls once, each minute is looked
    // at once, on its first tick, and a minute whose rule holds polls once.
    void pollClockTicks() {
        using Source = std::optional<CommandSource>;
        const int quarterHours = 3;
        poll::Schedule schedule;
        QCOMPARE(schedule.tick(at(10, 1, 5), quarterHours), Source()); // not armed: timed only
        QCOMPARE(schedule.tick(at(10, 15, 0), quarterHours), Source(CommandSource::TimedPoll));
        schedule.arm();
        QCOMPARE(schedule.tick(at(10, 15, 30), quarterHours), Source(CommandSource::Poll));
        QCOMPARE(schedule.tick(at(10, 15, 31), quarterHours), Source()); // the first poll's minute
        QCOMPARE(schedule.tick(at(10, 16, 0), quarterHours), Source());  // not a quarter
        QCOMPARE(schedule.tick(at(10, 30, 2), quarterHours), Source(CommandSource::TimedPoll));
        QCOMPARE(schedule.tick(at(10, 30, 40), quarterHours), Source()); // once per minute
        QCOMPARE(schedule.tick(at(10, 45, 0), poll::NeverMode), Source());
        // Another program made the first poll: this minute needs none, the next due one does.
        schedule.arm();
        schedule.skipFirstPoll(at(11, 0, 10));
        QCOMPARE(schedule.tick(at(11, 0, 20), quarterHours), Source());
        QCOMPARE(schedule.tick(at(11, 15, 1), quarterHours), Source(CommandSource::TimedPoll));
    }

    // The settings reach the engine and the listeners; a value that is no setting is named.
    void settingsAreReadAgain() {
        TempDatabase db;
        ServingCore core;
        QSignalSpy read(&core, &ServingCore::settingsRead);
        writeSettings(7, 4);
        ServingCore::Settings settings = core.readSettings();
        QCOMPARE(settings.pollMode, 7);
        QCOMPARE(core.settings().pollMode, 7);
        QCOMPARE(core.engine().parallel(), 4);
        QVERIFY(settings.problem.isEmpty());
        QCOMPARE(read.size(), 1);

        writeSettings(QStringLiteral("often"), QStringLiteral("many"));
        settings = core.readSettings();
        QCOMPARE(settings.pollMode, poll::NeverMode);
        QCOMPARE(core.engine().parallel(), 1);
        QVERIFY(settings.problem.contains(QStringLiteral("many")));
        QCOMPARE(read.size(), 2);
    }

    // A poll queries every unit once, by key, with the poll's source; groups are not queried.
    void pollQueriesEveryUnitByKey() {
        TempDatabase db;
        const quint16 zulu = TempDatabase::addUnit(QStringLiteral("Zulu"));
        TempDatabase::addGroup(QStringLiteral("Rack"));
        const quint16 alpha = TempDatabase::addUnit(QStringLiteral("Alpha"));
        ServingCore core;
        core.engine().setHeld(true); // the entries stay queued to be read
        // Polling on its own tick: the first tick polls at once, whatever the interval.
        core.startPolling();
        QTRY_COMPARE_WITH_TIMEOUT(core.engine().queue().size(), 2, 5000);
        for (const TCommandEntry& entry : core.engine().queue())
            QCOMPARE(entry.Source, CommandSource::Poll);
        core.hold(); // no second tick
        core.pollAll(CommandSource::TimedPoll);
        const QList<TCommandEntry> queued = core.engine().queue().mid(2);
        QCOMPARE(queued.size(), 2);
        QCOMPARE(queued[0].Index, std::min(zulu, alpha));
        QCOMPARE(queued[1].Index, std::max(zulu, alpha));
        for (const TCommandEntry& entry : queued) {
            QCOMPARE(entry.Task, TaskQuery);
            QCOMPARE(entry.Source, CommandSource::TimedPoll);
        }
    }

    // kavioctl or a following window announces a change: the core says so, and reads the
    // settings again before it says they changed.
    void controlAnnouncementsReachTheCore() {
        TempDatabase db;
        ServingCore core;
        writeSettings(2, 1);
        core.readSettings();
        QVERIFY(core.serveControl(db.path, QStringLiteral("kaviod"),
                                  [] { return QStringList{QStringLiteral("served")}; }));
        QSignalSpy store(&core, &ServingCore::storeChanged);
        QSignalSpy settings(&core, &ServingCore::settingsChanged);
        int parallelWhenTold = 0;
        connect(&core, &ServingCore::settingsChanged, this,
                [&] { parallelWhenTold = core.engine().parallel(); });
        writeSettings(5, 3);
        for (const control::Request& request :
             {control::Request{{}, true, false, false}, control::Request{{}, false, true, false}}) {
            QLocalSocket socket;
            socket.connectToServer(core.control()->serverName());
            QVERIFY(socket.waitForConnected(5000));
            socket.write(control::encodeRequest(request));
            QTRY_VERIFY_WITH_TIMEOUT(socket.canReadLine(), 5000); // accepted
        }
        QTRY_COMPARE(store.size(), 1);
        QTRY_COMPARE(settings.size(), 1);
        QCOMPARE(parallelWhenTold, 3);
        QCOMPARE(core.settings().pollMode, 5);
    }
};

QTEST_GUILESS_MAIN(TestServingCore)
#include "test_serving_core.moc"
