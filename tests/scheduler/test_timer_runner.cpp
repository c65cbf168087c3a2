#include "Clock.h"
#include "CommandEngine.h"
#include "LCDScreen.h"
#include "LoopbackUnits.h"
#include "Messages.h"
#include "SchedulerTestSupport.h"
#include "TempDatabase.h"
#include "Timer.h"
#include "UnitSim.h"

#include <QListWidget>
#include <QMap>
#include <QSqlQuery>
#include <QTest>
#include <memory>
#include <tuple>

using namespace kavio;
using test::addTimer;
using test::at;
using test::TempDatabase;

namespace {

QStringList itemTexts(const TTimerFrm& runner) {
    QStringList texts;
    for (int row = 0; row < runner.EventDisplay->count(); ++row)
        texts << runner.EventDisplay->item(row)->text();
    return texts;
}

QList<bool> itemTicks(const TTimerFrm& runner) {
    QList<bool> ticks;
    for (int row = 0; row < runner.EventDisplay->count(); ++row)
        ticks << (runner.EventDisplay->item(row)->checkState() == Qt::Checked);
    return ticks;
}

void addMember(quint16 group, quint16 unit) {
    TTable members(QStringLiteral("Group.DB"));
    members.open();
    members.append();
    members.fieldByName(QStringLiteral("GroupIndex")).setInteger(group);
    members.fieldByName(QStringLiteral("Index")).setInteger(unit);
    members.post();
}

} // namespace

class TestTimerRunner : public QObject {
    Q_OBJECT

    std::unique_ptr<TempDatabase> db;
    std::unique_ptr<TCommandEngine> processor;
    std::unique_ptr<RecordingMessageSink> messages;

    QStringList logged; // the command log's lines, where the runner tells its problems

    QList<TCommandEntry> queued() const { return processor->queue(); }

private slots:
    void init() {
        db = std::make_unique<TempDatabase>();
        processor = std::make_unique<TCommandEngine>();
        messages = std::make_unique<RecordingMessageSink>();
        logged.clear();
        connect(processor.get(), &TCommandEngine::logged, this,
                [this](const QString& line) { logged << line; });
    }

    void cleanup() {
        processor.reset();
        messages.reset();
        db.reset();
    }

    void windowClockAndListTexts() {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        ManualClock clock(at(2026, 12, 6, 8));
        const quint16 rack = TempDatabase::addUnit(QStringLiteral("Rack 3"));
        addTimer(rack, 1, 0, 1, "21:30:00", clock.time.date());
        addTimer(999, 0, 0, 1, "09:30:00", clock.time.date()); // its unit is gone
        addTimer(rack, 0, 0, 1, "10:00:00", clock.time.date().addDays(1));

        TTimerFrm runner(*processor);
        QVERIFY(!runner.isVisible());
        QCOMPARE(runner.windowTitle(),
                 QStringLiteral("WHERE \"Timer.DB\".\"Date\" = \"12/06/2026\""));
        // The timer of a unit that is gone fires nothing and is not listed.
        QCOMPARE(itemTexts(runner), QStringList({QStringLiteral("Rack 3 Power Off at 09:30 PM")}));
        QCOMPARE(itemTicks(runner), QList<bool>({false}));
        QCOMPARE(runner.size(), QSize(525, 316));
        QCOMPARE(runner.LCD->size(), QSize(221, 53));
        QCOMPARE(runner.LCD->Columns(), 72);
        QCOMPARE(runner.LCD->Rows(), 16);
        QCOMPARE(runner.LCD->LitColour(), QColor(192, 0, 0));
        QCOMPARE(runner.LCD->UnlitColour(), QColor(128, 0, 0));
        QCOMPARE(runner.LCD->Color(), QColor(Qt::black));
        QCOMPARE(runner.LCD->Lines(), QStringList({QStringLiteral("00:00:00 PM")}));
        QCOMPARE(runner.Timer1->interval(), 1000);
        QVERIFY(runner.Timer1->isActive());

        clock.time = at(2026, 12, 6, 15, 5, 9);
        runner.Timer1Timer();
        QCOMPARE(runner.LCD->Lines(), QStringList({QStringLiteral("3:05:09 pm")}));
        QVERIFY(messages->shown.isEmpty());
        QLocale::setDefault(QLocale::c());
    }

    // The window's fixed sizes and the clock's display settings.
    void layoutAndClockSettings() {
        ManualClock clock(at(2026, 12, 7, 8));
        const quint16 rack = TempDatabase::addUnit(QStringLiteral("Rack 3"));
        addTimer(rack, 1, 0, 1, "21:30:00", clock.time.date());
        addTimer(rack, 0, 0, 1, "22:30:00", clock.time.date());
        TTimerFrm runner(*processor);
        runner.show();
        QVERIFY(QTest::qWaitForWindowExposed(&runner));
        const lcd::TLCDScreen& screen = *runner.LCD;
        const QListWidget& events = *runner.EventDisplay;
        // What each setting is, and what it must be.
        const QList<std::tuple<const char*, QVariant, QVariant>> settings = {
            {"client", runner.size(), QSize(525, 316)},
            {"fixed", runner.minimumSize() == runner.maximumSize(), true},
            {"list width", events.width(), 289},
            {"list height", events.height(), 316},
            {"item height", events.visualItemRect(events.item(1)).height(), 13},
            {"item step",
             events.visualItemRect(events.item(1)).top() -
                 events.visualItemRect(events.item(0)).top(),
             13},
            {"clock size", screen.size(), QSize(221, 53)},
            {"clock at the right", screen.geometry().right() >= runner.width() - 16, true},
            {"clock at the top", screen.y() <= 16, true},
            {"dots", QSize(screen.PixelWidth(), screen.PixelHeight()), QSize(2, 2)},
            {"dot size", int(screen.PixelSize()), int(lcd::pix2x2)},
            {"spacing", int(screen.PixelSpacing()), 1},
            {"intensity", int(screen.Intensity()), 127},
            {"border", int(screen.BorderStyle()), int(lcd::bsLowered)},
            {"border space", int(screen.BorderSpace()), 3},
            {"text", screen.FontColor(), QColor(255, 0, 0)},
            {"mode", int(screen.DisplayMode()), int(lcd::dmText)},
            {"animated", screen.AnimationEnabled(), false},
        };
        for (const auto& [name, actual, expected] : settings)
            QVERIFY2(actual == expected,
                     qPrintable(QLatin1String(name) + QStringLiteral(": ") + actual.toString()));
    }

    void eachMinuteFiresOnce() {
        ManualClock clock(at(2026, 12, 7, 8));
        const QDate today = clock.time.date();
        const quint16 a = TempDatabase::addUnit(QStringLiteral("a"));
        const quint16 b = TempDatabase::addUnit(QStringLiteral("b"));
        addTimer(a, 4, 0, 1, "09:30:00", today);
        addTimer(b, 0, 0, 1, "09:30:47", today);
        addTimer(a, 1, 0, 1, "09:30:00", today);
        addTimer(a, 1, 0, 1, "09:30:00", today); // the same again: fires once
        addTimer(999, 0, 0, 1, "09:30:00", today);
        addTimer(b, 2, 0, 1, "09:31:00", today);
        const quint16 bad = addTimer(a, 3, 0, 1, "09:32:00", today);
        test::setTimerField(bad, "TimeOfDay", "9:32");
        addTimer(a, 0, 0, 1, "09:32:00", today);
        const quint16 query = addTimer(b, 1, 0, 1, "09:32:00", today);
        test::setTimerField(query, "Task", 5); // no timer task: reported, never queued

        TTimerFrm runner(*processor);
        QCOMPARE(logged.size(), 2);
        QVERIFY(logged[0].startsWith(
            QStringLiteral("Timer %1: field \"TimeOfDay\" holds \"9:32\"").arg(bad)));
        QVERIFY(logged[1].startsWith(
            QStringLiteral("Timer %1: field \"Task\" holds \"5\"").arg(query)));
        QCOMPARE(runner.EventDisplay->count(), 5);

        auto tickAt = [&](const QDateTime& time) {
            clock.time = time;
            runner.Timer1Timer();
        };
        tickAt(at(2026, 12, 7, 9, 29, 59));
        QVERIFY(queued().isEmpty());
        tickAt(at(2026, 12, 7, 9, 30, 0, 200));
        const QList<TCommandEntry> minute30 = {{a, 1}, {a, 4}, {b, 0}};
        QCOMPARE(queued(), minute30);
        QCOMPARE(itemTicks(runner), QList<bool>({true, true, true, false, false}));
        tickAt(at(2026, 12, 7, 9, 30, 0, 900));
        tickAt(at(2026, 12, 7, 9, 30, 30));
        QCOMPARE(queued(), minute30);

        tickAt(at(2026, 12, 7, 9, 31, 2)); // late, yet within the minute
        QCOMPARE(queued(), minute30 + QList<TCommandEntry>({{b, 2}}));
        tickAt(at(2026, 12, 7, 9, 30, 5)); // the clock set back
        tickAt(at(2026, 12, 7, 9, 31, 10));
        QCOMPARE(queued().size(), 4);

        runner.show(); // rebuilt, and what fired today stays ticked
        QCOMPARE(itemTicks(runner), QList<bool>({true, true, true, true, false}));
        runner.Button1Click();
        QVERIFY(!runner.isVisible());
        tickAt(at(2026, 12, 7, 9, 32, 0));
        QCOMPARE(queued().mid(4), QList<TCommandEntry>({{a, 0}}));
        QCOMPARE(logged.size(), 2); // the unusable task is not told again under the tick

        // A refresh recomputes: what is past moves to tomorrow and leaves the list; the current
        // minute's events stay, and what fired of them does not fire again.
        runner.RefreshTimers();
        QCOMPARE(itemTexts(runner), QStringList({QStringLiteral("a Power On at 09:32 AM")}));
        QCOMPARE(test::timerField(1, "Date").toString(), QStringLiteral("2026-12-08"));
        tickAt(at(2026, 12, 7, 9, 32, 1));
        QCOMPARE(queued().size(), 5);
        QVERIFY(messages->shown.isEmpty());
    }

    // The store failing under the tick is logged once, no box waits; the clock goes on, and the
    // minutes it could not serve are served once the store is back.
    void storeFailureInTheTickIsLogged() {
        ManualClock clock(at(2026, 12, 7, 8));
        const quint16 a = TempDatabase::addUnit(QStringLiteral("a"));
        addTimer(a, 0, 0, 1, "09:30:00", clock.time.date());
        addTimer(a, 1, 0, 1, "09:31:00", clock.time.date());
        TTimerFrm runner(*processor);
        QVERIFY(logged.isEmpty());

        QSqlQuery(Database::connection()).exec(R"(ALTER TABLE "Timer" RENAME TO "Away")");
        clock.time = at(2026, 12, 7, 9, 30);
        runner.Timer1Timer();
        clock.advance(1);
        runner.Timer1Timer();
        QCOMPARE(logged.size(), 1);
        QVERIFY(logged[0].startsWith(QStringLiteral("Table Timer.DB")));
        QCOMPARE(runner.LCD->Lines().value(0), QStringLiteral("9:30:01 am"));

        QSqlQuery(Database::connection()).exec(R"(ALTER TABLE "Away" RENAME TO "Timer")");
        clock.time = at(2026, 12, 7, 9, 31);
        runner.Timer1Timer();
        QCOMPARE(queued(), QList<TCommandEntry>({{a, 0}, {a, 1}}));
        QVERIFY(messages->shown.isEmpty());
    }

    // Three months driven through the clock, across month ends and the new year.
    void monthsOfFiringDays() {
        ManualClock clock(at(2026, 12, 7, 8));
        const QDate start = clock.time.date();
        const quint16 daily = TempDatabase::addUnit(QStringLiteral("daily"));
        const quint16 midnight = TempDatabase::addUnit(QStringLiteral("midnight"));
        const quint16 weekly = TempDatabase::addUnit(QStringLiteral("weekly"));
        const quint16 monthly = TempDatabase::addUnit(QStringLiteral("monthly"));
        const quint16 yearly = TempDatabase::addUnit(QStringLiteral("yearly"));
        const quint16 late = TempDatabase::addUnit(QStringLiteral("late"));
        addTimer(daily, 0, 0, 1, "09:00:00", start);
        addTimer(midnight, 1, 0, 1, "00:00:00", start);
        addTimer(weekly, 0, 1, 2, "09:00:00", start, 34);
        addTimer(monthly, 0, 2, 31, "09:00:00", start, 0, 4095);
        addTimer(yearly, 0, 3, 0, "09:00:00", QDate(2027, 1, 1));
        addTimer(late, 4, 0, 1, "23:59:30", start);

        TTimerFrm runner(*processor);
        QMap<quint16, QList<QDate>> fired;
        auto tickAt = [&](const QDate& day, const QTime& time) {
            clock.time = QDateTime(day, time);
            const qsizetype before = queued().size();
            runner.Timer1Timer();
            for (const TCommandEntry& entry : queued().mid(before))
                fired[entry.Index] << day;
        };
        const QDate end(2027, 3, 3);
        for (QDate day = start; day <= end; day = day.addDays(1)) {
            if (day != start)
                tickAt(day, QTime(0, 0, 0, 300));
            tickAt(day, QTime(9, 0, 0, 100));
            tickAt(day, QTime(9, 0, 0, 900));
            tickAt(day, QTime(9, 0, 1));
            tickAt(day, QTime(23, 59, 59));
            if (day == QDate(2027, 1, 5))
                QCOMPARE(runner.windowTitle(),
                         QStringLiteral("WHERE \"Timer.DB\".\"Date\" = \"1/05/2027\""));
        }

        QList<QDate> everyDay;
        for (QDate day = start; day <= end; day = day.addDays(1))
            everyDay << day;
        QCOMPARE(fired[daily], everyDay);
        QCOMPARE(fired[midnight], everyDay.mid(1));
        QCOMPARE(fired[late], everyDay);
        QCOMPARE(fired[weekly],
                 QList<QDate>({QDate(2026, 12, 7), QDate(2026, 12, 11), QDate(2026, 12, 21),
                               QDate(2026, 12, 25), QDate(2027, 1, 4), QDate(2027, 1, 8),
                               QDate(2027, 1, 18), QDate(2027, 1, 22), QDate(2027, 2, 1),
                               QDate(2027, 2, 5), QDate(2027, 2, 15), QDate(2027, 2, 19),
                               QDate(2027, 3, 1)}));
        QCOMPARE(fired[monthly],
                 QList<QDate>({QDate(2026, 12, 31), QDate(2027, 1, 31), QDate(2027, 2, 28)}));
        QCOMPARE(fired[yearly], QList<QDate>({QDate(2027, 1, 1)}));
        QVERIFY(logged.isEmpty());
    }

    void groupTimerReachesEachMember() {
        using sim::Behaviour;
        sim::SimulatedUnit alphaUnit(test::behaving(Behaviour::On));
        sim::SimulatedUnit betaUnit(test::behaving(Behaviour::On));
        sim::SimulatedUnit gammaUnit(test::behaving(Behaviour::On));
        QVERIFY(alphaUnit.listen() && betaUnit.listen() && gammaUnit.listen());
        auto add = [](const char* name, const sim::SimulatedUnit& unit) {
            return TempDatabase::addUnit(QLatin1String(name), QStringLiteral("127.0.0.1"),
                                         unit.port());
        };
        const quint16 gamma = add("gamma", gammaUnit);
        const quint16 beta = add("beta", betaUnit);
        const quint16 alpha = add("Alpha", alphaUnit);
        const quint16 gone = TempDatabase::addUnit(QStringLiteral("gone"));
        const quint16 group = TempDatabase::addGroup(QStringLiteral("Rack"));
        const quint16 empty = TempDatabase::addGroup(QStringLiteral("Empty"));
        for (quint16 member : {gamma, alpha, beta, gamma, gone})
            addMember(group, member);
        QSqlQuery(Database::connection())
            .exec(QStringLiteral("DELETE FROM \"Master\" WHERE \"Index\" = %1").arg(gone));

        ManualClock clock(at(2026, 12, 7, 8));
        addTimer(group, 1, 0, 1, "09:30:00", clock.time.date());
        addTimer(empty, 0, 0, 1, "09:30:00", clock.time.date());
        TTimerFrm runner(*processor);
        clock.time = at(2026, 12, 7, 9, 30);
        runner.Timer1Timer();
        QCOMPARE(queued(), QList<TCommandEntry>({{alpha, 1}, {beta, 1}, {gamma, 1}}));

        QTRY_VERIFY_WITH_TIMEOUT(!processor->busy() && processor->queue().isEmpty(), 10000);
        for (const sim::SimulatedUnit* unit : {&alphaUnit, &betaUnit, &gammaUnit})
            QCOMPARE(unit->commandLetters(), QList<QByteArray>({QByteArray("f")}));
    }
};

QTEST_MAIN(TestTimerRunner)
#include "test_timer_runner.moc"
