#include "CommandEngine.h"
#include "PollRule.h"
#include "QueueSettings.h"

#include <QDateTime>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace kavio;

class TestPollAndParallel : public QObject {
    Q_OBJECT

private slots:
    // Which minutes start a timed poll, for each interval of the Poll menu.
    void timedPollMinutes_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("hour");
        QTest::addColumn<int>("minute");
        QTest::addColumn<bool>("due");
        QTest::newRow("never") << 2 << 0 << 0 << false;
        QTest::newRow("15 min at :45") << 3 << 7 << 45 << true;
        QTest::newRow("15 min at :16") << 3 << 7 << 16 << false;
        QTest::newRow("15 min at :32") << 3 << 7 << 32 << false;
        QTest::newRow("30 min at :30") << 4 << 7 << 30 << true;
        QTest::newRow("30 min at :15") << 4 << 7 << 15 << false;
        QTest::newRow("hourly at :00") << 5 << 7 << 0 << true;
        QTest::newRow("hourly at :01") << 5 << 7 << 1 << false;
        QTest::newRow("2 h at 6:00") << 6 << 6 << 0 << true;
        QTest::newRow("2 h at 7:00") << 6 << 7 << 0 << false;
        QTest::newRow("4 h at 6:00") << 7 << 6 << 0 << false;
        QTest::newRow("8 h at 16:00") << 8 << 16 << 0 << true;
        QTest::newRow("12 h at 12:00") << 9 << 12 << 0 << true;
        QTest::newRow("12 h at 8:00") << 9 << 8 << 0 << false;
        QTest::newRow("daily at 0:00") << 10 << 0 << 0 << true;
        QTest::newRow("daily at 12:00") << 10 << 12 << 0 << false;
        QTest::newRow("out of range") << 11 << 0 << 0 << false;
    }
    void timedPollMinutes() {
        QFETCH(int, mode);
        QFETCH(int, hour);
        QFETCH(int, minute);
        QFETCH(bool, due);
        const QDateTime now(QDate(2026, 12, 7), QTime(hour, minute, 31));
        QCOMPARE(poll::timedPollDue(mode, now), due);
    }

    // The parallel setting read from a real settings file: missing, valid, and not usable.
    void parallelSettingFromFile() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QSettings settings(dir.filePath(QStringLiteral("kavio.ini")), QSettings::IniFormat);

        ParallelSetting missing = readParallelSetting(settings);
        QCOMPARE(missing.exchanges, 1);
        QVERIFY2(missing.problem.isEmpty(), qPrintable(missing.problem));

        QCOMPARE(writeParallelSetting(settings, TCommandEngine::MaxParallel), QString());
        const ParallelSetting stored = readParallelSetting(settings);
        QCOMPARE(stored.exchanges, TCommandEngine::MaxParallel);
        QVERIFY(stored.problem.isEmpty());

        settings.setValue(ParallelKey, QStringLiteral("many"));
        const ParallelSetting bad = readParallelSetting(settings);
        QCOMPARE(bad.exchanges, 1);
        QVERIFY(bad.problem.contains(QStringLiteral("\"many\"")));
    }
};

QTEST_GUILESS_MAIN(TestPollAndParallel)
#include "test_poll_and_parallel.moc"
