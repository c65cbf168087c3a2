#include "Clock.h"
#include "Messages.h"
#include "SchedulerTestSupport.h"
#include "SetTimer.h"
#include "TempDatabase.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTest>
#include <QTimeEdit>
#include <QTimer>
#include <functional>

using namespace kavio;
using test::addTimer;
using test::at;
using test::timerField;

namespace {

// Runs `inside` once the modal editor is up, then returns what ShowModalFor gave.
int runModal(TSetTimerFRM& editor, quint16 unit, std::function<void()> inside) {
    QTimer::singleShot(0, &editor, [&editor, inside] {
        QTRY_VERIFY(editor.isVisible());
        inside();
    });
    return editor.ShowModalFor(unit);
}

QStringList row(quint16 timer) {
    QStringList values;
    for (const char* field :
         {"Index", "Task", "Every", "Count", "TimeOfDay", "DayOfWeek", "Month", "Date"})
        values << timerField(timer, field).toString();
    return values;
}

QList<bool> ticks(const auto& boxes) {
    QList<bool> ticked;
    for (const QCheckBox* box : boxes)
        ticked << box->isChecked();
    return ticked;
}

} // namespace

class TestSetTimer : public QObject {
    Q_OBJECT

private slots:
    void captions() {
        test::TempDatabase db;
        TSetTimerFRM editor;
        QCOMPARE(editor.windowTitle(), QStringLiteral("Set Timer"));
        const QList<QPair<const char*, const char*>> buttons = {{"PowerOnRB", "Turn the Power ON"},
                                                                {"PowerOff", "Turn the Power OFF"},
                                                                {"RebootRB", "Reboot the Power"},
                                                                {"PulseRB", "Pulse the Power"},
                                                                {"PowerCycle", "Cycle the Power"},
                                                                {"DayRB", "Day"},
                                                                {"WeekRB", "Week"},
                                                                {"MonthRB", "Month"},
                                                                {"YearRB", "Yeay"},
                                                                {"OnceRB", "Once"},
                                                                {"SunCB", "Sun"},
                                                                {"MonCB", "Mon"},
                                                                {"TueCB", "Tue"},
                                                                {"WedCB", "Wed"},
                                                                {"TruCB", "Tru"},
                                                                {"FriCB", "Fri"},
                                                                {"SatCB", "Sat"},
                                                                {"JanCB", "Jan"},
                                                                {"FebCB", "Feb"},
                                                                {"MarCB", "Mar"},
                                                                {"AprCB", "Apr"},
                                                                {"MayCB", "May"},
                                                                {"JuneCB", "June"},
                                                                {"JulyCB", "July"},
                                                                {"AugCB", "Aug"},
                                                                {"SepCB", "Sep"},
                                                                {"OctCB", "Oct"},
                                                                {"NovCB", "Nov"},
                                                                {"DecCB", "Dec"},
                                                                {"Button1", "OK"},
                                                                {"Button2", "Cancel"}};
        for (const auto& [name, caption] : buttons) {
            auto* button = editor.findChild<QAbstractButton*>(QLatin1String(name));
            QVERIFY2(button, name);
            QCOMPARE(button->text(), QLatin1String(caption));
        }
        for (const char* name :
             {"DaySpin", "DayTime", "WeekSpin", "WeekTime", "MonthSpin", "MonthTime", "YearDate",
              "YearTime", "OnceDate", "OnceTime", "TabSheet1", "TabSheet2", "Month", "Year", "Once",
              "PageControl1", "GroupBox3"})
            QVERIFY2(editor.findChild<QWidget*>(QLatin1String(name)), name);
        QCOMPARE(editor.GroupBox1->title(), QStringLiteral(" Task "));
        QCOMPARE(editor.GroupBox2->title(), QStringLiteral(" Every "));
        QStringList labels;
        for (int page = 0; page < editor.PageControl1->count(); ++page) {
            QStringList texts;
            for (const QLabel* label : editor.PageControl1->widget(page)->findChildren<QLabel*>())
                texts << label->text();
            texts.sort();
            labels << texts.join(QLatin1Char('|'));
        }
        QCOMPARE(labels, QStringList({"At|Day(s)|Every ", "At|Every |On|Week(s)",
                                      "At|Of|On the |day", "At|Every ", "At|On"}));
        QCOMPARE(editor.DayTime->displayFormat(), QStringLiteral("hh:mm AP"));
        QCOMPARE(editor.DaySpin->maximum(), 365);
        QCOMPARE(editor.WeekSpin->maximum(), 52);
        QCOMPARE(editor.MonthSpin->maximum(), 31);
        editor.show();
        QVERIFY(QTest::qWaitForWindowExposed(&editor));
        QVERIFY(editor.Button1->y() >= editor.GroupBox3->geometry().bottom()); // OK and Cancel last
        editor.hide();

        // Every task button names the task in the page frame.
        const QList<QPair<QRadioButton*, const char*>> tasks = {
            {editor.PowerOff, " Turn the Power OFF "},
            {editor.RebootRB, " Reboot the Power "},
            {editor.PulseRB, " Pulse the Power "},
            {editor.PowerCycle, " Cycle the Power "},
            {editor.PowerOnRB, " Turn the Power ON "}};
        for (const auto& [button, caption] : tasks) {
            button->click();
            QCOMPARE(editor.GroupBox3->title(), QLatin1String(caption));
        }
        const QList<QRadioButton*> kinds = {editor.OnceRB, editor.YearRB, editor.MonthRB,
                                            editor.WeekRB, editor.DayRB};
        for (QRadioButton* kind : kinds) {
            kind->click();
            QCOMPARE(editor.PageControl1->currentIndex(), 4 - kinds.indexOf(kind));
        }
    }

    // Task buttons in two rows (ON and OFF above; Reboot, Pulse and Cycle below), the kinds in
    // one row, the months in three rows of four, and each page line read left to right as one
    // phrase, its controls side by side.
    void layout() {
        test::TempDatabase db;
        TSetTimerFRM editor;
        editor.show();
        QVERIFY(QTest::qWaitForWindowExposed(&editor));
        auto place = [&editor](const QWidget* widget) {
            return QRect(widget->mapTo(&editor, QPoint(0, 0)), widget->size());
        };
        // Each line: its widgets side by side from left to right, on one height.
        auto checkLine = [&](const QList<const QWidget*>& line, bool close) {
            for (int at = 1; at < line.size(); ++at) {
                const QRect before = place(line[at - 1]);
                const QRect here = place(line[at]);
                QVERIFY2(here.center().y() == before.center().y(),
                         qPrintable(line[at]->objectName()));
                QVERIFY2(here.left() > before.right(), qPrintable(line[at]->objectName()));
                if (close)
                    QVERIFY2(here.left() - before.left() <= line[at - 1]->sizeHint().width() + 12,
                             qPrintable(line[at]->objectName()));
            }
        };
        checkLine({editor.PowerOnRB, editor.PowerOff}, false);
        checkLine({editor.RebootRB, editor.PulseRB, editor.PowerCycle}, false);
        QVERIFY(place(editor.RebootRB).top() > place(editor.PowerOnRB).bottom());
        checkLine({editor.DayRB, editor.WeekRB, editor.MonthRB, editor.YearRB, editor.OnceRB},
                  false);
        editor.MonthRB->click();
        for (int row = 0; row < 3; ++row) {
            checkLine({editor.MonthBoxes[row * 4], editor.MonthBoxes[row * 4 + 1],
                       editor.MonthBoxes[row * 4 + 2], editor.MonthBoxes[row * 4 + 3]},
                      false);
            if (row > 0)
                QVERIFY(place(editor.MonthBoxes[row * 4]).top() >
                        place(editor.MonthBoxes[row * 4 - 4]).bottom());
        }

        auto labelled = [](const QWidget* page, const char* text) -> const QWidget* {
            for (const QLabel* label : page->findChildren<QLabel*>())
                if (label->text() == QLatin1String(text))
                    return label;
            return nullptr;
        };
        const QList<QRadioButton*> kinds = {editor.DayRB, editor.WeekRB, editor.MonthRB,
                                            editor.YearRB, editor.OnceRB};
        const QList<QList<QPair<const char*, const QWidget*>>> lines = {
            {{"Every ", nullptr}, {nullptr, editor.DaySpin}, {"Day(s)", nullptr}},
            {{"At", nullptr}, {nullptr, editor.DayTime}},
            {{"Every ", nullptr}, {nullptr, editor.WeekSpin}, {"Week(s)", nullptr}},
            {{"At", nullptr}, {nullptr, editor.WeekTime}},
            {{"On the ", nullptr}, {nullptr, editor.MonthSpin}, {"day", nullptr}},
            {{"At", nullptr}, {nullptr, editor.MonthTime}},
            {{"Every ", nullptr}, {nullptr, editor.YearDate}},
            {{"At", nullptr}, {nullptr, editor.YearTime}},
            {{"On", nullptr}, {nullptr, editor.OnceDate}},
            {{"At", nullptr}, {nullptr, editor.OnceTime}}};
        for (int at = 0; at < lines.size(); ++at) {
            kinds[at / 2]->click();
            QWidget* page = editor.PageControl1->currentWidget();
            QList<const QWidget*> line;
            for (const auto& [text, widget] : lines[at]) {
                line << (widget ? widget : labelled(page, text));
                QVERIFY2(line.last() && line.last()->isVisible(), text);
            }
            checkLine(line, true);
        }
    }

    void savesEachKind() {
        test::TempDatabase db;
        RecordingMessageSink messages;
        ManualClock clock(at(2026, 12, 7, 10, 15, 37, 250));
        TSetTimerFRM editor;
        editor.YearRB->click();
        editor.PowerOff->click();
        editor.PrepareNewTimer();
        QVERIFY(editor.PowerOnRB->isChecked() && editor.DayRB->isChecked());
        QCOMPARE(editor.PageControl1->currentIndex(), 0);
        QCOMPARE(editor.GroupBox3->title(), QStringLiteral(" Turn the Power ON "));
        QCOMPARE(editor.DaySpin->value(), 1);
        QCOMPARE(editor.DayTime->time(), QTime(10, 15, 37));
        QCOMPARE(editor.DayTime->text(), QStringLiteral("10:15 AM"));
        QCOMPARE(editor.OnceDate->date(), QDate(2026, 12, 7));

        QCOMPARE(runModal(editor, 3,
                          [&] {
                              editor.DaySpin->setValue(2);
                              editor.DayTime->setTime(QTime(7, 15, 42));
                              editor.Button1->click();
                          }),
                 TSetTimerFRM::mrOk);
        QCOMPARE(row(1), QStringList({"3", "0", "0", "2", "07:15:42", "0", "0", "2026-12-07"}));

        auto save = [&](const std::function<void()>& fill) {
            editor.PrepareNewTimer();
            fill();
            editor.ShowModalFor(3);
        };
        save([&] {
            QTimer::singleShot(0, [&] {
                editor.PowerOff->click();
                editor.WeekRB->click();
                editor.DayBoxes[1]->setChecked(true);
                editor.DayBoxes[5]->setChecked(true);
                editor.WeekSpin->setValue(2);
                editor.Button1->click();
            });
        });
        QCOMPARE(row(2), QStringList({"3", "1", "1", "2", "10:15:37", "34", "0", "2026-12-07"}));
        save([&] {
            QTimer::singleShot(0, [&] {
                editor.PulseRB->click();
                editor.MonthRB->click();
                editor.MonthBoxes[0]->setChecked(true);
                editor.MonthBoxes[6]->setChecked(true);
                editor.MonthSpin->setValue(15);
                editor.Button1->click();
            });
        });
        QCOMPARE(row(3), QStringList({"3", "3", "2", "15", "10:15:37", "0", "65", "2026-12-07"}));
        save([&] {
            QTimer::singleShot(0, [&] {
                editor.RebootRB->click();
                editor.YearRB->click();
                editor.YearDate->setDate(QDate(2027, 3, 4));
                editor.YearTime->setTime(QTime(6, 0, 5));
                editor.Button1->click();
            });
        });
        // A yearly timer keeps the day of the month asked for in Count.
        QCOMPARE(row(4), QStringList({"3", "2", "3", "4", "06:00:05", "0", "0", "2027-03-04"}));
        save([&] {
            QTimer::singleShot(0, [&] {
                editor.PowerCycle->click();
                editor.OnceRB->click();
                editor.OnceDate->setDate(QDate(2027, 5, 6));
                editor.OnceTime->setTime(QTime(18, 30));
                editor.Button1->click();
            });
        });
        QCOMPARE(row(5), QStringList({"3", "4", "4", "0", "18:30:00", "0", "0", "2027-05-06"}));

        // Empty masks and a cleared month day are refused and nothing is saved; Esc then cancels.
        editor.PrepareNewTimer();
        const int result = runModal(editor, 3, [&] {
            editor.WeekRB->click();
            editor.Button1->click();
            editor.MonthRB->click();
            editor.Button1->click();
            editor.MonthBoxes[2]->setChecked(true);
            editor.MonthSpin->findChild<QLineEdit*>()->clear();
            editor.Button1->click();
            QVERIFY(editor.isVisible());
            QTest::keyClick(&editor, Qt::Key_Escape);
        });
        QCOMPARE(result, TSetTimerFRM::mrCancel);
        QCOMPARE(test::timerCount(), 5);
        QCOMPARE(messages.shown.size(), 3);
        QCOMPARE(messages.shown[0].text, QStringLiteral("Tick at least one day."));
        QCOMPARE(messages.shown[1].text, QStringLiteral("Tick at least one month."));
        QCOMPARE(messages.shown[2].text, QStringLiteral("Enter a day of the month from 1 to 31."));
        QCOMPARE(messages.shown[0].kind, MessageKind::Error);
        QCOMPARE(messages.beeps, QList<Beep>(3, Beep::Exclamation));
    }

    // An edit that changes only the time of day keeps what was asked for: a fortnightly timer
    // its weeks, a yearly timer on 29 February its day.
    void editKeepsRhythmAndAskedDay_data() {
        QTest::addColumn<int>("every");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("days");
        QTest::addColumn<QDate>("stored");
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<int>("savedCount");
        QTest::addColumn<QDate>("next");
        // Monday only, every 2 weeks, next on 21 December: edited on the Tuesday of a week of
        // the rhythm, and on the Tuesday of a week outside it.
        QTest::newRow("fortnightly, edited in a week of its rhythm")
            << 1 << 2 << 2 << QDate(2026, 12, 21) << at(2026, 12, 8, 10) << 2
            << QDate(2026, 12, 21);
        QTest::newRow("fortnightly, edited in the week between")
            << 1 << 2 << 2 << QDate(2026, 12, 21) << at(2026, 12, 15, 10) << 2
            << QDate(2026, 12, 21);
        QTest::newRow("fortnightly, edited on its own Monday")
            << 1 << 2 << 2 << QDate(2026, 12, 21) << at(2026, 12, 21, 7) << 2
            << QDate(2026, 12, 21);
        // Monday and Friday every week, edited on a Tuesday: that week's Friday is still to come.
        QTest::newRow("weekly Mon+Fri, edited on a Tuesday")
            << 1 << 1 << 34 << QDate(2026, 12, 21) << at(2026, 12, 15, 10) << 1
            << QDate(2026, 12, 18);
        QTest::newRow("29 February asked, shown as the 28th")
            << 3 << 29 << 0 << QDate(2029, 2, 28) << at(2029, 3, 1, 10) << 29 << QDate(2032, 2, 29);
    }

    void editKeepsRhythmAndAskedDay() {
        QFETCH(int, every);
        QFETCH(int, count);
        QFETCH(int, days);
        QFETCH(QDate, stored);
        QFETCH(QDateTime, now);
        QFETCH(int, savedCount);
        QFETCH(QDate, next);
        test::TempDatabase db;
        ManualClock clock(now);
        const quint16 timer = addTimer(3, 0, every, count, "09:00:00", stored, days);
        TSetTimerFRM editor;
        editor.LoadTimer(timer);
        runModal(editor, 3, [&] {
            (every == 1 ? editor.WeekTime : editor.YearTime)->setTime(QTime(9, 30));
            editor.Button1->click();
        });
        QCOMPARE(timerField(timer, "Count").toInt(), savedCount);
        RecalcTimerDates();
        if (every == 3) // the yearly timer is carried on, one year at a time
            for (int year = 0; year < 2; ++year) {
                clock.time = QDateTime(timerField(timer, "Date").toDate().addDays(1), QTime(10, 0));
                RecalcTimerDates();
            }
        QCOMPARE(timerField(timer, "Date").toString(), next.toString(Qt::ISODate));
    }

    void loadShowsItsOwnPageOnly() {
        test::TempDatabase db;
        ManualClock clock(at(2026, 12, 7, 10));
        const quint16 monday = addTimer(3, 1, 1, 3, "06:00:00", QDate(2026, 12, 1), 2);
        const quint16 friday = addTimer(3, 4, 1, 1, "06:00:00", QDate(2026, 12, 1), 32);
        const quint16 weekend = addTimer(3, 4, 1, 1, "06:00:00", QDate(2026, 12, 1), 65);
        const quint16 daily = addTimer(3, 2, 0, 5, "08:00:09", QDate(2026, 11, 1));
        const quint16 monthly = addTimer(3, 0, 2, 0, "08:00:00", QDate(2026, 11, 1), 0, 65);
        TSetTimerFRM editor;
        editor.PrepareNewTimer();
        editor.LoadTimer(monday);
        QVERIFY(editor.WeekRB->isChecked() && editor.PowerOff->isChecked());
        QCOMPARE(editor.PageControl1->currentIndex(), 1);
        QCOMPARE(editor.WeekSpin->value(), 3);
        QCOMPARE(ticks(editor.DayBoxes), QList<bool>({0, 1, 0, 0, 0, 0, 0}));
        editor.LoadTimer(weekend);
        QCOMPARE(ticks(editor.DayBoxes), QList<bool>({1, 0, 0, 0, 0, 0, 1}));
        editor.LoadTimer(friday);
        QCOMPARE(ticks(editor.DayBoxes), QList<bool>({0, 0, 0, 0, 0, 1, 0}));
        QCOMPARE(editor.GroupBox3->title(), QStringLiteral(" Cycle the Power "));
        editor.LoadTimer(monthly);
        QCOMPARE(editor.MonthSpin->value(), 0); // a stored 0 shows as it is, to be refused
        QCOMPARE(editor.MonthTime->time(), QTime(8, 0));
        QCOMPARE(ticks(editor.MonthBoxes), QList<bool>({1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0}));
        editor.LoadTimer(daily);
        QVERIFY(editor.DayRB->isChecked() && editor.RebootRB->isChecked());
        QCOMPARE(editor.DaySpin->value(), 5);
        QCOMPARE(editor.DayTime->time(), QTime(8, 0, 9));
        QCOMPARE(editor.WeekSpin->value(), 1); // the weekly page keeps what it showed
        QCOMPARE(ticks(editor.DayBoxes), QList<bool>({0, 0, 0, 0, 0, 1, 0}));

        // OK rewrites the loaded timer and restarts it from today.
        runModal(editor, 3, [&] { editor.Button1->click(); });
        QCOMPARE(test::timerCount(), 5);
        QCOMPARE(row(daily), QStringList({"3", "2", "0", "5", "08:00:09", "0", "0", "2026-12-07"}));

        bool refused = false;
        try {
            editor.LoadTimer(77);
        } catch (const TimerRecordError& error) {
            refused = error.message().contains(QStringLiteral("Timer 77"));
        }
        QVERIFY(refused);
        test::setTimerField(friday, "Every", "weekly");
        try {
            editor.LoadTimer(friday);
            refused = false;
        } catch (const TimerRecordError& error) {
            refused = error.message().contains(QStringLiteral("field \"Every\" holds \"weekly\""));
        }
        QVERIFY(refused);
        const quint16 yearly = addTimer(3, 0, 3, 0, "21:45:30", QDate(2027, 3, 14));
        editor.LoadTimer(yearly);
        QCOMPARE(editor.YearDate->date(), QDate(2027, 3, 14));
        QCOMPARE(editor.YearTime->time(), QTime(21, 45, 30));
    }

    void numberFieldsAndTimePickers() {
        test::TempDatabase db;
        ManualClock clock(at(2026, 12, 7, 10));
        TSetTimerFRM editor;
        editor.PrepareNewTimer();
        editor.DaySpin->findChild<QLineEdit*>()->clear();
        QTest::keyClicks(editor.DaySpin, QStringLiteral("4x0-9"));
        QCOMPARE(editor.DaySpin->text(), QStringLiteral("409"));
        editor.MonthSpin->findChild<QLineEdit*>()->clear();
        QFocusEvent focusOut(QEvent::FocusOut, Qt::TabFocusReason);
        QApplication::sendEvent(editor.MonthSpin, &focusOut);
        QCOMPARE(editor.MonthSpin->value(), 0);
        editor.WeekSpin->findChild<QLineEdit*>()->setText(QStringLiteral("0"));
        QApplication::sendEvent(editor.WeekSpin, &focusOut);
        QCOMPARE(editor.WeekSpin->value(), 1);
        editor.WeekSpin->findChild<QLineEdit*>()->setText(QStringLiteral("00000000000053"));
        QApplication::sendEvent(editor.WeekSpin, &focusOut);
        QCOMPARE(editor.WeekSpin->value(), 52);
        // Leading zeros do not count as digits that could only mean a number past the bound.
        editor.WeekSpin->findChild<QLineEdit*>()->setText(QStringLiteral("0000000007"));
        QApplication::sendEvent(editor.WeekSpin, &focusOut);
        QCOMPARE(editor.WeekSpin->value(), 7);

        editor.DayTime->setTime(QTime(7, 15, 42));
        QTest::keyClick(editor.DayTime, Qt::Key_Up); // the hour section
        QCOMPARE(editor.DayTime->time(), QTime(8, 15, 42));

        runModal(editor, 9, [&] { editor.Button1->click(); });
        QCOMPARE(timerField(1, "Count").toInt(), 365);
        QCOMPARE(timerField(1, "TimeOfDay").toString(), QStringLiteral("08:15:42"));
        QCOMPARE(timerField(1, "Index").toInt(), 9);
    }
};

QTEST_MAIN(TestSetTimer)
#include "test_set_timer.moc"
