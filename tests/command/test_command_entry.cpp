#include "Codes.h"
#include "CommandEntry.h"

#include <QTest>

using namespace kavio;

class TestCommandEntry : public QObject {
    Q_OBJECT

private slots:
    void letters() {
        const QByteArray expected = "nfrpcq";
        for (quint8 task = 0; task < 6; ++task)
            QCOMPARE(CommandLetterOf(task), expected[task]);
        QCOMPARE(CommandLetterOf(6), char(0));
        QCOMPARE(CommandLetterOf(255), char(0));
    }

    void defaultEntryNamesNoUnit() {
        // Key 0 is never a unit's, so an entry left at its defaults is dropped, never served.
        QCOMPARE(TCommandEntry{}, (TCommandEntry{0, 0}));
    }

    // Reboot and pulse depend on the last status; any other task goes as it is.
    void taskSentFollowsLastStatus_data() {
        QTest::addColumn<int>("task");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("sent"); // -1: nothing is sent
        QTest::newRow("reboot on") << int(TaskReboot) << int(StatusOn) << int(TaskCycle);
        QTest::newRow("reboot off") << int(TaskReboot) << int(StatusOff) << int(TaskPowerOn);
        QTest::newRow("reboot unknown") << int(TaskReboot) << int(StatusUnknown) << -1;
        QTest::newRow("reboot busy") << int(TaskReboot) << int(StatusBusy) << -1;
        QTest::newRow("pulse on") << int(TaskPulse) << int(StatusOn) << int(TaskPowerOff);
        QTest::newRow("pulse off") << int(TaskPulse) << int(StatusOff) << int(TaskCycle);
        QTest::newRow("pulse cycling") << int(TaskPulse) << int(StatusCycle) << -1;
        QTest::newRow("pulse error") << int(TaskPulse) << int(StatusError) << -1;
        QTest::newRow("query unknown") << int(TaskQuery) << int(StatusUnknown) << int(TaskQuery);
        QTest::newRow("on while on") << int(TaskPowerOn) << int(StatusOn) << int(TaskPowerOn);
        QTest::newRow("cycle while off") << int(TaskCycle) << int(StatusOff) << int(TaskCycle);
    }
    void taskSentFollowsLastStatus() {
        QFETCH(int, task);
        QFETCH(int, status);
        QFETCH(int, sent);
        const std::optional<quint8> chosen = taskToSend(quint8(task), status);
        QCOMPARE(chosen.has_value(), sent >= 0);
        if (chosen)
            QCOMPARE(int(*chosen), sent);
    }

    void frame() {
        QCOMPARE(CommandFrame("secret", 'n'), QByteArray("\x1bsecret\x1bn\r"));
        // An empty password still gives the four bytes ESC ESC letter CR.
        QCOMPARE(CommandFrame(QByteArray(), 'q'), QByteArray("\x1b\x1bq\r"));
        QCOMPARE(CommandFrame(QByteArray(), 'q').size(), 4);
        // The password goes out exactly as stored: blanks and non-ASCII bytes included.
        QCOMPARE(CommandFrame(QStringLiteral(" pässwort ").toUtf8(), 'f'),
                 QByteArray("\x1b p\xc3\xa4sswort \x1b"
                            "f\r"));
    }
};

QTEST_GUILESS_MAIN(TestCommandEntry)
#include "test_command_entry.moc"
