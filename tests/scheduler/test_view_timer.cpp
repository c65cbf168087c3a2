#include "Clock.h"
#include "CommandEngine.h"
#include "Messages.h"
#include "SchedulerTestSupport.h"
#include "SetTimer.h"
#include "TempDatabase.h"
#include "Timer.h"
#include "viewtimer.h"

#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>
#include <QTimeEdit>
#include <QTimer>
#include <memory>
#include <tuple>

using namespace kavio;
using test::addTimer;
using test::at;
using test::TempDatabase;

namespace {

QStringList gridRow(const TViewTimerFrm& list, int row) {
    QStringList texts;
    for (int column = 0; column < 3; ++column) {
        const QTableWidgetItem* cell = list.theGrid->item(row, column);
        texts << (cell ? cell->text() : QString());
    }
    return texts;
}

bool timerFlag(quint16 unit) {
    TTable master(QStringLiteral("Master.DB"));
    master.open();
    return master.findKey(unit) && master.fieldByName(QStringLiteral("Timer")).asBoolean();
}

void setTimerFlag(quint16 unit) {
    QSqlQuery(Database::connection())
        .exec(QStringLiteral("UPDATE \"Master\" SET \"Timer\" = 1 WHERE \"Index\" = %1").arg(unit));
}

} // namespace

class TestViewTimer : public QObject {
    Q_OBJECT

    std::unique_ptr<TempDatabase> db;
    std::unique_ptr<ManualClock> clock;
    std::unique_ptr<RecordingMessageSink> messages;
    std::unique_ptr<TCommandEngine> processor;
    std::unique_ptr<TSetTimerFRM> editor;
    std::unique_ptr<TTimerFrm> runner;
    std::unique_ptr<TViewTimerFrm> list;
    quint16 rack = 0;

    // Accepts (or cancels) the editor as soon as it is shown modally.
    void answerEditor(bool ok, std::function<void()> fill = {}) {
        QTimer::singleShot(0, editor.get(), [this, ok, fill] {
            QTRY_VERIFY(editor->isVisible());
            if (fill)
                fill();
            (ok ? editor->Button1 : editor->Button2)->click();
        });
    }

private slots:
    void init() {
        db = std::make_unique<TempDatabase>();
        clock = std::make_unique<ManualClock>(at(2026, 12, 7, 10));
        messages = std::make_unique<RecordingMessageSink>();
        rack = TempDatabase::addUnit(QStringLiteral("Rack 3"));
        processor = std::make_unique<TCommandEngine>();
        editor = std::make_unique<TSetTimerFRM>();
        runner = std::make_unique<TTimerFrm>(*processor);
        list = std::make_unique<TViewTimerFrm>(*editor, *runner);
    }

    void cleanup() {
        list.reset();
        runner.reset();
        editor.reset();
        processor.reset();
        messages.reset();
        clock.reset();
        db.reset();
    }

    void rowsOfAUnit() {
        QSignalSpy changed(list.get(), &TViewTimerFrm::deviceListChanged);
        list->ShowUnitTimers(rack);
        QVERIFY(list->isVisible() && !list->isModal());
        QCOMPARE(list->windowTitle(), QStringLiteral("Rack 3 Timer Properties"));
        QCOMPARE(list->theGrid->rowCount(), 1);
        QCOMPARE(gridRow(*list, 0), QStringList({"", "", ""}));
        QVERIFY(!list->theGrid->selectionModel()->hasSelection());
        QStringList header;
        for (int column = 0; column < 3; ++column)
            header << list->theGrid->horizontalHeaderItem(column)->text();
        QCOMPARE(header, QStringList({"Event", "Frequency", "Next Event"}));
        QCOMPARE(list->theGrid->columnWidth(2), 161);

        // Edit and Delete on the empty row do nothing.
        list->EditClick();
        list->DeleteClick();
        QVERIFY(!editor->isVisible());
        QVERIFY(messages->shown.isEmpty());
        QCOMPARE(changed.count(), 0);

        const QDate passed(2026, 1, 5);
        const quint16 weekly = addTimer(rack, 1, 1, 1, "21:30:00", QDate(2026, 12, 9), 8);
        const quint16 once = addTimer(rack, 3, 4, 0, "09:30:00", passed);
        const quint16 other = TempDatabase::addUnit(QStringLiteral("Other"));
        addTimer(other, 0, 0, 1, "08:00:00", QDate(2026, 12, 8));
        const quint16 bad = addTimer(rack, 4, 3, 0, "07:00:00", QDate(2026, 12, 8));
        test::setTimerField(bad, "TimeOfDay", "7h");
        list->ShowUnitTimers(rack);
        QCOMPARE(list->theGrid->rowCount(), 3);
        QCOMPARE(gridRow(*list, 0),
                 QStringList({"Power Off", "Weekly",
                              QLocale().toString(QDate(2026, 12, 9), QLocale::ShortFormat) +
                                  " at 09:30 PM"}));
        QCOMPARE(gridRow(*list, 1),
                 QStringList({"Pulse", "Once",
                              QLocale().toString(passed, QLocale::ShortFormat) + " at 09:30 AM"}));
        QCOMPARE(gridRow(*list, 2), QStringList({"Cycle", "Yearly", "2026-12-08 at 7h"}));
        QCOMPARE(list->timerIndexAt(0), weekly);
        QCOMPARE(list->timerIndexAt(1), once);
        QCOMPARE(list->timerIndexAt(2), bad);

        list->ShowUnitTimers(other);
        QCOMPARE(list->windowTitle(), QStringLiteral("Other Timer Properties"));
        QCOMPARE(gridRow(*list, 0).mid(0, 2), QStringList({"Power On", "Daily"}));
        list->CloseBtnClick();
        QVERIFY(!list->isVisible());
    }

    // The grid's fixed sizes; its cells are read-only and a click selects the whole row.
    void gridSettingsAndSelection() {
        addTimer(rack, 0, 0, 1, "11:00:00", QDate(2026, 12, 7));
        addTimer(rack, 1, 1, 1, "12:00:00", QDate(2026, 12, 9), 8);
        list->ShowUnitTimers(rack);
        QVERIFY(QTest::qWaitForWindowExposed(list.get()));
        QTableWidget& grid = *list->theGrid;
        // What each setting is, and what it must be.
        const QList<std::tuple<const char*, QVariant, QVariant>> settings = {
            {"client", list->size(), QSize(623, 325)},
            {"column widths",
             QVariantList{grid.columnWidth(0), grid.columnWidth(1), grid.columnWidth(2)},
             QVariantList{146, 110, 161}},
            {"row heights", QVariantList{grid.rowHeight(0), grid.rowHeight(1)},
             QVariantList{18, 18}},
            {"row step",
             grid.visualItemRect(grid.item(1, 0)).top() -
                 grid.visualItemRect(grid.item(0, 0)).top(),
             18},
            {"grid lines", grid.showGrid(), true},
            {"fixed column", grid.verticalHeader()->isVisible(), false},
            {"header row", grid.horizontalHeader()->isVisible(), true},
        };
        for (const auto& [name, actual, expected] : settings)
            QVERIFY2(actual == expected, name);

        for (int row = 0; row < 2; ++row)
            for (int column = 0; column < 3; ++column) {
                grid.editItem(grid.item(row, column));
                QVERIFY(!grid.viewport()->findChild<QLineEdit*>());
            }

        const QRect cell = grid.visualItemRect(grid.item(1, 2));
        QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, cell.center());
        QCOMPARE(grid.selectedItems().size(), 3);
        for (const QTableWidgetItem* selected : grid.selectedItems())
            QCOMPARE(selected->row(), 1);
    }

    void deleteNewAndEdit() {
        setTimerFlag(rack);
        addTimer(rack, 0, 0, 1, "11:00:00", QDate(2026, 12, 7));
        addTimer(rack, 1, 0, 1, "12:00:00", QDate(2026, 12, 7));
        runner->RefreshTimers();
        QCOMPARE(runner->EventDisplay->count(), 2);
        QSignalSpy changed(list.get(), &TViewTimerFrm::deviceListChanged);
        list->ShowUnitTimers(rack);

        // Deleting asks first, naming the timer; No (the default) keeps it.
        list->theGrid->selectRow(1);
        messages->answer = QMessageBox::No;
        list->DeleteClick();
        QCOMPARE(test::timerCount(), 2);
        QCOMPARE(messages->shown.last().defaultButton, QMessageBox::No);
        QVERIFY2(messages->shown.last().text.startsWith(
                     QStringLiteral("Delete the timer \"Power Off, ")),
                 qPrintable(messages->shown.last().text));
        messages->answer = QMessageBox::Yes;
        list->DeleteClick();
        QCOMPARE(test::timerCount(), 1);
        QCOMPARE(gridRow(*list, 0).first(), QStringLiteral("Power On"));
        QVERIFY(timerFlag(rack));
        QCOMPARE(changed.count(), 0);
        QCOMPARE(runner->EventDisplay->count(), 1);

        list->DeleteClick();
        QCOMPARE(test::timerCount(), 0);
        QVERIFY(!timerFlag(rack));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(list->theGrid->rowCount(), 1);
        QVERIFY(!list->theGrid->selectionModel()->hasSelection());
        QCOMPARE(runner->EventDisplay->count(), 0);

        // New leaves the flag as it is; the runner lists the new timer at once.
        answerEditor(true, [this] { editor->DayTime->setTime(QTime(11, 30)); });
        list->NewClick();
        QCOMPARE(test::timerCount(), 1);
        QVERIFY(!timerFlag(rack));
        QCOMPARE(gridRow(*list, 0).mid(0, 2), QStringList({"Power On", "Daily"}));
        QCOMPARE(runner->EventDisplay->item(0)->text(),
                 QStringLiteral("Rack 3 Power On at 11:30 AM"));

        answerEditor(true, [this] {
            QCOMPARE(editor->DayTime->time(), QTime(11, 30));
            editor->PowerOff->click();
        });
        list->Edit->click();
        QCOMPARE(test::timerCount(), 1);
        QCOMPARE(gridRow(*list, 0).first(), QStringLiteral("Power Off"));
        QCOMPARE(runner->EventDisplay->item(0)->text(),
                 QStringLiteral("Rack 3 Power Off at 11:30 AM"));

        // An edit to a time already past today shows tomorrow's date, as recomputed.
        answerEditor(true, [this] { editor->DayTime->setTime(QTime(9, 45)); });
        list->EditClick();
        QCOMPARE(gridRow(*list, 0).at(2),
                 QLocale().toString(QDate(2026, 12, 8), QLocale::ShortFormat) + " at 09:45 AM");
        QCOMPARE(runner->EventDisplay->count(), 0);

        answerEditor(false, [this] { editor->PowerCycle->click(); });
        list->EditClick();
        QCOMPARE(gridRow(*list, 0).first(), QStringLiteral("Power Off"));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(messages->shown.size(), 3); // the three questions of the deletions above
        messages->shown.clear();

        // A timer deleted elsewhere since the list was filled is told, not edited.
        QSqlQuery(Database::connection()).exec(QStringLiteral("DELETE FROM \"Timer\""));
        list->EditClick();
        QVERIFY(!editor->isVisible());
        QCOMPARE(messages->shown.size(), 1);
        QVERIFY(messages->shown[0].text.contains(QStringLiteral("no longer exists")));
    }
};

QTEST_MAIN(TestViewTimer)
#include "test_view_timer.moc"
