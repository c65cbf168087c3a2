#include "AboutBox.h"
#include "Clock.h"
#include "CommandProcessor.h"
#include "GlobalFunctions.h"
#include "GroupProperties.h"
#include "HistoryWindow.h"
#include "ItemProperties.h"
#include "KavioApplication.h"
#include "Launcher.h"
#include "ListPanel.h"
#include "Main.h"
#include "Messages.h"
#include "Program.h"
#include "ServingCore.h"
#include "SetTimer.h"
#include "StatusLine.h"
#include "TempDatabase.h"
#include "Timer.h"
#include "TimerActions.h"
#include "UnitActions.h"
#include "viewtimer.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSettings>
#include <QSqlQuery>
#include <QStatusBar>
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
    std::unique_ptr<ServingCore> core;
    std::unique_ptr<TKavioProgram> program;

    TKavioCCMain& start() {
        core = std::make_unique<ServingCore>();
        program = std::make_unique<TKavioProgram>(*core);
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
        core.reset();
        db.reset();
    }

    void menusAndPopupInTheirOrder() {
        start();
        QCOMPARE(captions(main().menuBar()->actions()),
                 QStringList({"&File", "&Edit", "&View", "&Poll", "&Tools"}));
        QCOMPARE(captions(main().File1->actions()),
                 QStringList({"&New", "-", "Minimize to Tray", "&Close"}));
        QCOMPARE(program->UnitActions->Close1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
        QCOMPARE(captions(program->UnitActions->Edit1->actions()), QStringList({"&Undo"}));
        QCOMPARE(program->UnitActions->Undo1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Z));
        QVERIFY(!program->UnitActions->Undo1->isEnabled());
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
        QVERIFY(main().statusBar()->currentMessage().isEmpty());

        // What cannot be started is said in the status bar instead of nothing happening.
        starter.missing << QStringLiteral("ping");
        actions.Ping1Click();
        QCOMPARE(starter.starts.size(), 3);
        QCOMPARE(main().statusBar()->currentMessage(), QStringLiteral("ping is not installed"));
        starter.missing = QStringList{QStringLiteral("KavioRst")};
        actions.ResetUtility1Click();
        QCOMPARE(main().statusBar()->currentMessage(), QStringLiteral("KavioRst was not found"));
        starter.missing.clear();
        starter.starts.removeLast();

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

    // Deleting asks, naming the unit (No is the default); Del on the line asks the same. Undo
    // brings back the last deletion first, each with its key and its memberships.
    void deletingAUnitLeavesItsGroupsAndTimersAndUndoBringsItBack() {
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

        RecordingMessageSink sink;
        sink.answer = QMessageBox::No;
        select(QStringLiteral("gone"));
        program->UnitActions->Delete1Click();
        QCOMPARE(sink.shown.size(), 1);
        QCOMPARE(sink.shown[0].text, QStringLiteral("Delete the unit \"gone\"?"));
        QCOMPARE(sink.shown[0].defaultButton, QMessageBox::No);
        QCOMPARE(count(QStringLiteral("SELECT count(*) FROM \"Master\"")), 5);
        sink.answer = QMessageBox::Yes;
        QTest::keyClick(main().KavioList, Qt::Key_Delete);
        QCOMPARE(sink.shown.size(), 2);
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

        const QString members = QStringLiteral("SELECT group_concat(\"GroupIndex\" || ':' || "
                                               "\"Index\") FROM (SELECT * FROM \"Group\" "
                                               "ORDER BY \"GroupIndex\", \"Index\")");
        QAction* undo = program->UnitActions->Undo1;
        QCOMPARE(undo->text(), QStringLiteral("&Undo Delete the unit \"b\""));
        undo->trigger();
        QCOMPARE(lineNames(), QStringList({"b"}));
        QCOMPARE(undo->text(), QStringLiteral("&Undo Delete the unit \"gone\""));
        undo->trigger();
        QVERIFY(!undo->isEnabled());
        QCOMPARE(count(QStringLiteral("SELECT count(*) FROM \"Master\" WHERE \"Name\" = 'gone' "
                                      "AND \"Index\" = %1")
                           .arg(gone)),
                 1);
        QSqlQuery pairs(Database::connection());
        QVERIFY(pairs.exec(members) && pairs.next());
        QCOMPARE(pairs.value(0).toString(),
                 QStringLiteral("%1:%2,%1:%3,%4:%2,%4:%5").arg(g1).arg(gone).arg(a).arg(g2).arg(b));
        QCOMPARE(count(QStringLiteral("SELECT count(*) FROM \"Timer\"")), 1);
        main().KavioTabs->setCurrentIndex(0);
        QCOMPARE(lineNames(), QStringList({"g1", "g2", "a", "b", "gone"}));
    }

    void deletingAGroupKeepsItsMembers() {
        const quint16 group = TempDatabase::addGroup(QStringLiteral("rack"));
        const quint16 unit = TempDatabase::addUnit(QStringLiteral("unit"));
        addMember(group, unit);
        start();
        QCOMPARE(tabNames(), QStringList({"All", "rack"}));
        RecordingMessageSink sink;
        sink.answer = QMessageBox::Yes;
        select(QStringLiteral("rack"));
        program->UnitActions->Delete1Click();
        QCOMPARE(sink.shown.last().text,
                 QStringLiteral("Delete the group \"rack\"?\nIts member units stay."));
        QCOMPARE(tabNames(), QStringList({"All"}));
        QCOMPARE(lineNames(), QStringList({"unit"}));
        QCOMPARE(count(QStringLiteral("SELECT count(*) FROM \"Group\"")), 0);

        program->UnitActions->Undo1->trigger();
        QCOMPARE(tabNames(), QStringList({"All", "rack"}));
        QCOMPARE(count(QStringLiteral("SELECT count(*) FROM \"Group\" WHERE \"GroupIndex\" = "
                                      "%1 AND \"Index\" = %2")
                           .arg(group)
                           .arg(unit)),
                 1);
        QCOMPARE(count(QStringLiteral("SELECT count(*) FROM \"Master\" WHERE \"Index\" = %1 AND "
                                      "\"Group\" = 1")
                           .arg(group)),
                 1);
    }

    void emptyingTheDatabaseAsksFirstAndCanBeUndone() {
        const quint16 group = TempDatabase::addGroup(QStringLiteral("rack"));
        const quint16 unit = TempDatabase::addUnit(QStringLiteral("unit"));
        TempDatabase::addUnit(QStringLiteral("other"));
        addMember(group, unit);
        addTimer(unit);
        // A record the program never sees stays through the emptying and its undo.
        QSqlQuery(Database::connection())
            .exec(
                QStringLiteral("INSERT INTO \"Master\" (\"Index\", \"Name\") VALUES (70000, 'x')"));
        start();
        main().KavioTabs->setCurrentIndex(1);
        const QString everything =
            QStringLiteral("SELECT (SELECT group_concat(\"Index\" || \"Name\") FROM \"Master\") "
                           "|| '/' || (SELECT group_concat(\"GroupIndex\" || ':' || \"Index\") "
                           "FROM \"Group\") || '/' || (SELECT group_concat(\"TimerIndex\" || "
                           "':' || \"Index\" || \"TimeOfDay\") FROM \"Timer\")");
        const auto contents = [&everything] {
            QSqlQuery query(Database::connection());
            return query.exec(everything) && query.next() ? query.value(0).toString() : QString();
        };
        const QString before = contents();
        QCOMPARE(before, QStringLiteral("1rack,2unit,3other,70000x/1:2/1:209:30:00"));

        // Enter on the real question keeps everything: No is its default.
        whenModal([] {
            QWidget* box = QApplication::activeModalWidget();
            QVERIFY(box);
            QTest::keyClick(box, Qt::Key_Return);
        });
        QTest::keyClick(main().KavioList, Qt::Key_E, Qt::ControlModifier);
        QCOMPARE(contents(), before);

        RecordingMessageSink sink;
        sink.answer = QMessageBox::No;
        QVERIFY(main().FormKeyDown(Qt::Key_E, Qt::ControlModifier));
        QCOMPARE(sink.shown.size(), 1);
        QCOMPARE(sink.shown[0].kind, MessageKind::Confirmation);
        QCOMPARE(sink.shown[0].text,
                 QStringLiteral("All items in the Database will be Deleted\nAre you sure you want "
                                "to do this?\n\n2 units, 1 group and 1 timer will go."));
        QCOMPARE(sink.shown[0].buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(sink.shown[0].defaultButton, QMessageBox::No);
        QCOMPARE(contents(), before);

        sink.answer = QMessageBox::Yes;
        program->UnitActions->EmptyDatabase();
        QCOMPARE(count(QStringLiteral("SELECT count(*) FROM \"Master\"")), 1);
        QCOMPARE(count(QStringLiteral("SELECT count(*) FROM \"Group\"")), 0);
        QCOMPARE(count(QStringLiteral("SELECT count(*) FROM \"Timer\"")), 0);
        QCOMPARE(tabNames(), QStringList({"All"}));
        QCOMPARE(main().KavioTabs->currentIndex(), 0);
        QVERIFY(lineNames().isEmpty());

        program->UnitActions->Undo1->trigger();
        QCOMPARE(contents(), before);
        QCOMPARE(tabNames(), QStringList({"All", "rack"}));
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

        // Deleting both in the timer list takes the mark off the line; undo puts one back.
        RecordingMessageSink sink;
        sink.answer = QMessageBox::Yes;
        select(QStringLiteral("unit"));
        program->TimerActions->ViewTimers1Click();
        for (int left = 2; left > 0; --left) {
            program->ViewTimerFrm->theGrid->selectRow(1);
            program->ViewTimerFrm->DeleteClick();
            QCOMPARE(main().line(0).Timer, left > 1);
        }
        program->UnitActions->Undo1->trigger();
        QVERIFY(main().line(0).Timer);
        QCOMPARE(program->TimerFrm->EventDisplay->count(), 1);
    }

    // The mark shows whenever the unit has timers, however they were made: the flag that Add
    // Timer stores plays no part.
    void timerMarkFollowsTheTimersFromEveryWayIn() {
        ManualClock clock(QDateTime(QDate(2026, 12, 7), QTime(10, 0)));
        const quint16 viaList = TempDatabase::addUnit(QStringLiteral("via list"));
        const quint16 byHand = TempDatabase::addUnit(QStringLiteral("by hand"));
        const quint16 flagOnly = TempDatabase::addUnit(QStringLiteral("flag only"));
        QSqlQuery(Database::connection())
            .exec(QStringLiteral("UPDATE \"Master\" SET \"Timer\" = 1 WHERE \"Index\" = %1")
                      .arg(flagOnly));
        start();
        const auto marked = [this](const QString& name) {
            return main().KavioList->lines()->live(lineNames().indexOf(name)).Timer;
        };
        QVERIFY(!marked("flag only"));

        main().show();
        QVERIFY(QTest::qWaitForWindowExposed(&main()));
        select(QStringLiteral("via list"));
        program->TimerActions->ViewTimers1Click();
        QTest::qWait(100); // the paints of showing and selecting are over
        const int paints = main().KavioList->paintCount();
        whenModal([this] {
            program->SetTimerFRM->DayTime->setTime(QTime(21, 30));
            program->SetTimerFRM->Button1Click();
        });
        program->ViewTimerFrm->NewClick();
        QTRY_VERIFY(main().KavioList->paintCount() > paints); // the new mark shows at once
        QCOMPARE(
            count(
                QStringLiteral("SELECT count(*) FROM \"Timer\" WHERE \"Index\" = %1").arg(viaList)),
            1);
        QVERIFY(marked("via list"));

        QVERIFY(!marked("by hand"));
        addTimer(byHand);
        QVERIFY(marked("by hand"));
        main().RebuildList();
        QVERIFY(main().line(lineNames().indexOf("by hand")).Timer);
        QVERIFY(!main().line(lineNames().indexOf("flag only")).Timer);
    }

    void keysOfTheListAndTheWindow_data() {
        QTest::addColumn<bool>("details");
        QTest::newRow("list") << false;
        QTest::newRow("Details view") << true;
    }

    void keysOfTheListAndTheWindow() {
        QFETCH(bool, details);
        TempDatabase::addUnit(QStringLiteral("Router A098"));
        TempDatabase::addUnit(QStringLiteral("Router C1"));
        TempDatabase::addUnit(QStringLiteral("Switch"));
        start();
        main().show();
        QVERIFY(QTest::qWaitForWindowExposed(&main()));
        main().ListPanel->setDetails(details);
        QAbstractItemView* list = main().KavioList->shownView();
        list->setFocus();

        // A space within a type-ahead search only searches: nothing is ticked or stored.
        const int interval = QApplication::keyboardInputInterval();
        QApplication::setKeyboardInputInterval(1000);
        QTest::keyClicks(list, QStringLiteral("router c"));
        QCOMPARE(main().CurrentEntry()->Name, QStringLiteral("Router C1"));
        for (int row = 0; row < main().lineCount(); ++row)
            QVERIFY(!main().lineChecked(row));
        QCOMPARE(count(QStringLiteral("SELECT count(*) FROM \"Master\" WHERE \"Checked\" = 1")), 0);
        // Once the search is over, a space ticks the current line again.
        QApplication::setKeyboardInputInterval(50);
        QTest::qWait(100);
        QTest::keyClick(list, Qt::Key_Space);
        QApplication::setKeyboardInputInterval(interval);
        QVERIFY(main().lineChecked(1));
        QCOMPARE(count(QStringLiteral("SELECT count(*) FROM \"Master\" WHERE \"Checked\" = 1")), 1);

        // The Menu key and Shift+F10 open the line's menu; Enter opens its properties.
        for (auto [key, held] :
             {std::pair{Qt::Key_Menu, Qt::NoModifier}, std::pair{Qt::Key_F10, Qt::ShiftModifier}}) {
            QTest::keyClick(list, key, held);
            QTRY_VERIFY(main().PopupMenu->isVisible());
            main().PopupMenu->close();
        }
        bool propertiesShown = false;
        whenModal([this, &propertiesShown] {
            propertiesShown = program->ItemPropFRM->isVisible();
            program->ItemPropFRM->reject();
        });
        QTest::keyClick(list, Qt::Key_Return);
        QVERIFY(propertiesShown);
        QCOMPARE(program->ItemPropFRM->KavioName->text(), QStringLiteral("Router C1"));

        // A double-click on a unit's line in the Details view opens that unit's history.
        if (details) {
            QTest::mouseDClick(list->viewport(), Qt::LeftButton, {},
                               list->visualRect(list->currentIndex()).center());
            QVERIFY(program->HistoryFrm->isVisible());
            QCOMPARE(program->HistoryFrm->UnitBox->currentText(), QStringLiteral("Router C1"));
            program->HistoryFrm->hide();
        }

        // Ctrl+Shift+1 shows the command log like Ctrl+1.
        QVERIFY(!program->CmndProc->isVisible());
        QTest::keyClick(list, Qt::Key_Exclam, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(program->CmndProc->isVisible());
        program->CmndProc->hide();
    }

    // Power buttons ask before they reach ticked units that are not on screen; Query never asks.
    void hiddenTicksAskAndTheStatusBarCounts() {
        for (int unit = 1; unit <= 30; ++unit)
            TempDatabase::addUnit(QStringLiteral("unit %1").arg(unit, 2, 10, QLatin1Char('0')));
        QSqlQuery(Database::connection())
            .exec(QStringLiteral("UPDATE \"Master\" SET \"Checked\" = 1"));
        start();
        main().show();
        QVERIFY(QTest::qWaitForWindowExposed(&main()));
        const auto queued = [this] { return program->CmndProc->engine().queue().size(); };
        RecordingMessageSink sink;
        sink.answer = QMessageBox::No;
        main().OffBTN->click();
        QCOMPARE(sink.shown.size(), 1);
        const QRegularExpressionMatch question =
            QRegularExpression(QStringLiteral("^Power OFF 30 units, (\\d+) of them not shown\\?$"))
                .match(sink.shown[0].text);
        QVERIFY2(question.hasMatch(), qPrintable(sink.shown[0].text));
        const int hidden = question.captured(1).toInt();
        QVERIFY(hidden > 0 && hidden < 30);
        QCOMPARE(sink.shown[0].defaultButton, QMessageBox::No);
        QCOMPARE(queued(), 0);
        main().QueryBTN->click();
        QCOMPARE(sink.shown.size(), 1);
        QCOMPARE(queued(), 30);

        // Reboot and Pulse say whom they skipped: no unit has answered yet.
        sink.answer = QMessageBox::Yes;
        main().RebootBtn->click();
        QCOMPARE(queued(), 30);
        QCOMPARE(main().statusBar()->currentMessage(),
                 QStringLiteral("Reboot skipped for 30 units whose status is not known: query "
                                "them first"));

        // The status bar: the units by status, the ticked ones, and the queue's progress.
        QSqlQuery(Database::connection())
            .exec(QStringLiteral("UPDATE \"Master\" SET \"Status\" = \"Index\" % 6"));
        program->StatusLine->refresh();
        QCOMPARE(program->StatusLine->Counts->text(),
                 QStringLiteral("30 units: 5 on, 5 off, 5 unreachable, 5 unknown, 5 busy, "
                                "5 cycling"));
        QCOMPARE(program->StatusLine->Ticked->text(), QStringLiteral("30 ticked"));
        // Codes outside 0..5 (hand edits) count as unknown, as the list draws them.
        QSqlQuery(Database::connection())
            .exec(QStringLiteral("UPDATE \"Master\" SET \"Status\" = CASE \"Index\" WHEN 1 THEN 9 "
                                 "WHEN 2 THEN -1 ELSE \"Status\" END"));
        program->StatusLine->refresh();
        QCOMPARE(program->StatusLine->Counts->text(),
                 QStringLiteral("30 units: 5 on, 4 off, 5 unreachable, 7 unknown, 5 busy, "
                                "4 cycling"));
        QSqlQuery(Database::connection())
            .exec(QStringLiteral("UPDATE \"Master\" SET \"Status\" = \"Index\" % 6"));
        program->StatusLine->refresh();
        QCOMPARE(
            program->StatusLine->Queue->text(),
            QStringLiteral("Sending 1 of 30, about %1 s left")
                .arg((30 * (TCommandEngine::PauseMs + TCommandEngine::ReplyLimitMs / 2) + 999) /
                     1000));

        // At the first-start width the outcome comes first: the fields give up its room, the
        // counts show what is left of theirs and the whole of it in the tooltip; without a
        // message they take their room again.
        QStatusBar* bar = main().statusBar();
        const QList<QLabel*> fields = {program->StatusLine->Counts, program->StatusLine->Ticked,
                                       program->StatusLine->Queue};
        const auto fieldsStart = [&] {
            int start = bar->width();
            for (const QLabel* field : fields) {
                if (field->isVisible() && field->width() > 0)
                    start = std::min(start, field->x());
            }
            return start;
        };
        for (const QString& outcome : {QStringLiteral("KavioRst was not found"),
                                       QStringLiteral("Deleted Rack A in the east wing, row 12. "
                                                      "Ctrl+Z brings it back")}) {
            bar->showMessage(outcome);
            QTRY_VERIFY2(bar->fontMetrics().horizontalAdvance(outcome) < fieldsStart(),
                         qPrintable(QStringLiteral("%1 of %2")
                                        .arg(fieldsStart())
                                        .arg(bar->fontMetrics().horizontalAdvance(outcome))));
        }
        QVERIFY(program->StatusLine->Counts->width() <
                program->StatusLine->Counts->sizeHint().width());
        QCOMPARE(program->StatusLine->Counts->toolTip(), program->StatusLine->Counts->text());
        const int countsBeside = program->StatusLine->Counts->width();
        bar->clearMessage();
        QTRY_VERIFY(program->StatusLine->Counts->width() > countsBeside);

        // Only the lines on screen: the question goes away with the ticks that cannot be seen.
        main().selNoneClick();
        main().KavioList->lines()->setBox(0, true);
        program->StatusLine->refresh();
        QCOMPARE(program->StatusLine->Ticked->text(), QStringLiteral("1 ticked"));
        main().OffBTN->click();
        QCOMPARE(sink.shown.size(), 2);
        QCOMPARE(queued(), 31);

        // A line that find leaves out is not shown either, in the Details view too.
        main().ListPanel->setDetails(true);
        main().ListPanel->showFind();
        QTest::keyClicks(main().ListPanel->FindEdit, QStringLiteral("unit 30"));
        main().OffBTN->click();
        QCOMPARE(sink.shown.size(), 3);
        QCOMPARE(sink.shown.last().text, QStringLiteral("Power OFF 1 unit, which is not shown?"));
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
