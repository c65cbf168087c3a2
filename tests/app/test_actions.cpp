#include "AboutBox.h"
#include "Clock.h"
#include "CommandProcessor.h"
#include "GlobalFunctions.h"
#include "GroupProperties.h"
#include "ItemProperties.h"
#include "KavioApplication.h"
#include "Launcher.h"
#include "Main.h"
#include "Messages.h"
#include "Program.h"
#include "SetTimer.h"
#include "TempDatabase.h"
#include "Timer.h"
#include "TimerActions.h"
#include "UnitActions.h"
#include "viewtimer.h"

#include <QAction>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QScreen>
#include <QSettings>
#include <QSqlQuery>
#include <QTabBar>
#include <QTableWidget>
#include <QTest>
#include <QTimeEdit>
#include <QTimer>
#include <memory>

using namespace kavio;
using test::TempDatabase;

namespace {

qint64 count(const QString& sql) {
    QSqlQuery query(Database::connection());
    query.exec(sql);
    query.next();
    return query.value(0).toLongLong();
}

void addMember(quint16 group, quint16 unit) {
    QSqlQuery(Database::connection())
        .exec(QStringLiteral("INSERT INTO \"Group\" VALUES (%1, %2)").arg(group).arg(unit));
}

void addTimer(quint16 unit) {
    QSqlQuery(Database::connection())
        .exec(QStringLiteral("INSERT INTO \"Timer\" (\"Index\", \"Task\", \"Every\", \"Count\", "
                             "\"TimeOfDay\", \"Date\") VALUES (%1, 1, 4, 0, '09:30:00', "
                             "'2030-01-01')")
                  .arg(unit));
}

QStringList captions(const QList<QAction*>& actions) {
    QStringList found;
    for (const QAction* action : actions)
        found << (action->isSeparator() ? QStringLiteral("-") : action->text());
    return found;
}

// Runs `step` as soon as the next modal window has started its own event loop.
void whenModal(std::function<void()> step) {
    QTimer::singleShot(0, qApp, std::move(step));
}

} // namespace

class TestActions : public QObject {
    Q_OBJECT

    QTemporaryDir settingsDir;
    std::unique_ptr<TempDatabase> db;
    std::unique_ptr<TKavioProgram> program;

    TKavioCCMain& start() {
        program = std::make_unique<TKavioProgram>();
        TKavioCCMain& main = *program->KavioCCMain;
        main.PollTiler->stop();
        program->CmndProc->engine().Timer2->stop();
        return main;
    }

    TKavioCCMain& main() { return *program->KavioCCMain; }

    QStringList lineNames() {
        QStringList found;
        for (int row = 0; row < main().lineCount(); ++row)
            found << main().line(row).Name;
        return found;
    }

    QStringList tabNames() {
        QStringList found;
        for (int tab = 0; tab < main().KavioTabs->count(); ++tab)
            found << main().KavioTabs->tabText(tab);
        return found;
    }

    // Makes the line with this name the current one, as a right-click does.
    void select(const QString& name) {
        const int row = lineNames().indexOf(name);
        QVERIFY2(row >= 0, qPrintable(name));
        main().KavioList->setCurrentIndex(main().KavioList->model()->index(row, 0));
        QCOMPARE(main().CurrentEntry()->Name, name);
    }

private slots:
    void initTestCase() {
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());
    }

    void init() { db = std::make_unique<TempDatabase>(); }

    void cleanup() {
        program.reset();
        db.reset();
    }

    void menusAndPopupInTheirOrder() {
        start();
        QCOMPARE(captions(main().File1->actions()),
                 QStringList({"&New", "-", "Minimize to Tray", "Close"}));
        QMenu* newMenu = main().File1->actions().first()->menu();
        QCOMPARE(captions(newMenu->actions()), QStringList({"&Kavio ", "&Group"}));
        QCOMPARE(newMenu->actions()[0]->shortcut(), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_N));
        QCOMPARE(newMenu->actions()[1]->shortcut(), QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_G));
        QCOMPARE(captions(main().Tools1->actions()), QStringList({"Reset Utility", "History"}));
        QCOMPARE(captions(main().PopupMenu->actions()),
                 QStringList({"Power ON", "Power OFF", "Reboot", "Pulse", "Cycle", "Query", "-",
                              "Add Timer", "View Timers", "-", "Open In Browser", "Ping", "-",
                              "Delete", "Properties"}));
    }

    void popupGreysBrowserAndPingForGroupsOnly() {
        TempDatabase::addGroup(QStringLiteral("rack"));
        TempDatabase::addUnit(QStringLiteral("unit"));
        start();
        TUnitActions& actions = *program->UnitActions;
        select(QStringLiteral("rack"));
        actions.PopupMenuPopup();
        QVERIFY(!actions.OpenInBrowser1->isEnabled());
        QVERIFY(!actions.Ping1->isEnabled());
        QVERIFY(actions.Delete1->isEnabled());
        QVERIFY(program->TimerActions->AddTimer1->isEnabled());
        select(QStringLiteral("unit"));
        actions.PopupMenuPopup();
        QVERIFY(actions.OpenInBrowser1->isEnabled());
        QVERIFY(actions.Ping1->isEnabled());
    }

    void programsStartWithArgumentListsForValidAddressesOnly() {
        TempDatabase::addUnit(QStringLiteral("good"), QStringLiteral("10.0.0.5"));
        TempDatabase::addUnit(QStringLiteral("bad"), QStringLiteral("10.0.0.5; rm -rf ~"));
        start();
        RecordingStarter starter;
        TUnitActions& actions = *program->UnitActions;

        select(QStringLiteral("good"));
        actions.OpenInBrowser1Click();
        QCOMPARE(starter.urls, QList<QUrl>({QUrl(QStringLiteral("http://10.0.0.5"))}));
        actions.Ping1Click();
        QCOMPARE(starter.starts.size(), 1);
        QCOMPARE(starter.starts[0].program, QStringLiteral("x-terminal-emulator"));
        QCOMPARE(starter.starts[0].arguments, QStringList({"-e", "ping", "10.0.0.5"}));

        starter.missing << QStringLiteral("x-terminal-emulator");
        actions.Ping1Click();
        QCOMPARE(starter.starts.size(), 3);
        QCOMPARE(starter.starts[2].program, QStringLiteral("xterm"));
        QCOMPARE(starter.starts[2].arguments, QStringList({"-e", "ping", "10.0.0.5"}));

        select(QStringLiteral("bad"));
        actions.OpenInBrowser1Click();
        actions.Ping1Click();
        QCOMPARE(starter.urls.size(), 1);
        QCOMPARE(starter.starts.size(), 3);

        actions.ResetUtility1Click();
        QCOMPARE(starter.starts.size(), 4);
        QCOMPARE(starter.starts[3].program, QStringLiteral("KavioRst"));
        QVERIFY(starter.starts[3].arguments.isEmpty());
    }

    void deletingAUnitLeavesItsGroupsAndTimers() {
        const quint16 g1 = TempDatabase::addGroup(QStringLiteral("g1"));
        const quint16 g2 = TempDatabase::addGroup(QStringLiteral("g2"));
        const quint16 gone = TempDatabase::addUnit(QStringLiteral("gone"));
        const quint16 a = TempDatabase::addUnit(QStringLiteral("a"));
        const quint16 b = TempDatabase::addUnit(QStringLiteral("b"));
        addMember(g1, gone);
        addMember(g1, a);
        addMember(g2, gone);
        addMember(g2, b);
        addTimer(gone);
        start();

        select(QStringLiteral("gone"));
        program->UnitActions->Delete1Click();
        QCOMPARE(lineNames(), QStringList({"g1", "g2", "a", "b"}));
        QCOMPARE(
            count(QStringLiteral("SELECT count(*) FROM \"Group\" WHERE \"Index\" = %1").arg(gone)),
            0);
        QCOMPARE(count(QStringLiteral("SELECT count(*) FROM \"Group\"")), 2);
        QCOMPARE(count(QStringLiteral("SELECT count(*) FROM \"Timer\"")), 1);
        main().KavioTabs->setCurrentIndex(1);
        QCOMPARE(lineNames(), QStringList({"a"}));
        main().KavioTabs->setCurrentIndex(2);
        QCOMPARE(lineNames(), QStringList({"b"}));

        // On a group tab the line is the unit itself.
        select(QStringLiteral("b"));
        program->UnitActions->Delete1Click();
        QCOMPARE(main().KavioTabs->currentIndex(), 2);
        QVERIFY(lineNames().isEmpty());
        QCOMPARE(
            count(QStringLiteral("SELECT count(*) FROM \"Master\" WHERE \"Index\" = %1").arg(b)),
            0);
    }

    void deletingAGroupKeepsItsMembers() {
        const quint16 group = TempDatabase::addGroup(QStringLiteral("rack"));
        const quint16 unit = TempDatabase::addUnit(QStringLiteral("unit"));
        addMember(group, unit);
        start();
        QCOMPARE(tabNames(), QStringList({"All", "rack"}));
        select(QStringLiteral("rack"));
        program->UnitActions->Delete1Click();
        QCOMPARE(tabNames(), QStringList({"All"}));
        QCOMPARE(lineNames(), QStringList({"unit"}));
        QCOMPARE(count(QStringLiteral("SELECT count(*) FROM \"Group\"")), 0);
    }

    void emptyingTheDatabaseAsksFirst() {
        const quint16 group = TempDatabase::addGroup(QStringLiteral("rack"));
        const quint16 unit = TempDatabase::addUnit(QStringLiteral("unit"));
        addMember(group, unit);
        addTimer(unit);
        start();
        main().KavioTabs->setCurrentIndex(1);
        RecordingMessageSink sink;
        sink.answer = QMessageBox::No;
        QVERIFY(main().FormKeyDown(Qt::Key_E, Qt::ControlModifier));
        QCOMPARE(sink.shown.size(), 1);
        QCOMPARE(sink.shown[0].kind, MessageKind::Confirmation);
        QCOMPARE(sink.shown[0].text, QStringLiteral("All items in the Database will be "
                                                    "Deleted\nAre you sure you want to do this?"));
        QCOMPARE(sink.shown[0].buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(count(QStringLiteral("SELECT count(*) FROM \"Master\"")), 2);
        QCOMPARE(count(QStringLiteral("SELECT count(*) FROM \"Group\"")), 1);
        QCOMPARE(count(QStringLiteral("SELECT count(*) FROM \"Timer\"")), 1);

        sink.answer = QMessageBox::Yes;
        program->UnitActions->EmptyDatabase();
        QCOMPARE(count(QStringLiteral("SELECT count(*) FROM \"Master\"")), 0);
        QCOMPARE(count(QStringLiteral("SELECT count(*) FROM \"Group\"")), 0);
        QCOMPARE(count(QStringLiteral("SELECT count(*) FROM \"Timer\"")), 0);
        QCOMPARE(tabNames(), QStringList({"All"}));
        QCOMPARE(main().KavioTabs->currentIndex(), 0);
        QVERIFY(lineNames().isEmpty());
    }

    void newAndPropertiesRebuildOnlyWhenTheyShould() {
        const quint16 unit = TempDatabase::addUnit(QStringLiteral("unit"));
        start();
        TempDatabase::addUnit(QStringLiteral("added meanwhile"));

        // Cancelling a new unit or a unit's properties leaves the list as it was...
        whenModal([this] { program->ItemPropFRM->reject(); });
        program->UnitActions->Kavio1->trigger();
        QCOMPARE(lineNames(), QStringList({"unit"}));
        select(QStringLiteral("unit"));
        whenModal([this] { program->ItemPropFRM->reject(); });
        program->UnitActions->Properties1Click();
        QCOMPARE(lineNames(), QStringList({"unit"}));
        QVERIFY(!program->ItemPropFRM->IsNew);

        // ...while a cancelled new group still rebuilds it.
        whenModal([this] { program->GroupPropFRM->reject(); });
        program->UnitActions->Group1->trigger();
        QCOMPARE(lineNames(), QStringList({"added meanwhile", "unit"}));

        // OK on the properties saves and rebuilds.
        select(QStringLiteral("unit"));
        whenModal([this] {
            program->ItemPropFRM->KavioName->setText(QStringLiteral("renamed"));
            program->ItemPropFRM->Button1Click();
        });
        program->UnitActions->Properties1Click();
        QCOMPARE(lineNames(), QStringList({"added meanwhile", "renamed"}));
        TTable master(QStringLiteral("Master.DB"));
        OpenByIndex(master, unit);
        QCOMPARE(master.fieldByName(QStringLiteral("Name")).asString(), QStringLiteral("renamed"));
    }

    void addTimerMarksTheLineAndReachesTheRunner() {
        ManualClock clock(QDateTime(QDate(2026, 12, 7), QTime(10, 0)));
        TempDatabase::addUnit(QStringLiteral("unit"));
        start();
        select(QStringLiteral("unit"));

        whenModal([this] { program->SetTimerFRM->reject(); });
        program->TimerActions->AddTimer1Click();
        QVERIFY(!main().line(0).Timer);
        QCOMPARE(count(QStringLiteral("SELECT count(*) FROM \"Timer\"")), 0);

        for (int added = 1; added <= 2; ++added) {
            select(QStringLiteral("unit"));
            whenModal([this] {
                program->SetTimerFRM->DayTime->setTime(QTime(21, 30));
                program->SetTimerFRM->Button1Click();
            });
            program->TimerActions->AddTimer1Click();
            QVERIFY(main().line(0).Timer);
            QCOMPARE(count(QStringLiteral("SELECT count(*) FROM \"Timer\"")), added);
        }
        // Both timers are the same event: one line in today's list.
        QCOMPARE(program->TimerFrm->EventDisplay->count(), 1);
        QCOMPARE(program->TimerFrm->EventDisplay->item(0)->text(),
                 QStringLiteral("unit Power On at 09:30 PM"));

        // Deleting both in the timer list takes the mark off the line.
        select(QStringLiteral("unit"));
        program->TimerActions->ViewTimers1Click();
        for (int left = 2; left > 0; --left) {
            program->ViewTimerFrm->theGrid->selectRow(1);
            program->ViewTimerFrm->DeleteClick();
            QCOMPARE(main().line(0).Timer, left > 1);
        }
    }

    void viewTimersFollowsTheLastUnitAndCtrlKeysShowWindows() {
        TempDatabase::addUnit(QStringLiteral("first"));
        TempDatabase::addUnit(QStringLiteral("second"));
        start();
        select(QStringLiteral("first"));
        program->TimerActions->ViewTimers1Click();
        QVERIFY(program->ViewTimerFrm->isVisible());
        QCOMPARE(program->ViewTimerFrm->windowTitle(), QStringLiteral("first Timer Properties"));
        select(QStringLiteral("second"));
        program->TimerActions->ViewTimers1Click();
        QCOMPARE(program->ViewTimerFrm->windowTitle(), QStringLiteral("second Timer Properties"));

        QVERIFY(!program->TimerFrm->isVisible());
        QVERIFY(main().FormKeyDown(Qt::Key_2, Qt::ControlModifier | Qt::ShiftModifier));
        QVERIFY(program->TimerFrm->isVisible());
        QVERIFY(!program->AboutBox->isVisible());
        QVERIFY(main().FormKeyDown(Qt::Key_A, Qt::ControlModifier));
        QVERIFY(program->AboutBox->isVisible());
        QCOMPARE(program->AboutBox->windowTitle(), QStringLiteral("About"));
        // In the middle of the screen, at its fixed size, the product's name in bold.
        const TAboutBox& about = *program->AboutBox;
        QCOMPARE(about.size(), QSize(298, 148));
        const QPoint offCentre = about.frameGeometry().center() -
                                 QGuiApplication::primaryScreen()->availableGeometry().center();
        QVERIFY2(offCentre.manhattanLength() <= 8, qPrintable(QString::number(offCentre.x())));
        QVERIFY(about.ProductName->font().bold());
        QVERIFY(!main().FormKeyDown(Qt::Key_2, Qt::NoModifier));
    }
};

int main(int argc, char** argv) {
    KavioApplication app(argc, argv);
    TestActions test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_actions.moc"
