// Random timers, driven through the real runner and a real database file for three years of a
// simulated clock, against a calculation of their own written here in plain calendar terms. Some
// were saved by an older program (the file is opened again to bring them up to date), and the
// runner is now and then restarted, or replaced by a runner without a window, within a minute.
#include "Clock.h"
#include "CommandEngine.h"
#include "Database.h"
#include "Messages.h"
#include "TempDatabase.h"
#include "Timer.h"

#include <QRandomGenerator>
#include <QSqlQuery>
#include <QTest>
#include <algorithm>
#include <ctime>
#include <memory>
#include <vector>

using namespace kavio;
using test::TempDatabase;

namespace {

constexpr int Timers = 2500;
constexpr quint32 Seed = 20261207;

// The calendar in the test's own terms: days are Julian day numbers, Monday is a multiple of 7.
bool leapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}
int monthLength(int year, int month) {
    static const int lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && leapYear(year) ? 29 : lengths[month - 1];
}
qint64 mondayOf(qint64 day) {
    return day - day % 7;
}
int sundayFirstWeekday(qint64 day) { // Sunday 0 .. Saturday 6
    return int((day % 7 + 1) % 7);
}

struct Plan {
    int every;
    int count; // the rules' count; a record of an older program may store another
    int storedCount;
    bool older; // saved by a program that counted a weekly rhythm from the stored date's week
    int dayMask;
    int monthMask;
    QDate date;
    QTime time;
    int task;
    QString describe() const {
        return QStringLiteral("%7every %1, count %2, days %3, months %4, date %5, time %6")
            .arg(every)
            .arg(storedCount)
            .arg(dayMask)
            .arg(monthMask)
            .arg(date.toString(Qt::ISODate), time.toString(QStringLiteral("HH:mm:ss")),
                 older ? QStringLiteral("older, ") : QString());
    }
};

// The days on which a timer fires from `start` (a minute: what is before it has passed) to `last`.
QList<QDate> expectedDays(const Plan& plan, const QDateTime& start, const QDate& last) {
    const qint64 first = start.date().toJulianDay();
    const qint64 end = last.toJulianDay();
    const int startMinute = start.time().hour() * 60 + start.time().minute();
    const int minute = plan.time.hour() * 60 + plan.time.minute();
    const qint64 origin = plan.date.toJulianDay();
    std::vector<qint64> days;
    switch (plan.every) {
    case 0:
        for (qint64 day = origin; day <= end; day += plan.count)
            days.push_back(day);
        break;
    case 1: {
        // A series starts on its first ticked day: that day's week is the rhythm's first. Older
        // programs counted from the week of the stored date, and such timers keep their weeks.
        qint64 anchor = origin;
        while (!plan.older && !((plan.dayMask >> sundayFirstWeekday(anchor)) & 1))
            ++anchor;
        for (qint64 day = origin; day <= end; ++day) {
            const qint64 weeks = (mondayOf(day) - mondayOf(anchor)) / 7;
            if (weeks % plan.count == 0 && (plan.dayMask >> sundayFirstWeekday(day)) & 1)
                days.push_back(day);
        }
        break;
    }
    case 2:
        for (int year = start.date().year(); year <= last.year(); ++year)
            for (int month = 1; month <= 12; ++month)
                if ((plan.monthMask >> (month - 1)) & 1)
                    days.push_back(
                        QDate(year, month, std::min(plan.count, monthLength(year, month)))
                            .toJulianDay());
        break;
    case 3:
        days.push_back(origin);
        for (int year = plan.date.year() + 1; year <= last.year(); ++year) {
            const int month = plan.date.month();
            days.push_back(
                QDate(year, month, std::min(plan.count, monthLength(year, month))).toJulianDay());
        }
        break;
    default:
        days.push_back(origin);
        break;
    }
    QList<QDate> result;
    for (qint64 day : days)
        if (day <= end && (day > first || (day == first && minute >= startMinute)))
            result << QDate::fromJulianDay(day);
    return result;
}

Plan randomPlan(QRandomGenerator& random, const QDate& today, const QList<QTime>& minutes) {
    Plan plan{};
    plan.every = random.bounded(5);
    plan.task = random.bounded(5);
    plan.time = minutes[random.bounded(int(minutes.size()))].addSecs(random.bounded(60));
    plan.date = today;
    switch (plan.every) {
    case 0:
        plan.count = 1 + random.bounded(random.bounded(10) == 0 ? 3 : 90);
        plan.date = today.addDays(-random.bounded(60));
        break;
    case 1:
        plan.count = 1 + random.bounded(random.bounded(3) == 0 ? 2 : 8);
        plan.dayMask = 1 << random.bounded(7);
        if (random.bounded(4) == 0)
            plan.dayMask = 1 + random.bounded(127);
        plan.date = today.addDays(-random.bounded(60));
        break;
    case 2:
        plan.count = random.bounded(2) ? 28 + random.bounded(4) : 1 + random.bounded(31);
        plan.monthMask = 1 << random.bounded(12) | 1 << random.bounded(12);
        if (random.bounded(4) == 0)
            plan.monthMask = 1 + random.bounded(4095);
        break;
    case 3:
    case 4:
        plan.date = today.addDays(random.bounded(-800, 1200));
        if (plan.every == 3 && random.bounded(4) == 0) // 29 February asked, stored clamped or not
            plan.date = QDate(2024 + 4 * random.bounded(2) + random.bounded(2), 2, 28);
        plan.count = plan.date.day();
        if (plan.every == 3 && plan.date.month() == 2 && plan.date.day() == 28)
            plan.count = 29;
        if (plan.every == 4)
            plan.count = 0;
        if (plan.every == 3 && leapYear(plan.date.year()) && plan.count == 29)
            plan.date = QDate(plan.date.year(), 2, 29);
        break;
    }
    plan.storedCount = plan.count;
    // Older programs stored no day for a yearly timer (Count 0: the date's own day), and read a
    // weekly timer's stored date as the start of its rhythm.
    plan.older = (plan.every == 1 || plan.every == 3) && random.bounded(4) == 0;
    if (plan.older && plan.every == 3) {
        plan.storedCount = 0;
        plan.count = plan.date.day();
    }
    return plan;
}

} // namespace

class TestTimerReference : public QObject {
    Q_OBJECT

private slots:
    // A zone with summer time, whose clocks go forward and back within the years driven here.
    void initTestCase() {
        qputenv("TZ", "Europe/Berlin");
        tzset();
    }

    // 31 October 2027: 02:00 to 02:59 is read twice. An event of that hour fires once, in the
    // pass it is served in; one saved during the second pass within its own minute is on time,
    // not missed.
    void repeatedAutumnHour() {
        TempDatabase db;
        RecordingMessageSink messages;
        TCommandEngine processor;
        QStringList logged;
        connect(&processor, &TCommandEngine::logged, this,
                [&logged](const QString& line) { logged << line; });
        auto utc = [](int hour, int minute, int second) {
            return QDateTime::fromMSecsSinceEpoch(
                QDateTime(QDate(2027, 10, 31), QTime(hour, minute, second), Qt::UTC)
                    .toMSecsSinceEpoch());
        };
        const quint16 early = TempDatabase::addUnit(QStringLiteral("early"));
        const quint16 late = TempDatabase::addUnit(QStringLiteral("late"));
        QSqlQuery timer(Database::connection());
        timer.prepare(QStringLiteral(R"(INSERT INTO "Timer" ("Index","Task","Every","Count",
            "TimeOfDay","Date") VALUES (?,0,0,1,?,'2027-10-31'))"));
        timer.addBindValue(early);
        timer.addBindValue(QStringLiteral("02:10:00"));
        QVERIFY(timer.exec());

        ManualClock clock(utc(0, 9, 50)); // 02:09:50, summer time
        TTimerFrm runner(processor);
        runner.Timer1Timer();
        clock.time = utc(0, 10, 5);
        runner.Timer1Timer();
        QCOMPARE(processor.queue(), QList<TCommandEntry>({{early, 0}}));

        clock.time = utc(1, 40, 20); // 02:40:20 again, winter time
        QCOMPARE(clock.time.time(), QTime(2, 40, 20));
        timer.addBindValue(late);
        timer.addBindValue(QStringLiteral("02:40:00"));
        QVERIFY(timer.exec());
        runner.RefreshTimers();
        // The process has just turned a summer-time reading of the clock into a moment (as a
        // look at an earlier time does): a wall-clock 02:40 alone no longer tells which pass is
        // meant, the local time library takes the offset it used last.
        QCOMPARE(QDateTime(QDate(2027, 10, 31), QTime(1, 59)).offsetFromUtc(), 7200);
        runner.Timer1Timer();
        clock.time = utc(1, 59, 59);
        runner.Timer1Timer();
        QCOMPARE(processor.queue(), QList<TCommandEntry>({{early, 0}, {late, 0}}));
        QVERIFY2(logged.isEmpty(), qPrintable(logged.join(QLatin1Char('\n'))));
        QVERIFY(messages.shown.isEmpty());
    }

    void threeYearsAgreeWithTheCalendar() {
        TempDatabase db;
        RecordingMessageSink messages;
        TCommandEngine processor;
        QStringList logged;
        connect(&processor, &TCommandEngine::logged, this,
                [&logged](const QString& line) { logged << line; });
        const QDateTime start(QDate(2026, 12, 7), QTime(10, 0, 30));
        const QDate last(2029, 12, 31);
        ManualClock clock(start);
        // Times from a few minutes of the day, so that a tick in each of them serves all timers;
        // the runner's own minute at the start, midnight and the day's last minute among them.
        const QList<QTime> minutes = {QTime(0, 0),  QTime(0, 1),  QTime(6, 30),  QTime(9, 59),
                                      QTime(10, 0), QTime(12, 0), QTime(13, 45), QTime(17, 30),
                                      QTime(20, 0), QTime(23, 0), QTime(23, 59)};

        QRandomGenerator random(Seed);
        std::vector<Plan> plans;
        for (int n = 1; n <= Timers; ++n)
            plans.push_back(randomPlan(random, start.date(), minutes));
        QSqlDatabase connection = Database::connection();
        connection.transaction();
        QSqlQuery unit(connection);
        unit.prepare(QStringLiteral(R"(INSERT INTO "Master" ("Name","IPAddress","Port","Password")
                                       VALUES (?,'127.0.0.1',4001,'pw'))"));
        for (int n = 1; n <= Timers; ++n) {
            unit.addBindValue(QStringLiteral("Unit %1").arg(n));
            QVERIFY(unit.exec());
        }
        connection.commit();
        // The older program's timers go into a file of its time, which the next open brings up
        // to date; the others are saved after that.
        auto saveTimers = [&plans](bool older) {
            QSqlDatabase connection = Database::connection();
            connection.transaction();
            QSqlQuery timer(connection);
            timer.prepare(QStringLiteral(
                R"(INSERT INTO "Timer" ("Index","Task","Every","Count","TimeOfDay","DayOfWeek",
                   "Month","Date") VALUES (?,?,?,?,?,?,?,?))"));
            for (int n = 1; n <= Timers; ++n) {
                const Plan& plan = plans[n - 1];
                if (plan.older != older)
                    continue;
                for (const QVariant& value :
                     {QVariant(n), QVariant(plan.task), QVariant(plan.every),
                      QVariant(plan.storedCount),
                      QVariant(plan.time.toString(QStringLiteral("HH:mm:ss"))),
                      QVariant(plan.dayMask), QVariant(plan.monthMask),
                      QVariant(plan.date.toString(Qt::ISODate))})
                    timer.addBindValue(value);
                if (!timer.exec())
                    return false;
            }
            return connection.commit();
        };
        QVERIFY(saveTimers(true));
        QVERIFY(QSqlQuery(connection).exec(QStringLiteral("PRAGMA user_version = 0")));
        connection = QSqlDatabase();
        Database::close();
        Database::open(db.path);
        QVERIFY(saveTimers(false));

        // One tick in each of those minutes of every day, at a random second. Now and then the
        // runner ends within the minute after its tick, the file is opened anew, and a runner of
        // the other kind (a window's, or a service's without one) starts and ticks in the same
        // minute: what fired before does not fire again.
        std::vector<QList<QDate>> fired(Timers + 1);
        std::unique_ptr<TTimerFrm> window = std::make_unique<TTimerFrm>(processor);
        std::unique_ptr<TimerFiring> service;
        auto tick = [&] {
            if (window)
                window->Timer1Timer();
            else
                service->serveUpTo(clock.time);
        };
        int restarts = 0;
        // Years of firings are more than the queue keeps waiting for one unit: they are taken
        // as they are handed over instead.
        QList<TCommandEntry> handedOver;
        processor.setForward([&handedOver](const TCommandEntry& entry) { handedOver << entry; });
        qsizetype seen = 0;
        for (QDate day = start.date(); day <= last; day = day.addDays(1)) {
            for (const QTime& minute : minutes) {
                const QDateTime tickAt(day, minute.addSecs(random.bounded(59)));
                if (QDateTime(day, minute) < QDateTime(start.date(), QTime(10, 0)))
                    continue;
                clock.time = std::max(tickAt, start);
                tick();
                if (random.bounded(40) == 0) {
                    const bool wasWindow = window != nullptr;
                    window.reset();
                    service.reset();
                    Database::close();
                    Database::open(db.path);
                    clock.time =
                        clock.time.addSecs(1 + random.bounded(59 - clock.time.time().second()));
                    if (wasWindow)
                        service = std::make_unique<TimerFiring>(processor);
                    else
                        window = std::make_unique<TTimerFrm>(processor);
                    tick();
                    ++restarts;
                }
                const QList<TCommandEntry>& queue = handedOver;
                for (; seen < queue.size(); ++seen) {
                    const TCommandEntry& entry = queue[seen];
                    QCOMPARE(int(entry.Task), plans[entry.Index - 1].task);
                    fired[entry.Index] << day;
                }
            }
        }
        QVERIFY2(restarts > 100, qPrintable(QString::number(restarts)));
        // What fired is kept for today and yesterday only.
        QSqlQuery kept(Database::connection());
        QVERIFY(kept.exec(QStringLiteral(R"(SELECT MIN("Day"), MAX("Day") FROM "TimerFired")")));
        QVERIFY(kept.next());
        QCOMPARE(kept.value(0).toString(), last.addDays(-1).toString(Qt::ISODate));
        QCOMPARE(kept.value(1).toString(), last.toString(Qt::ISODate));

        int firings = 0;
        for (int n = 1; n <= Timers; ++n) {
            const Plan& plan = plans[n - 1];
            const QList<QDate> expected = expectedDays(plan, start, last);
            firings += int(expected.size());
            if (fired[n] == expected)
                continue;
            qsizetype at = 0;
            while (at < expected.size() && at < fired[n].size() && expected[at] == fired[n][at])
                ++at;
            const QString wanted = at < expected.size() ? expected[at].toString(Qt::ISODate)
                                                        : QStringLiteral("nothing more");
            const QString got = at < fired[n].size() ? fired[n][at].toString(Qt::ISODate)
                                                     : QStringLiteral("nothing more");
            QFAIL(qPrintable(QStringLiteral("Timer %1 (%2): first difference after %3 firings: "
                                            "expected %4, fired %5")
                                 .arg(n)
                                 .arg(plan.describe())
                                 .arg(at)
                                 .arg(wanted, got)));
        }
        QVERIFY2(firings > 10 * Timers, qPrintable(QString::number(firings)));
        QVERIFY2(logged.isEmpty(), qPrintable(logged.join(QLatin1Char('\n'))));
        QVERIFY(messages.shown.isEmpty());
    }
};

QTEST_MAIN(TestTimerReference)
#include "test_timer_reference.moc"
