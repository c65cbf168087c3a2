#include "Clock.h"
#include "Recurrence.h"
#include "SchedulerTestSupport.h"
#include "TempDatabase.h"
#include "TimerRecord.h"

#include <QHash>
#include <QTest>

using namespace kavio;
using test::at;

class TestRecurrence : public QObject {
    Q_OBJECT

private slots:
    void masks() {
        // Mon + Fri and Jan + Jul, as the editor's boxes give them.
        DayTicks monFri{};
        monFri[1] = monFri[5] = true;
        QCOMPARE(DayMaskFromBoxes(monFri), quint16(34));
        QCOMPARE(BoxesFromDayMask(34), monFri);
        MonthTicks janJul{};
        janJul[0] = janJul[6] = true;
        QCOMPARE(MonthMaskFromBoxes(janJul), quint16(65));
        QCOMPARE(BoxesFromMonthMask(65), janJul);
        DayTicks all{};
        all.fill(true);
        QCOMPARE(DayMaskFromBoxes(all), quint16(127));

        // 6 December 2026 is a Sunday.
        const QDate sunday(2026, 12, 6);
        QVERIFY(DayInMask(1, sunday));
        QVERIFY(!DayInMask(2, sunday));
        QVERIFY(DayInMask(64, sunday.addDays(6)));
        QVERIFY(!DayInMask(32, sunday.addDays(6)));
        QVERIFY(DayInMask(34, sunday.addDays(1)) && DayInMask(34, sunday.addDays(5)));
        QVERIFY(!DayInMask(34, sunday.addDays(4)));
        QVERIFY(MonthInMask(65, QDate(2027, 7, 31)) && MonthInMask(65, QDate(2027, 1, 1)));
        QVERIFY(!MonthInMask(65, QDate(2027, 6, 30)));
        QVERIFY(MonthInMask(2048, sunday) && !MonthInMask(1024, sunday));
    }

    void rules_data() {
        QTest::addColumn<int>("every");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("mask");
        QTest::addColumn<QDate>("date");
        QTest::addColumn<QTime>("time");
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<QDate>("expected");
        const QTime nine(9, 0);
        const QDate mon(2026, 12, 7);

        QTest::newRow("daily saved after its time: tomorrow")
            << 0 << 1 << 0 << mon << nine << at(2026, 12, 7, 10) << mon.addDays(1);
        QTest::newRow("daily saved before its time: today")
            << 0 << 1 << 0 << mon << nine << at(2026, 12, 7, 8) << mon;
        // The runner fires once a minute: an event of the current minute is still to come.
        QTest::newRow("daily in its own minute, at second 0: today")
            << 0 << 1 << 0 << mon << nine << at(2026, 12, 7, 9) << mon;
        QTest::newRow("daily in its own minute, beyond its seconds: today")
            << 0 << 1 << 0 << mon << nine << at(2026, 12, 7, 9, 0, 59) << mon;
        QTest::newRow("daily, the minute after: passed")
            << 0 << 1 << 0 << mon << QTime(9, 0, 47) << at(2026, 12, 7, 9, 1) << mon.addDays(1);
        QTest::newRow("daily, yesterday, time passed today")
            << 0 << 1 << 0 << mon.addDays(-1) << nine << at(2026, 12, 7, 10) << mon.addDays(1);
        QTest::newRow("every 3 days, 10 back")
            << 0 << 3 << 0 << mon.addDays(-10) << nine << at(2026, 12, 7, 8) << mon.addDays(2);
        QTest::newRow("every 3 days, 9 back, time passed")
            << 0 << 3 << 0 << mon.addDays(-9) << nine << at(2026, 12, 7, 10) << mon.addDays(3);
        QTest::newRow("every 0 days counts as 1")
            << 0 << 0 << 0 << mon.addDays(-5) << nine << at(2026, 12, 7, 10) << mon.addDays(1);

        QTest::newRow("Wednesday only, saved Monday")
            << 1 << 1 << 8 << mon << nine << at(2026, 12, 7, 10) << QDate(2026, 12, 9);
        QTest::newRow("Wednesday only, saved Tuesday: the next day")
            << 1 << 1 << 8 << mon.addDays(1) << nine << at(2026, 12, 8, 10) << QDate(2026, 12, 9);
        QTest::newRow("Mon+Fri every 2, saved Monday after 9: Friday")
            << 1 << 2 << 34 << mon << nine << at(2026, 12, 7, 10) << QDate(2026, 12, 11);
        QTest::newRow("Mon+Fri every 2, Friday passed: Monday two weeks on")
            << 1 << 2 << 34 << QDate(2026, 12, 11) << nine << at(2026, 12, 11, 10)
            << QDate(2026, 12, 21);
        QTest::newRow("Mon+Fri every 2, checked in the off week: next Monday of the rhythm")
            << 1 << 2 << 34 << QDate(2026, 12, 11) << nine << at(2026, 12, 15, 10)
            << QDate(2026, 12, 21);
        // A series starts on its first ticked day on or after the stored date, whose week is the
        // rhythm's first, however late in its own week the timer was saved.
        QTest::newRow("every 2, saved Saturday with only Monday: the next Monday")
            << 1 << 2 << 2 << QDate(2026, 12, 12) << nine << at(2026, 12, 12, 10)
            << QDate(2026, 12, 14);
        QTest::newRow("every 3, saved after the week's last ticked day: the next one")
            << 1 << 3 << 8 << QDate(2026, 12, 10) << nine << at(2026, 12, 10, 10)
            << QDate(2026, 12, 16);
        QTest::newRow("every 3, Mon+Thu, saved on a Sunday: the next day")
            << 1 << 3 << 18 << QDate(2028, 11, 5) << nine << at(2028, 11, 5, 21)
            << QDate(2028, 11, 6);
        QTest::newRow("every 3, Mon+Thu, saved on a Sunday, checked that Friday: three weeks on")
            << 1 << 3 << 18 << QDate(2028, 11, 5) << nine << at(2028, 11, 10, 10)
            << QDate(2028, 11, 27);
        QTest::newRow("every 2, Sun+Mon, saved Sunday: that Sunday's week is the first")
            << 1 << 2 << 3 << QDate(2028, 11, 5) << nine << at(2028, 11, 5, 10)
            << QDate(2028, 11, 13);
        QTest::newRow("week 52 to week 2, every week") << 1 << 1 << 2 << QDate(2026, 12, 21) << nine
                                                       << at(2027, 1, 12, 10) << QDate(2027, 1, 18);
        QTest::newRow("week 52 to week 2, every 2 weeks keeps its rhythm")
            << 1 << 2 << 2 << QDate(2026, 12, 21) << nine << at(2027, 1, 12, 10)
            << QDate(2027, 1, 18);
        QTest::newRow("Sunday ends the week") << 1 << 2 << 1 << QDate(2026, 12, 7) << nine
                                              << at(2026, 12, 7, 10) << QDate(2026, 12, 13);
        QTest::newRow("weekly, empty mask keeps its date")
            << 1 << 1 << 0 << QDate(2026, 1, 5) << nine << at(2026, 12, 7, 10) << QDate(2026, 1, 5);

        QTest::newRow("31st in April: 30 April") << 2 << 31 << 4095 << QDate(2027, 4, 10) << nine
                                                 << at(2027, 4, 10, 10) << QDate(2027, 4, 30);
        QTest::newRow("31 May passed: 30 June") << 2 << 31 << 4095 << QDate(2027, 5, 31) << nine
                                                << at(2027, 6, 1, 10) << QDate(2027, 6, 30);
        QTest::newRow("15th of Jan and Jul, saved 3 March")
            << 2 << 15 << 65 << QDate(2027, 3, 3) << nine << at(2027, 3, 3, 10)
            << QDate(2027, 7, 15);
        QTest::newRow("31st of February in a leap year")
            << 2 << 31 << 2 << QDate(2028, 1, 3) << nine << at(2028, 1, 3, 10)
            << QDate(2028, 2, 29);
        QTest::newRow("today's day not yet passed") << 2 << 7 << 4095 << QDate(2027, 5, 7) << nine
                                                    << at(2027, 5, 7, 8) << QDate(2027, 5, 7);
        QTest::newRow("stored day 0 is the first") << 2 << 0 << 4095 << QDate(2027, 5, 7) << nine
                                                   << at(2027, 5, 7, 10) << QDate(2027, 6, 1);
        QTest::newRow("stored day 99 is the last") << 2 << 99 << 8 << QDate(2025, 1, 1) << nine
                                                   << at(2027, 5, 7, 10) << QDate(2028, 4, 30);
        QTest::newRow("monthly, empty mask keeps its date")
            << 2 << 5 << 0 << QDate(2026, 1, 5) << nine << at(2026, 12, 7, 10) << QDate(2026, 1, 5);

        QTest::newRow("29 February passed") << 3 << 0 << 0 << QDate(2028, 2, 29) << nine
                                            << at(2028, 2, 29, 10) << QDate(2029, 2, 28);
        QTest::newRow("29 February asked, back in a leap year")
            << 3 << 29 << 0 << QDate(2031, 2, 28) << nine << at(2031, 3, 1, 10)
            << QDate(2032, 2, 29);
        QTest::newRow("29 February asked, several years on")
            << 3 << 29 << 0 << QDate(2028, 2, 29) << nine << at(2030, 5, 1, 10)
            << QDate(2031, 2, 28);
        QTest::newRow("31 asked of a 30-day month keeps the 30th")
            << 3 << 31 << 0 << QDate(2026, 4, 30) << nine << at(2026, 5, 1, 10)
            << QDate(2027, 4, 30);
        QTest::newRow("yearly not passed keeps its date")
            << 3 << 0 << 0 << QDate(2027, 6, 1) << nine << at(2026, 12, 7, 10) << QDate(2027, 6, 1);
        QTest::newRow("yearly catches up")
            << 3 << 0 << 0 << QDate(2020, 6, 1) << nine << at(2026, 12, 7, 10) << QDate(2027, 6, 1);
        QTest::newRow("once keeps its date")
            << 4 << 0 << 0 << QDate(2020, 6, 1) << nine << at(2026, 12, 7, 10) << QDate(2020, 6, 1);
    }

    void rules() {
        QFETCH(int, every);
        QFETCH(int, count);
        QFETCH(int, mask);
        QFETCH(QDate, date);
        QFETCH(QTime, time);
        QFETCH(QDateTime, now);
        QFETCH(QDate, expected);

        ManualClock clock(now);
        QDate result;
        switch (every) {
        case 0:
            result = NextDailyDate(count, date, time);
            break;
        case 1:
            result = NextWeeklyDate(count, quint16(mask), date, time);
            break;
        case 2:
            result = NextMonthlyDate(quint16(mask), count, date, time);
            break;
        case 3:
            result = count == 0 ? NextYearlyDate(date, time)
                                : NextYearlyDate(date, time, clock.time, count);
            break;
        default:
            break;
        }
        // The same through a stored record and the recomputation of the whole table.
        test::TempDatabase db;
        const quint16 timer = test::addTimer(1, 0, every, count, time.toString("HH:mm:ss"), date,
                                             every == 1 ? mask : 0, every == 2 ? mask : 0);
        RecalcTimerDates();
        if (every != 4)
            QCOMPARE(result, expected);
        QCOMPARE(test::timerField(timer, "Date").toString(), expected.toString(Qt::ISODate));
    }

    void handEditedRowsAreNamedAndTheRestIsWritten() {
        test::TempDatabase db;
        ManualClock clock(at(2026, 12, 7, 10));
        const QDate old(2026, 11, 1);
        const quint16 good = test::addTimer(1, 0, 0, 1, "09:00:00", old);
        const quint16 count = test::addTimer(1, 0, 0, 1, "09:00:00", old);
        const quint16 every = test::addTimer(1, 0, 0, 1, "09:00:00", old);
        const quint16 date = test::addTimer(1, 0, 0, 1, "09:00:00", old);
        const quint16 time = test::addTimer(1, 0, 0, 1, "09:00:00", old);
        const quint16 task = test::addTimer(1, 0, 0, 1, "09:00:00", old);
        const quint16 last = test::addTimer(1, 0, 0, 1, "09:00:00", old);
        test::setTimerField(count, "Count", "two");
        test::setTimerField(every, "Every", 9);
        test::setTimerField(date, "Date", "12/06/2026");
        test::setTimerField(time, "TimeOfDay", "09:30:123");
        test::setTimerField(task, "Task", 5);
        for (int more = 0; more < 5; ++more)
            test::setTimerField(test::addTimer(1, 0, 0, 1, "09:00:00", old), "Month", -1);

        QString message;
        try {
            RecalcTimerDates();
        } catch (const TimerRecordError& error) {
            message = error.message();
        }
        for (const QString& expected :
             {QStringLiteral("Timer %1: field \"Count\" holds \"two\"").arg(count),
              QStringLiteral("Timer %1: field \"Every\" holds \"9\"").arg(every),
              QStringLiteral("Timer %1: field \"Date\" holds \"12/06/2026\"").arg(date),
              QStringLiteral("Timer %1: field \"TimeOfDay\" holds \"09:30:123\"").arg(time),
              QStringLiteral("Timer %1: field \"Task\" holds \"5\"").arg(task)})
            QVERIFY2(message.contains(expected), qPrintable(message));
        QVERIFY(!message.contains(QStringLiteral("Timer %1:").arg(good)));
        QCOMPARE(message.count(QLatin1Char('\n')), 9); // ten timers named, no "more"
        test::setTimerField(good, "DayOfWeek", "x");
        try {
            RecalcTimerDates();
        } catch (const TimerRecordError& error) {
            message = error.message();
        }
        QVERIFY(message.endsWith(QStringLiteral("\nand 1 more timers")));
        QCOMPARE(test::timerField(good, "Date").toString(), QStringLiteral("2026-12-08"));
        QCOMPARE(test::timerField(last, "Date").toString(), QStringLiteral("2026-12-08"));
        QCOMPARE(test::timerField(count, "Date").toString(), QStringLiteral("2026-11-01"));
    }

    // The 16-bit fields of a row take 0 to 65535 and nothing beyond.
    void fieldBounds_data() {
        QTest::addColumn<QByteArray>("field");
        QTest::addColumn<qint64>("value");
        QTest::addColumn<bool>("accepted");
        for (const char* field : {"Index", "DayOfWeek", "Month"}) {
            const QByteArray name(field);
            QTest::addRow("%s -1", field) << name << qint64(-1) << false;
            QTest::addRow("%s 0", field) << name << qint64(0) << true;
            QTest::addRow("%s 65535", field) << name << qint64(65535) << true;
            QTest::addRow("%s 65536", field) << name << qint64(65536) << false;
        }
    }

    void fieldBounds() {
        QFETCH(QByteArray, field);
        QFETCH(qint64, value);
        QFETCH(bool, accepted);
        const QHash<QByteArray, QVariant> row = {
            {"TimerIndex", 12}, {"Index", 7},  {"Task", 1},
            {"Every", 2},       {"Count", 15}, {"TimeOfDay", "09:30:00"},
            {"DayOfWeek", 8},   {"Month", 65}, {"Date", "2026-12-15"}};
        auto read = [&](const char* name) {
            return name == field ? QVariant(value) : row.value(QByteArray(name));
        };
        QString message;
        TTimerRecord record;
        try {
            record = TimerRecordFrom(read);
        } catch (const TimerRecordError& error) {
            message = error.message();
        }
        if (!accepted) {
            QCOMPARE(message, QStringLiteral("Timer 12: field \"%1\" holds \"%2\", which is not a "
                                             "number from 0 to 65535")
                                  .arg(QLatin1String(field))
                                  .arg(value));
            return;
        }
        QVERIFY2(message.isEmpty(), qPrintable(message));
        const QHash<QByteArray, qint64> got = {
            {"Index", record.index}, {"DayOfWeek", record.dayOfWeek}, {"Month", record.month}};
        QCOMPARE(got.value(field), value);
        QCOMPARE(record.timerIndex, quint16(12));
        QCOMPARE(record.date, QDate(2026, 12, 15));
    }

    // The forms a hand-edited table may hold: short times, padded numbers, whole reals. Bytes
    // are no number, even when they spell one.
    void storedForms() {
        const QString who = QStringLiteral("Timer 3");
        QCOMPARE(TimerTime(QStringLiteral("09:30"), who), QTime(9, 30));
        QCOMPARE(TimerTime(QStringLiteral("23:59:58"), who), QTime(23, 59, 58));
        QCOMPARE(TimerDate(QStringLiteral("2027-02-28"), who), QDate(2027, 2, 28));
        QCOMPARE(TimerInteger(QStringLiteral(" 42 "), who, "Count", 0, 99), qint64(42));
        QCOMPARE(TimerInteger(3.0, who, "Count", 0, 99), qint64(3));
        QString message;
        try {
            TimerInteger(QVariant(QByteArray("12")), who, "Count", 0, 99);
        } catch (const TimerRecordError& error) {
            message = error.message();
        }
        QCOMPARE(message, QStringLiteral("Timer 3: field \"Count\" holds \"12\", which is not a "
                                         "whole number"));
    }

    void texts() {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        QCOMPARE(ClockText(QTime(15, 5, 9)), QStringLiteral("3:05:09 pm"));
        QCOMPARE(ClockText(QTime(0, 0, 0)), QStringLiteral("12:00:00 am"));
        QCOMPARE(ClockText(QTime(12, 30, 59)), QStringLiteral("12:30:59 pm"));
        QCOMPARE(ClockText(QTime(11, 59, 5)), QStringLiteral("11:59:05 am"));
        QCOMPARE(TwelveHourTime(QTime(21, 30, 47)), QStringLiteral("09:30 PM"));
        QCOMPARE(TwelveHourTime(QTime(0, 5)), QStringLiteral("12:05 AM"));
        QCOMPARE(TwelveHourTime(QTime(12, 0)), QStringLiteral("12:00 PM"));
        QCOMPARE(DateFilterLine(QDate(2026, 12, 6)),
                 QStringLiteral("WHERE \"Timer.DB\".\"Date\" = \"12/06/2026\""));
        QCOMPARE(DateFilterLine(QDate(2027, 1, 5)),
                 QStringLiteral("WHERE \"Timer.DB\".\"Date\" = \"1/05/2027\""));
        QCOMPARE(EveryName(0) + EveryName(1) + EveryName(2) + EveryName(3) + EveryName(4),
                 QStringLiteral("DailyWeeklyMonthlyYearlyOnce"));
        QCOMPARE(EveryName(5), QString());
        QLocale::setDefault(QLocale::c());
    }
};

QTEST_GUILESS_MAIN(TestRecurrence)
#include "test_recurrence.moc"
