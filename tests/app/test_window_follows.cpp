// The control center's window while the service kaviod serves its database: a real kaviod
// process, real units on loopback, the real window (offscreen) and a real kavioctl.
#include "CommandEngine.h"
#include "CommandProcessor.h"
#include "Database.h"
#include "InstanceNames.h"
#include "KavioList.h"
#include "Main.h"
#include "Messages.h"
#include "Program.h"
#include "QueueOwner.h"
#include "SchedulerTestSupport.h"
#include "ServiceClient.h"
#include "SingleInstance.h"
#include "StatusLine.h"
#include "TempDatabase.h"
#include "Timer.h"

#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <csignal>

using namespace kavio;
using namespace kavio::test;

namespace {

// A unit on 127.0.0.1 that keeps every frame it receives and answers as a switch would, after
// `delayMs`.
class RecordingUnit : public QObject {
public:
    explicit RecordingUnit(int delayMs = 0)
        : delayMs(delayMs) {
        server.listen(QHostAddress::LocalHost, 0);
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* peer = server.nextPendingConnection())
                connect(peer, &QTcpSocket::readyRead, this, [this, peer] { read(peer); });
        });
    }
    quint16 port() const { return server.serverPort(); }
    // The command letters received, in order.
    QByteArray letters;

private:
    void read(QTcpSocket* peer) {
        QByteArray& frame = buffers[peer];
        frame += peer->readAll();
        if (!frame.endsWith('\r'))
            return;
        const char letter = frame.at(frame.size() - 2);
        letters += letter;
        QTimer::singleShot(delayMs, peer, [peer, letter] {
            peer->write(letter == 'f' ? "OFF" : "ON");
            peer->disconnectFromHost();
        });
    }

    QTcpServer server;
    QHash<QTcpSocket*, QByteArray> buffers;
    int delayMs;
};

} // namespace

class TestWindowFollows : public QObject {
    Q_OBJECT

private:
    QTemporaryDir home;
    std::unique_ptr<TempDatabase> db;
    std::unique_ptr<QProcess> service;
    std::unique_ptr<SingleInstance> instance;
    std::unique_ptr<QueueOwner> owner;
    std::unique_ptr<TKavioProgram> program;
    std::vector<std::unique_ptr<RecordingUnit>> units;
    QStringList names;
    QByteArray serviceOutput;

    const QByteArray& serviceLog() { return serviceOutput += service->readAllStandardError(); }

    void startService() {
        service = std::make_unique<QProcess>();
        service->setProcessChannelMode(QProcess::ForwardedOutputChannel);
        service->start(QStringLiteral(KAVIOD_PROGRAM), {QStringLiteral("--database"), db->path});
        QVERIFY(service->waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(serviceLog().contains(" serves "), 10000);
    }

    // The units, the service, and the window following it; each unit has had the service's
    // first poll.
    void startAll(int unitCount, int delayMs = 0) {
        db = std::make_unique<TempDatabase>();
        for (int n = 0; n < unitCount; ++n) {
            units.push_back(std::make_unique<RecordingUnit>(delayMs));
            names << QStringLiteral("Rack %1").arg(n + 1);
            TempDatabase::addUnit(names.last(), QStringLiteral("127.0.0.1"), units.back()->port(),
                                  QStringLiteral("pw"));
        }
        startService();
        for (auto& unit : units)
            QTRY_COMPARE_WITH_TIMEOUT(unit->letters, QByteArray("q"), 10000);
        instance = std::make_unique<SingleInstance>(db->path);
        QCOMPARE(instance->claimFile(0), SingleInstance::Claim::HeldByService);
        owner = std::make_unique<QueueOwner>(db->path, *instance);
        program = std::make_unique<TKavioProgram>(owner->core(), true);
        owner->attach(*program);
        owner->follow();
        program->start();
        QTRY_VERIFY_WITH_TIMEOUT(owner->client() && owner->client()->following(), 5000);
        QCOMPARE(program->KavioCCMain->windowTitle(),
                 QStringLiteral("Kavio Control Center — served by kaviod (pid %1)")
                     .arg(service->processId()));
    }

    void runKavioctl(const QStringList& arguments) {
        QProcess kavioctl;
        kavioctl.start(QStringLiteral(KAVIOCTL_PROGRAM),
                       QStringList{QStringLiteral("--database"), db->path} + arguments);
        QVERIFY(kavioctl.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(kavioctl.state() == QProcess::NotRunning, 20000);
        QCOMPARE(kavioctl.exitCode(), 0);
    }

private slots:
    void cleanup() {
        program.reset();
        owner.reset();
        instance.reset();
        if (service && service->state() != QProcess::NotRunning) {
            service->terminate();
            service->waitForFinished(10000);
        }
        service.reset();
        serviceOutput.clear();
        // No timed poll in the next test.
        QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("KavioCC"))
            .remove(QStringLiteral("Poll/Mode"));
        db.reset();
        units.clear();
        names.clear();
    }

    // The window's buttons and kavioctl meet in the service's one queue; the window shows what
    // the service did, in its log and its list, and repaints when told.
    void commandsFromWindowAndKavioctlShareTheServiceQueue() {
        startAll(3);
        TKavioCCMain& main = *program->KavioCCMain;
        main.selAllClick();
        main.CommandChecked(TaskPowerOn);
        for (auto& unit : units)
            QTRY_COMPARE_WITH_TIMEOUT(unit->letters, QByteArray("qn"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(program->StatusLine->Counts->text().contains("3 on"), 5000);
        QTest::qWait(300);
        // Only the service's notifications can change the window now: kavioctl is another
        // program.
        const int paints = main.KavioList->paintCount();
        runKavioctl({QStringLiteral("off"), names.at(0), names.at(1), names.at(2)});
        for (auto& unit : units)
            QTRY_COMPARE_WITH_TIMEOUT(unit->letters, QByteArray("qnf"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(program->StatusLine->Counts->text().contains("3 off"), 5000);
        QVERIFY(main.KavioList->paintCount() > paints);
        // The service sent the window's commands; nothing runs in the window itself, and nothing
        // more reaches a unit.
        for (int n = 0; n < 3; ++n)
            QVERIFY(serviceLog().contains(QStringLiteral("%1 127.0.0.1:%2   Sending the n Command")
                                              .arg(names.at(n))
                                              .arg(units.at(n)->port())
                                              .toUtf8()));
        QCOMPARE(main.commandProcessor()->engine().queue().size(), 0);
        QTest::qWait(500);
        for (auto& unit : units)
            QCOMPARE(unit->letters, QByteArray("qnf"));
        const QString log = program->CmndProc->logLines().join(QLatin1Char('\n'));
        QVERIFY2(log.contains(QStringLiteral("Rack 2 127.0.0.1:%1   Sending the f Command")
                                  .arg(units.at(1)->port())),
                 qPrintable(log));
        // A change that another program announces is shown at once.
        const QString csv = home.filePath(QStringLiteral("more.csv"));
        QFile more(csv);
        QVERIFY(more.open(QIODevice::WriteOnly));
        more.write("name,address,port,password,groups\nRack 4,127.0.0.1,9,pw,\n");
        more.close();
        runKavioctl({QStringLiteral("import"), csv});
        QTRY_COMPARE(main.lineCount(), 4);
        // An edit and a Poll menu change made in the window reach the service at once.
        main.RebuildList();
        main.PollClick(main.Poll1->actions().at(5));
        QTRY_VERIFY(serviceLog().contains("Units, groups or timers changed"));
        QTRY_VERIFY(serviceLog().contains("Settings read: Poll/Mode 5"));
        // And the window follows a setting that the service was told to read again.
        {
            QSettings settings(QSettings::IniFormat, QSettings::UserScope,
                               QStringLiteral("KavioCC"));
            settings.setValue(QStringLiteral("Poll/Mode"), 7);
        }
        ::kill(pid_t(service->processId()), SIGHUP);
        QTRY_COMPARE_WITH_TIMEOUT(main.pollMode(), 7, 5000);
        // The service keeps the history of both; the window writes none of its own.
        const auto historyRows = [] {
            QSqlQuery count(Database::connection());
            return count.exec(QStringLiteral(
                       "SELECT count(*) FROM \"History\" WHERE \"Command\" IN ('n','f')")) &&
                           count.next()
                       ? count.value(0).toInt()
                       : -1;
        };
        QTRY_COMPARE_WITH_TIMEOUT(historyRows(), 6, 5000);
        QTest::qWait(500);
        QCOMPARE(historyRows(), 6);
    }

    // A timer saved in the window fires once, in the service, which the window told of the
    // change; the window's runner ticks it.
    void timerFiresOnceInTheService() {
        startAll(1);
        const QTime now = QTime::currentTime();
        if (now.second() > 50)
            QTest::qWait((61 - now.second()) * 1000); // the event's minute must not pass
        const QString minute = QTime::currentTime().toString(QStringLiteral("HH:mm:00"));
        // A daily timer whose next event date is stale: only the service's recomputation, which
        // the window's announcement asks for, makes it today's.
        addTimer(1, TaskPowerOn, 0, 1, minute, QDate::currentDate().addDays(-1));
        TTimerFrm& runner = *program->TimerFrm;
        runner.RefreshTimers(); // as the timer editor does after saving
        QTRY_COMPARE_WITH_TIMEOUT(units.at(0)->letters, QByteArray("qn"), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(runner.servedToday().size(), 1, 5000);
        runner.show();
        QCOMPARE(runner.EventDisplay->count(), 1);
        QCOMPARE(runner.EventDisplay->item(0)->checkState(), Qt::Checked);
        QTest::qWait(2500); // the runner's own ticks fire nothing
        QCOMPARE(units.at(0)->letters, QByteArray("qn"));
        // A window that subscribes later learns from the service what fired already.
        runner.fireElsewhere({});
        QCOMPARE(runner.EventDisplay->item(0)->checkState(), Qt::Unchecked);
        owner->follow();
        QTRY_COMPARE_WITH_TIMEOUT(runner.EventDisplay->item(0)->checkState(), Qt::Checked, 5000);
    }

    // kaviod killed in the middle of a poll: the window says so and serves the units itself;
    // nothing the service had is served again, and kavioctl now reaches the window.
    void windowTakesOverWhenTheServiceIsKilled() {
        startAll(6, 300);
        RecordingMessageSink messages;
        const qint64 servicePid = service->processId();
        TKavioCCMain& main = *program->KavioCCMain;
        QSignalSpy log(&main.commandProcessor()->engine(), &TCommandEngine::loggedLine);
        main.Now1Click();
        // The status bar follows the service's queue.
        QTRY_VERIFY_WITH_TIMEOUT(program->StatusLine->Queue->text().startsWith("Polling"), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(units.at(1)->letters, QByteArray("qq"), 10000);
        ::kill(pid_t(service->processId()), SIGKILL);
        QVERIFY(service->waitForFinished(5000));
        QTRY_VERIFY_WITH_TIMEOUT(owner->serving(), 5000);
        QVERIFY(main.serving());
        QCOMPARE(main.windowTitle(), QStringLiteral("Kavio Control Center"));
        QVERIFY(program->TimerFrm->firesHere());
        // The operator is told, without a box that waits.
        QCOMPARE(messages.shown.size(), 1);
        QVERIFY2(messages.shown.first().text.startsWith(
                     QStringLiteral("kaviod (pid %1) ended.\nThis window serves").arg(servicePid)),
                 qPrintable(messages.shown.first().text));
        QTest::qWait(1500);
        int served = 0;
        for (auto& unit : units) {
            QVERIFY2(unit->letters.size() <= 2, unit->letters.constData());
            served += int(unit->letters.size()) - 1;
        }
        QVERIFY2(served < int(units.size()), "the poll went on after the kill");
        const QByteArray before = units.at(5)->letters;
        runKavioctl({QStringLiteral("on"), names.at(5)});
        QCOMPARE(units.at(5)->letters, before + 'n');
        QCOMPARE(main.commandProcessor()->engine().forwarding(), false);

        QStringList said;
        for (const QList<QVariant>& line : std::as_const(log))
            said << line.at(0).value<TLogLine>().Text;
        QVERIFY2(said.contains(QStringLiteral("kaviod (pid %1) ended").arg(servicePid)) &&
                     said.contains(QStringLiteral("This window serves the units now")),
                 qPrintable(said.join('|')));

        // A window that follows it now hears of its
        // edits and of its timers computed again.
        TCommandEngine otherEngine;
        ServiceClient other(otherEngine);
        QSignalSpy changed(&other, &ServiceClient::storeChanged);
        QSignalSpy timers(&other, &ServiceClient::timersComputed);
        other.follow(InstanceNames(db->path).controlServerName());
        QTRY_VERIFY_WITH_TIMEOUT(other.following(), 5000);
        QCOMPARE(other.program(), QStringLiteral("kaviocc"));
        emit main.recordsChanged();
        QTRY_COMPARE_WITH_TIMEOUT(changed.size(), 1, 5000);
        program->TimerFrm->RefreshTimers();
        QTRY_COMPARE_WITH_TIMEOUT(timers.size(), 1, 5000);
    }
};

int main(int argc, char** argv) {
    // The runtime folder (locks and sockets) and the settings are the test's own; no timed poll.
    QTemporaryDir scratch;
    const QByteArray runtime = scratch.filePath(QStringLiteral("run")).toLocal8Bit();
    QDir().mkpath(QString::fromLocal8Bit(runtime));
    QFile::setPermissions(QString::fromLocal8Bit(runtime),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", runtime);
    qputenv("XDG_CONFIG_HOME", scratch.filePath(QStringLiteral("config")).toLocal8Bit());
    qputenv("XDG_DATA_HOME", scratch.filePath(QStringLiteral("data")).toLocal8Bit());
    QApplication app(argc, argv);
    TestWindowFollows test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_window_follows.moc"
