#include "Clock.h"
#include "CommandEngine.h"
#include "FiredEvents.h"
#include "LCDScreen.h"
#include "LoopbackUnits.h"
#include "Messages.h"
#include "SchedulerTestSupport.h"
#include "SqliteTool.h"
#include "TempDatabase.h"
#include "Timer.h"
#include "UnitSim.h"

#include <QElapsedTimer>
#include <QListWidget>
#include <QMap>
#include <QScreen>
#include <QSettings>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <ctime>
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

// The local time zone for the lifetime of the object.
class LocalZone {
public:
    explicit LocalZone(const QByteArray& zone)
        : before(qgetenv("TZ"))
        , hadZone(qEnvironmentVariableIsSet("TZ")) {
        if (!zone.isEmpty())
            set(zone);
    }
    ~LocalZone() {
        if (hadZone)
            set(before);
        else
            qunsetenv("TZ");
        tzset();
    }
    LocalZone(const LocalZone&) = delete;
    LocalZone& operator=(const LocalZone&) = delete;

private:
    static void set(const QByteArray& zone) {
        qputenv("TZ", zone);
        tzset();
    }
    QByteArray before;
    bool hadZone;
};

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
        QTemporaryDir settingsDir;
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());
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

        // The next runner opens where this one was hidden, inside the screen.
        runner.move(runner.screen()->availableGeometry().topLeft() + QPoint(40, 50));
        const QPoint place = runner.pos();
        runner.hide();
        TTimerFrm next(*processor);
        next.show();
        QVERIFY(QTest::qWaitForWindowExposed(&next));
        QCOMPARE(next.pos(), place);
        // Only the first showing takes the stored place; later ones keep where it was put.
        next.hide();
        next.move(place + QPoint(30, 20));
        next.show();
        QVERIFY(QTest::qWaitForWindowExposed(&next));
        QCOMPARE(next.pos(), place + QPoint(30, 20));
    }

    // The clock is centred on the display, with the largest digits that fit it, whether its
    // hour has one digit or two.
    void clockFillsTheDisplay_data() {
        QTest::addColumn<int>("hour");
        QTest::newRow("10 am") << 10;
        QTest::newRow("8 am") << 8;
        QTest::newRow("12 am") << 0;
    }

    void clockFillsTheDisplay() {
        QFETCH(int, hour);
        ManualClock clock(at(2026, 12, 7, hour, 8, 8));
        TTimerFrm runner(*processor);
        runner.Timer1Timer();
        const lcd::TLCDScreen& screen = *runner.LCD;
        const lcd::TDotImage& text = screen.TextImage();
        int left = text.width(), right = -1, top = text.height(), bottom = -1;
        for (int y = 0; y < text.height(); ++y)
            for (int x = 0; x < text.width(); ++x)
                if (text.row(y)[x]) {
                    left = std::min(left, x);
                    right = std::max(right, x);
                    top = std::min(top, y);
                    bottom = std::max(bottom, y);
                }
        left += screen.LinesXOffset();
        right += screen.LinesXOffset();
        top += screen.LinesYOffset();
        bottom += screen.LinesYOffset();
        const QString where = QStringLiteral("columns %1..%2, rows %3..%4 of %5 x %6")
                                  .arg(left)
                                  .arg(right)
                                  .arg(top)
                                  .arg(bottom)
                                  .arg(screen.Columns())
                                  .arg(screen.Rows());
        QVERIFY2(std::abs(left - (screen.Columns() - 1 - right)) <= 2, qPrintable(where));
        QVERIFY2(std::abs(top - (screen.Rows() - 1 - bottom)) <= 1, qPrintable(where));
        QVERIFY2(bottom - top + 1 >= 8, qPrintable(where)); // taller than a 7-dot digit
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
    // minutes it could not serve are served once the store is back. A record of what fired that
    // cannot be used (a table of that name made by something else) is told, and stops nothing.
    void storeFailureInTheTickIsLogged() {
        ManualClock clock(at(2026, 12, 7, 8));
        const quint16 a = TempDatabase::addUnit(QStringLiteral("a"));
        addTimer(a, 0, 0, 1, "09:30:00", clock.time.date());
        addTimer(a, 1, 0, 1, "09:31:00", clock.time.date());
        QVERIFY(QSqlQuery(Database::connection())
                    .exec(QStringLiteral(R"(CREATE TABLE "TimerFired" ("Day" TEXT))")));
        TTimerFrm runner(*processor);
        QCOMPARE(logged.size(), 1);
        QVERIFY2(logged[0].startsWith(
                     QStringLiteral("Table TimerFired: what the timers fired cannot be read")),
                 qPrintable(logged[0]));

        QSqlQuery(Database::connection()).exec(R"(ALTER TABLE "Timer" RENAME TO "Away")");
        clock.time = at(2026, 12, 7, 9, 30);
        runner.Timer1Timer();
        clock.advance(1);
        runner.Timer1Timer();
        QCOMPARE(logged.size(), 2);
        QVERIFY(logged[1].startsWith(QStringLiteral("Table Timer.DB")));
        QCOMPARE(runner.LCD->Lines().value(0), QStringLiteral("9:30:01 am"));

        QSqlQuery(Database::connection()).exec(R"(ALTER TABLE "Away" RENAME TO "Timer")");
        clock.time = at(2026, 12, 7, 9, 31);
        runner.Timer1Timer();
        clock.advance(1);
        runner.Timer1Timer();
        QCOMPARE(queued(), QList<TCommandEntry>({{a, 0}, {a, 1}}));
        QCOMPARE(logged.size(), 3);
        QVERIFY(logged[2].startsWith(
            QStringLiteral("Table TimerFired: what the timers fired cannot be recorded")));
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
        // Months of firings are more than the queue keeps waiting for one unit: they are taken
        // as they are handed over instead.
        QList<TCommandEntry> handedOver;
        processor->setForward([&handedOver](const TCommandEntry& entry) { handedOver << entry; });
        QMap<quint16, QList<QDate>> fired;
        auto tickAt = [&](const QDate& day, const QTime& time) {
            clock.time = QDateTime(day, time);
            const qsizetype before = handedOver.size();
            runner.Timer1Timer();
            for (const TCommandEntry& entry : handedOver.mid(before))
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

    // Every minute since the last tick is served: a late tick or a skipped hour fires what fell
    // in between, once; beyond the bound of the settings an event is logged as missed.
    void lateTicksServeEveryMinute_data() {
        QTest::addColumn<QByteArray>("zone");
        QTest::addColumn<QString>("setting");
        QTest::addColumn<QStringList>("times");
        QTest::addColumn<QString>("start");
        QTest::addColumn<QList<int>>("steps"); // seconds from one tick to the next
        QTest::addColumn<QStringList>("fired");
        QTest::addColumn<int>("missed");
        QTest::addColumn<QString>("told"); // a line the log holds besides those of missed events
        const QStringList twoTimers{"09:30:20", "09:40:00"};
        QTest::newRow("five minutes late")
            << QByteArray() << QString() << twoTimers << "2026-12-07 09:29:59"
            << QList<int>{311, 290} << QStringList{"09:30:20", "09:40:00"} << 0 << QString();
        QTest::newRow("exactly 15 minutes late still fires")
            << QByteArray() << QString() << twoTimers << "2026-12-07 09:29:59" << QList<int>{901}
            << QStringList{"09:30:20", "09:40:00"} << 0 << QString();
        QTest::newRow("beyond 15 minutes: missed")
            << QByteArray() << QString() << twoTimers << "2026-12-07 09:29:59" << QList<int>{1201}
            << QStringList{"09:40:00"} << 1 << QString();
        QTest::newRow("the bound is a setting")
            << QByteArray() << "30" << twoTimers << "2026-12-07 09:29:59" << QList<int>{1201}
            << QStringList{"09:30:20", "09:40:00"} << 0 << QString();
        QTest::newRow("a bound of 0 is the default")
            << QByteArray() << "0" << twoTimers << "2026-12-07 09:29:59" << QList<int>{1201}
            << QStringList{"09:40:00"} << 1 << QString();
        QTest::newRow("a bound that is no number is the default")
            << QByteArray() << "soon" << twoTimers << "2026-12-07 09:29:59" << QList<int>{1201}
            << QStringList{"09:40:00"} << 1 << QString();
        QTest::newRow("late across midnight")
            << QByteArray() << QString() << QStringList{"23:59:00", "00:01:00"}
            << "2026-12-07 23:58:30" << QList<int>{270} << QStringList{"23:59:00", "00:01:00"} << 0
            << QString();
        QTest::newRow("a day asleep")
            << QByteArray() << QString() << twoTimers << "2026-12-07 09:00:00"
            << QList<int>{86400 + 3000} << QStringList{"09:40:00"} << 3 << QString();
        QTest::newRow("ten days asleep")
            << QByteArray() << QString() << twoTimers << "2026-12-07 09:00:00"
            << QList<int>{10 * 86400 + 3000} << QStringList{"09:40:00"} << 1
            << "Timers due from 2026-12-07 09:01 to 2026-12-16 23:59 were missed: the clock was "
               "not seen then";
        QTest::newRow("the hour the clocks go forward")
            << QByteArray("Europe/Berlin") << QString() << QStringList{"02:30:00", "03:00:00"}
            << "2027-03-28 01:59:59" << QList<int>{1, 1} << QStringList{"02:30:00", "03:00:00"} << 0
            << QString();
        QTest::newRow("the hour the clocks go back")
            << QByteArray("Europe/Berlin") << QString() << QStringList{"02:30:00", "03:00:00"}
            << "2027-10-31 02:29:59" << QList<int>{1, 3600, 1800}
            << QStringList{"02:30:00", "03:00:00"} << 0 << QString();
    }

    void lateTicksServeEveryMinute() {
        QFETCH(QByteArray, zone);
        QFETCH(QString, setting);
        QFETCH(QStringList, times);
        QFETCH(QString, start);
        QFETCH(QList<int>, steps);
        QFETCH(QStringList, fired);
        QFETCH(int, missed);
        QFETCH(QString, told);
        LocalZone local(zone);
        QTemporaryDir settingsDir;
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());
        if (!setting.isNull())
            QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("KavioCC"))
                .setValue(QLatin1String(TTimerFrm::MissedAfterKey), setting);

        ManualClock clock(QDateTime::fromString(start, QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        QMap<quint16, QString> timeOf;
        for (const QString& time : times) {
            const quint16 unit = TempDatabase::addUnit(time);
            timeOf[unit] = time;
            addTimer(unit, 0, 0, 1, time, clock.time.date());
        }
        TTimerFrm runner(*processor);
        runner.Timer1Timer();
        for (int step : steps) {
            clock.advance(step);
            runner.Timer1Timer();
        }
        QStringList firedTimes;
        for (const TCommandEntry& entry : queued())
            firedTimes << timeOf.value(entry.Index);
        QCOMPARE(firedTimes, fired);
        QCOMPARE(logged.filter(QStringLiteral("Missed: ")).size(), missed);
        QCOMPARE(logged.size(), missed + (told.isEmpty() ? 0 : 1));
        if (!told.isEmpty())
            QVERIFY2(logged.contains(told), qPrintable(logged.join(QLatin1Char('\n'))));
        QVERIFY(messages->shown.isEmpty());
    }

    // Another program holds the database locked when the day begins: the recomputation is told
    // once in the log and tried again on every tick; once it goes in, what became due meanwhile
    // fires, and the day's timers keep firing.
    void newDayWaitsOutALock() {
        ManualClock clock(at(2026, 12, 7, 23, 59, 50));
        const quint16 early = TempDatabase::addUnit(QStringLiteral("early"));
        const quint16 late = TempDatabase::addUnit(QStringLiteral("late"));
        addTimer(early, 0, 0, 1, "00:00:00", clock.time.date().addDays(1));
        const quint16 lateTimer = addTimer(late, 1, 0, 1, "23:59:00", clock.time.date());
        TTimerFrm runner(*processor);
        runner.Timer1Timer();
        const QList<TCommandEntry> lastMinute = {{late, 1}};
        QCOMPARE(queued(), lastMinute);
        {
            test::SqliteWriteLock lock(db->path);
            QVERIFY(lock.isHeld());
            clock.time = at(2026, 12, 8, 0, 0, 0);
            for (int second = 0; second < 4; ++second) {
                runner.Timer1Timer();
                clock.advance(1);
            }
            QVERIFY(runner.recomputationPending());
            QCOMPARE(queued(), lastMinute);
            QCOMPARE(logged.size(), 2); // the store's error and that the timers wait
        }
        clock.time = at(2026, 12, 8, 0, 3, 10);
        runner.Timer1Timer();
        QVERIFY(!runner.recomputationPending());
        QCOMPARE(queued(), lastMinute + QList<TCommandEntry>({{early, 0}}));
        QCOMPARE(logged.size(), 3);
        QCOMPARE(test::timerField(lateTimer, "Date").toString(), QStringLiteral("2026-12-08"));
        clock.time = at(2026, 12, 8, 23, 59, 0);
        runner.Timer1Timer();
        QCOMPARE(queued(), lastMinute + QList<TCommandEntry>({{early, 0}, {late, 1}}));
        QVERIFY(messages->shown.isEmpty());
    }

    // A refresh within a minute, before or after the tick of its second 0, loses none of the
    // minute's events and fires none twice.
    void refreshWithinTheMinute() {
        ManualClock clock(at(2026, 12, 7, 9, 59, 59));
        const quint16 a = TempDatabase::addUnit(QStringLiteral("a"));
        TTimerFrm runner(*processor);
        runner.Timer1Timer();
        addTimer(a, 0, 0, 1, "10:00:30", clock.time.date());
        clock.time = at(2026, 12, 7, 10, 0, 0, 300);
        runner.RefreshTimers();
        QCOMPARE(runner.EventDisplay->count(), 1);
        runner.Timer1Timer();
        QCOMPARE(queued(), QList<TCommandEntry>({{a, 0}}));
        addTimer(a, 1, 0, 1, "10:00:50", clock.time.date()); // saved at 10:00:20
        clock.time = at(2026, 12, 7, 10, 0, 20);
        runner.RefreshTimers();
        QCOMPARE(runner.EventDisplay->count(), 2);
        clock.advance(1);
        runner.Timer1Timer();
        QCOMPARE(queued(), QList<TCommandEntry>({{a, 0}, {a, 1}}));
        QCOMPARE(itemTicks(runner), QList<bool>({true, true}));
    }

    // Another program holds the file as an event falls due: it fires all the same, the log says
    // once that it could not be recorded, and it is recorded as soon as the file is free, so that
    // a runner started later in its minute does not fire it again.
    void eventFiresWhileTheStoreIsLocked() {
        ManualClock clock(at(2026, 12, 7, 9, 59, 50));
        const quint16 a = TempDatabase::addUnit(QStringLiteral("a"));
        const quint16 b = TempDatabase::addUnit(QStringLiteral("b"));
        addTimer(a, 0, 0, 1, "10:00:00", clock.time.date());
        addTimer(b, 1, 0, 1, "10:00:00", clock.time.date());
        auto runner = std::make_unique<TTimerFrm>(*processor);
        runner->Timer1Timer();
        const QList<TCommandEntry> both = {{a, 0}, {b, 1}};
        {
            test::SqliteWriteLock lock(db->path);
            QVERIFY(lock.isHeld());
            clock.time = at(2026, 12, 7, 10, 0, 5);
            runner->Timer1Timer();
            clock.advance(1);
            runner->Timer1Timer();
            QCOMPARE(queued(), both);
            QCOMPARE(logged.size(), 1);
            QVERIFY2(logged[0].startsWith(QStringLiteral("Table TimerFired: ")),
                     qPrintable(logged[0]));
        }
        clock.time = at(2026, 12, 7, 10, 0, 40);
        runner->Timer1Timer();
        QCOMPARE(FiredEvents::servedOn(clock.time.date()).size(), 2);

        runner.reset();
        clock.advance(10);
        runner = std::make_unique<TTimerFrm>(*processor);
        QCOMPARE(itemTicks(*runner), QList<bool>({true, true}));
        runner->Timer1Timer();
        QCOMPARE(queued(), both);
        QCOMPARE(logged.size(), 1);
        QVERIFY(messages->shown.isEmpty());
    }

    // A large fleet: the names of today's events and a group's members are read in one go, not
    // by reading the unit table once per line.
    void largeFleetStaysQuick() {
        ManualClock clock(at(2026, 12, 7, 8));
        QSqlDatabase connection = Database::connection();
        connection.transaction();
        QSqlQuery insert(connection);
        insert.prepare(QStringLiteral(R"(INSERT INTO "Master" ("Name","IPAddress","Port","Password")
                                         VALUES (?,'127.0.0.1',4001,'pw'))"));
        for (int unit = 1; unit <= 20000; ++unit) {
            insert.addBindValue(QStringLiteral("Unit %1").arg(unit, 5, 10, QLatin1Char('0')));
            insert.exec();
        }
        connection.commit();
        const quint16 group = TempDatabase::addGroup(QStringLiteral("Hall"));
        connection.transaction();
        QSqlQuery member(connection);
        member.prepare(
            QStringLiteral(R"(INSERT INTO "Group" ("GroupIndex","Index") VALUES (?,?))"));
        for (int unit = 1000; unit >= 1; --unit) {
            member.addBindValue(group);
            member.addBindValue(unit);
            member.exec();
        }
        connection.commit();
        for (int event = 0; event < 200; ++event)
            addTimer(quint16(1 + event * 97), 0, 0, 1,
                     QTime(9, 0).addSecs(60 * event).toString(QStringLiteral("HH:mm:ss")),
                     clock.time.date());
        addTimer(group, 1, 0, 1, "09:00:00", clock.time.date());

        QElapsedTimer elapsed;
        elapsed.start();
        TTimerFrm runner(*processor);
        runner.RefreshTimers();
        clock.time = at(2026, 12, 7, 9, 0);
        runner.Timer1Timer();
        QVERIFY2(elapsed.elapsed() < 3000, qPrintable(QString::number(elapsed.elapsed())));
        QCOMPARE(runner.EventDisplay->count(), 201);
        QCOMPARE(runner.EventDisplay->item(0)->text(),
                 QStringLiteral("Unit 00001 Power On at 09:00 AM"));
        QCOMPARE(queued().size(), 1001);
        QCOMPARE(queued().at(1), TCommandEntry({1, 1}));
        QCOMPARE(queued().last(), TCommandEntry({1000, 1}));
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
