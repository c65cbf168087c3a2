// Figures of the scheduler with 10,000 timers: the recomputation of every next event date, the
// runner's per-minute selection, and a tick with nothing due. Then a full fleet: 65,534 units and
// a group of 1,000 of them, with 1,000 events today: the runner's refresh, the tick that fires
// the group, and the longest stall of the event loop through a whole simulated day.
#include "BenchSupport.h"
#include "Clock.h"
#include "CommandEngine.h"
#include "Database.h"
#include "Recurrence.h"
#include "Timer.h"

#include <QApplication>
#include <QEventLoop>
#include <QRandomGenerator>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>

using namespace kavio;
using namespace kavio::bench;

namespace {

constexpr int Timers = 10000;
constexpr int Units = 200;

// Units "Unit 1" to "Unit N" on a loopback address, inside the caller's transaction.
void addUnits(QSqlDatabase& db, int count) {
    QSqlQuery units(db);
    units.prepare(QStringLiteral(R"(INSERT INTO "Master" ("Name","IPAddress","Port","Password")
                                    VALUES (?,'127.0.0.1',4001,'pw'))"));
    for (int unit = 1; unit <= count; ++unit) {
        units.addBindValue(QStringLiteral("Unit %1").arg(unit));
        units.exec();
    }
}

// Timers of every kind for 200 units, with dates over the past year and times over the day.
void fillTimers(const QDate& today) {
    QRandomGenerator random(42);
    QSqlDatabase db = Database::connection();
    db.transaction();
    addUnits(db, Units);
    QSqlQuery timers(db);
    timers.prepare(QStringLiteral(
        R"(INSERT INTO "Timer" ("Index","Task","Every","Count","TimeOfDay","DayOfWeek","Month","Date")
           VALUES (?,?,?,?,?,?,?,?))"));
    for (int i = 0; i < Timers; ++i) {
        const int every = i % 5;
        const int count = every == 0   ? 1 + random.bounded(7)
                          : every == 1 ? 1 + random.bounded(4)
                          : every == 2 ? 1 + random.bounded(31)
                                       : 0;
        timers.addBindValue(1 + random.bounded(Units));
        timers.addBindValue(random.bounded(5));
        timers.addBindValue(every);
        timers.addBindValue(count);
        timers.addBindValue(QTime(random.bounded(24), random.bounded(60), random.bounded(60))
                                .toString(QStringLiteral("HH:mm:ss")));
        timers.addBindValue(every == 1 ? 1 + random.bounded(127) : 0);
        timers.addBindValue(every == 2 ? 1 + random.bounded(4095) : 0);
        timers.addBindValue(today.addDays(-random.bounded(365)).toString(Qt::ISODate));
        timers.exec();
    }
    db.commit();
}

constexpr int FleetUnits = 65534; // and one group: every key in use
constexpr int FleetEvents = 1000;
constexpr int GroupMembers = 1000;

// The fleet: units, one group of 1,000 members, 1,000 daily timers between 08:00 and 23:50 and
// the group's timer at 12:00:30, all due today.
quint16 fillFleet(const QDate& today) {
    QRandomGenerator random(7);
    QSqlDatabase db = Database::connection();
    db.transaction();
    addUnits(db, FleetUnits);
    QSqlQuery group(db);
    group.exec(QStringLiteral(R"(INSERT INTO "Master" ("Name","Group") VALUES ('Hall', 1))"));
    const auto groupIndex = quint16(group.lastInsertId().toUInt());
    QSqlQuery members(db);
    members.prepare(QStringLiteral(R"(INSERT INTO "Group" ("GroupIndex","Index") VALUES (?,?))"));
    for (int member = 0; member < GroupMembers; ++member) {
        members.addBindValue(groupIndex);
        members.addBindValue(1 + random.bounded(FleetUnits));
        members.exec();
    }
    QSqlQuery timers(db);
    timers.prepare(QStringLiteral(
        R"(INSERT INTO "Timer" ("Index","Task","Every","Count","TimeOfDay","Date")
           VALUES (?,?,0,1,?,?))"));
    auto addTimer = [&](int unit, const QTime& time) {
        timers.addBindValue(unit);
        timers.addBindValue(random.bounded(5));
        timers.addBindValue(time.toString(QStringLiteral("HH:mm:ss")));
        timers.addBindValue(today.toString(Qt::ISODate));
        timers.exec();
    };
    for (int event = 0; event < FleetEvents; ++event) {
        QTime time(8 + random.bounded(16), random.bounded(50), random.bounded(60));
        if (time.hour() == 12 && time.minute() == 0)
            time = time.addSecs(60);
        addTimer(1 + random.bounded(FleetUnits), time);
    }
    addTimer(groupIndex, QTime(12, 0, 30));
    db.commit();
    return groupIndex;
}

bool benchFleet() {
    QTemporaryDir dir;
    Database::open(dir.filePath(QStringLiteral("Fleet.db")));
    ManualClock clock(QDateTime(QDate(2026, 12, 7), QTime(7, 0)));
    fillFleet(clock.time.date());
    bool allMet = true;

    TCommandEngine processor;
    QElapsedTimer created;
    created.start();
    TTimerFrm runner(processor);
    const double creation = millisecondsOf(created);
    std::printf("fleet: %d units, events today: %zu\n", FleetUnits, runner.todaysRows().size());
    allMet &= report("runner created, 65,534 units, 1,001 events today", creation, "ms", 100);

    std::vector<double> refreshes;
    for (int run = 0; run < 20; ++run) {
        QElapsedTimer timer;
        timer.start();
        runner.RefreshTimers();
        refreshes.push_back(millisecondsOf(timer));
    }
    allMet &= report("refresh, 65,534 units, 1,001 events today (max of 20)", maximum(refreshes),
                     "ms", 100);

    clock.time = QDateTime(clock.time.date(), QTime(12, 0, 0));
    const qsizetype before = processor.queue().size();
    QElapsedTimer groupTick;
    groupTick.start();
    runner.Timer1Timer();
    const double groupFired = millisecondsOf(groupTick);
    std::printf("queued by the group's tick: %lld\n",
                static_cast<long long>(processor.queue().size() - before));
    allMet &= report("tick firing a group of 1,000 members", groupFired, "ms", 50);

    // A whole day through the event loop, a minute per turn, with a refresh every hour; a 5 ms
    // probe measures how long the loop is held at most.
    runner.show();
    clock.time = QDateTime(clock.time.date(), QTime(12, 1, 0));
    QEventLoop loop;
    QElapsedTimer sinceProbe;
    double longestStall = 0;
    QTimer probe;
    probe.setInterval(5);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        longestStall = std::max(longestStall, millisecondsOf(sinceProbe) - 5);
        sinceProbe.start();
    });
    int minutes = 0;
    QTimer driver;
    driver.setInterval(1);
    QObject::connect(&driver, &QTimer::timeout, [&] {
        clock.advance(60);
        runner.Timer1Timer();
        if (++minutes % 60 == 0)
            runner.RefreshTimers();
        if (minutes == 24 * 60)
            loop.quit();
    });
    sinceProbe.start();
    probe.start();
    driver.start();
    loop.exec();
    allMet &= report("longest event-loop stall through a day of the fleet", longestStall, "ms", 50);

    Database::close();
    return allMet;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    Database::open(dir.filePath(QStringLiteral("KavioCC.db")));
    ManualClock clock(QDateTime(QDate(2026, 12, 7), QTime(10, 0)));
    fillTimers(clock.time.date());
    bool allMet = true;

    std::vector<double> recalcs;
    for (int run = 0; run < 5; ++run) {
        QElapsedTimer timer;
        timer.start();
        RecalcTimerDates();
        recalcs.push_back(millisecondsOf(timer));
        clock.advance(3600);
    }
    allMet &=
        report("RecalcTimerDates of 10,000 timers (max of 5)", maximum(recalcs) / 1000, "s", 0.5);

    TCommandEngine processor;
    TTimerFrm runner(processor);
    std::printf("timers due today: %zu\n", runner.todaysRows().size());

    std::vector<double> selections;
    for (int run = 0; run < 200; ++run) {
        QElapsedTimer timer;
        timer.start();
        runner.SelectTodaysEvents();
        selections.push_back(millisecondsOf(timer));
    }
    allMet &=
        report("today's selection, 10,000 timers (median of 200)", median(selections), "ms", 5);

    // First ticks of minutes with nothing due: from 23:00 on, the minutes after the last timer.
    QSqlQuery(Database::connection())
        .exec(QStringLiteral(R"(DELETE FROM "Timer" WHERE "TimeOfDay" >= '23:00')"));
    runner.RefreshTimers();
    std::vector<double> minuteTicks;
    std::vector<double> plainTicks;
    clock.time = QDateTime(clock.time.date(), QTime(23, 0, 0));
    for (int minute = 0; minute < 59; ++minute) {
        QElapsedTimer timer;
        timer.start();
        runner.Timer1Timer();
        minuteTicks.push_back(millisecondsOf(timer));
        for (int second = 10; second < 60; second += 10) {
            clock.advance(10);
            timer.start();
            runner.Timer1Timer();
            plainTicks.push_back(millisecondsOf(timer));
        }
        clock.time = QDateTime(clock.time.date(), QTime(23, minute + 1, 0));
    }
    allMet &= report("tick, first of a minute with nothing due (median of 59)", median(minuteTicks),
                     "ms", 1);
    allMet &= report("tick, minute already served (median)", median(plainTicks), "ms", 1);
    std::printf("queued: %lld\n", static_cast<long long>(processor.queue().size()));

    Database::close();
    allMet &= benchFleet();
    return allMet ? 0 : 1;
}
