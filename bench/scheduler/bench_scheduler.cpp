// Figures of the scheduler with 10,000 timers: the recomputation of every next event date, the
// runner's per-minute selection, and a tick with nothing due.
#include "BenchSupport.h"
#include "Clock.h"
#include "CommandEngine.h"
#include "Database.h"
#include "Recurrence.h"
#include "Timer.h"

#include <QApplication>
#include <QRandomGenerator>
#include <QSqlQuery>
#include <QTemporaryDir>

using namespace kavio;
using namespace kavio::bench;

namespace {

constexpr int Timers = 10000;
constexpr int Units = 200;

// Timers of every kind for 200 units, with dates over the past year and times over the day.
void fillTimers(const QDate& today) {
    QRandomGenerator random(42);
    QSqlDatabase db = Database::connection();
    db.transaction();
    QSqlQuery units(db);
    units.prepare(QStringLiteral(R"(INSERT INTO "Master" ("Name","IPAddress","Port","Password")
                                    VALUES (?,'127.0.0.1',4001,'pw'))"));
    for (int unit = 1; unit <= Units; ++unit) {
        units.addBindValue(QStringLiteral("Unit %1").arg(unit));
        units.exec();
    }
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
    return allMet ? 0 : 1;
}
