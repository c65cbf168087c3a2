#include "Codes.h"
#include "CommandProcessor.h"
#include "ConnectFailed.h"
#include "HistoryWriter.h"
#include "LogFormat.h"
#include "LogWithCore.h"
#include "LoopbackUnits.h"
#include "Messages.h"
#include "SqliteTool.h"
#include "TempDatabase.h"
#include "UnitSim.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <memory>

using namespace kavio;
using kavio::sim::Behaviour;
using kavio::sim::SimulatedUnit;
using test::behaving;
using test::SqliteWriteLock;
using test::TempDatabase;
using test::unusedPort;

namespace {

constexpr int Patience = 10000; // ms; generous, only a broken processor needs it

QStringList noticeTexts() {
    QStringList texts;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* notice = qobject_cast<TConFail*>(widget); notice && notice->isVisible())
            texts << notice->Label1->text();
    }
    texts.sort();
    return texts;
}

} // namespace

// The window around the exchange: its log, its buttons, the notices of units it cannot reach and
// the report of a failing store.
class TestCommandWindow : public QObject {
    Q_OBJECT

    std::unique_ptr<TempDatabase> db;
    std::unique_ptr<LogWithCore> processor;
    QTemporaryDir settingsDir;

    // The log's lines without their time, which the test cannot know.
    QStringList untimedLog() {
        QStringList lines = processor->logLines();
        static const QRegularExpression time(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d "));
        for (QString& line : lines) {
            if (!time.match(line).hasMatch())
                return {QStringLiteral("untimed line: ") + line};
            line.remove(0, 9);
        }
        return lines;
    }

    void waitUntilIdle() {
        QTRY_VERIFY_WITH_TIMEOUT(
            !processor->engine().busy() && processor->engine().queue().isEmpty(), Patience);
    }

private slots:
    // A log line names its unit by name and address; the port only when one is known.
    void logLineNamesItsUnit_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("unit");
        QTest::newRow("all") << "Rack A"
                             << "127.0.0.5" << 5001 << " Rack A 127.0.0.5:5001 ";
        QTest::newRow("port 1") << "r"
                                << "127.0.0.5" << 1 << " r 127.0.0.5:1 ";
        QTest::newRow("no port") << "r"
                                 << "127.0.0.5" << 0 << " r 127.0.0.5 ";
        QTest::newRow("no name") << ""
                                 << "127.0.0.5" << 7 << " 127.0.0.5:7 ";
        QTest::newRow("no unit") << ""
                                 << "" << 7 << " ";
    }
    void logLineNamesItsUnit() {
        QFETCH(QString, name);
        QFETCH(QString, address);
        QFETCH(int, port);
        QFETCH(QString, unit);
        const qint64 time = QDateTime(QDate(2026, 12, 7), QTime(12, 3, 7)).toMSecsSinceEpoch();
        const QString line =
            FormatLogLine(TLogLine{time, name, address, quint16(port), QStringLiteral("SUCCESS")});
        QCOMPARE(line, QStringLiteral("12:03:07") + unit + QStringLiteral("SUCCESS"));
    }

    void initTestCase() {
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());
    }

    void init() {
        db = std::make_unique<TempDatabase>();
        processor = std::make_unique<LogWithCore>();
    }

    void cleanup() {
        processor.reset();
        TConFail::notice().close();
        for (QWidget* widget : QApplication::topLevelWidgets())
            widget->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        db.reset();
    }

    void logWindowButtonsAndHiddenWork() {
        SimulatedUnit unit(behaving(Behaviour::On));
        QVERIFY(unit.listen());
        const quint16 index =
            TempDatabase::addUnit(QStringLiteral("u"), QStringLiteral("127.0.0.1"), unit.port());
        processor->show();
        QCOMPARE(processor->windowTitle(), QStringLiteral("CmndProc"));
        QCOMPARE(processor->Button1->text(), QStringLiteral("Clear"));
        QCOMPARE(processor->Button2->text(), QStringLiteral("Close"));
        QCOMPARE(processor->CopyButton->text(), QStringLiteral("Copy"));
        QVERIFY(processor->CopyButton->y() < processor->SaveButton->y());
        QVERIFY(processor->SaveButton->y() < processor->Button1->y());
        QVERIFY(processor->Button1->y() < processor->Button2->y());
        QCOMPARE(processor->size(), QSize(272, 304));
        QCOMPARE(processor->Memo1->geometry(), QRect(0, 0, 185, 304));
        QCOMPARE(processor->Button1->size(), QSize(75, 25));
        QCOMPARE(processor->Button2->size(), QSize(75, 25));
        // Both buttons stand in the middle of the column beside the log.
        for (const QPushButton* button : {processor->CopyButton, processor->SaveButton,
                                          processor->Button1, processor->Button2}) {
            const int before = button->x() - 185;
            const int after = 272 - 1 - button->geometry().right();
            QVERIFY2(before > 0 && std::abs(before - after) <= 1,
                     qPrintable(QStringLiteral("%1 | %2").arg(before).arg(after)));
        }
        QVERIFY(processor->Memo1->isReadOnly());
        QCOMPARE(processor->Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);

        QTest::mouseClick(processor->Button2, Qt::LeftButton);
        QVERIFY(!processor->isVisible());
        processor->engine().AddToQueue(index, TaskQuery);
        waitUntilIdle();
        // Each line names the unit and its address before the exchange's own text.
        const QString prefix = QStringLiteral("u 127.0.0.1:%1 ").arg(unit.port());
        const QStringList exchange = {prefix + "Connecting 127.0.0.1", prefix + "  CONNECTED",
                                      prefix + "  Sending the q Command", prefix + "  SUCCESS"};
        QCOMPARE(untimedLog(), exchange);
        // The memo gets the lines shortly after, without anyone asking.
        processor->Button1Click();
        processor->engine().AddToQueue(index, TaskQuery);
        QTRY_COMPARE_WITH_TIMEOUT(processor->Memo1->toPlainText().count('\n'), 3, Patience);
        QCOMPARE(untimedLog(), exchange);

        // Copy takes the whole log, Save writes it to a file.
        processor->CopyClick();
        QCOMPARE(QApplication::clipboard()->text(), processor->logLines().join('\n'));
        const QString saved = settingsDir.filePath(QStringLiteral("log.txt"));
        QVERIFY(processor->saveLog(saved));
        QFile file(saved);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(file.readAll()), processor->logLines().join('\n') + '\n');
        QString error;
        QVERIFY(
            !processor->saveLog(settingsDir.filePath(QStringLiteral("no/such/log.txt")), &error));
        QVERIFY2(error.contains(QStringLiteral("cannot be saved")), qPrintable(error));

        QTest::mouseClick(processor->Button1, Qt::LeftButton);
        QVERIFY(processor->logLines().isEmpty());

        // The window grows with its log, and opens again as it was left.
        processor->show();
        processor->resize(600, 400);
        QCOMPARE(processor->Memo1->width(), 600 - 87);
        processor->hide();
        QVERIFY(processor->history().flush());
        // An exchange whose row still waits to be written is kept when the window goes.
        processor->engine().AddToQueue(index, TaskQuery);
        waitUntilIdle();
        processor.reset();
        LogWithCore again;
        QCOMPARE(again.size(), QSize(600, 400));
        // The exchanges of before the start show in the new window's log.
        const QStringList earlier = again.logLines();
        QCOMPARE(earlier.size(), 3);
        const QRegularExpression line(
            QStringLiteral(
                "^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d u 127.0.0.1:%1 q \\(button\\) "
                "ON: answered, \\d+ ms$")
                .arg(unit.port()));
        QVERIFY2(line.match(earlier[1]).hasMatch(), qPrintable(earlier[1]));
    }

    // 40 unreachable units make one notice listing all of them, newest first; a command that
    // kavioctl or an HTTP client handed over is logged but raises none: its caller hears of it.
    void unreachableUnitsShareOneNotice() {
        const quint16 port = unusedPort();
        QList<quint16> units;
        for (int unit = 1; unit <= 40; ++unit)
            units << TempDatabase::addUnit(QStringLiteral("u%1").arg(unit),
                                           QStringLiteral("127.0.0.%1").arg(unit), port);
        const quint16 scripted =
            TempDatabase::addUnit(QStringLiteral("scripted"), QStringLiteral("127.0.0.1"), port);
        processor->engine().AddToQueue(scripted, TaskQuery, CommandSource::Kavioctl);
        processor->engine().AddToQueue(scripted, TaskQuery, CommandSource::Http);
        for (quint16 unit : units)
            processor->engine().AddToQueue(unit, TaskQuery, CommandSource::Poll);
        waitUntilIdle();
        QTRY_COMPARE(noticeTexts(),
                     QStringList({QStringLiteral("Could Not Connect to: 40 units")}));
        const QStringList lines = TConFail::notice().lines();
        QCOMPARE(lines.size(), 40);
        QVERIFY2(lines.first().endsWith(QStringLiteral("  u40")), qPrintable(lines.first()));
        QVERIFY(lines.last().endsWith(QStringLiteral("  u1")));
        const QStringList logged = processor->logLines();
        QCOMPARE(std::count_if(logged.begin(), logged.end(),
                               [](const QString& line) {
                                   return line.endsWith(QStringLiteral("   FAILED"));
                               }),
                 42);
    }

    // A locked store is told once per failing spell, as an error.
    void failingStoreIsReportedOnce() {
        RecordingMessageSink messages;
        SimulatedUnit unit(behaving(Behaviour::On));
        QVERIFY(unit.listen());
        const quint16 index =
            TempDatabase::addUnit(QStringLiteral("u"), QStringLiteral("127.0.0.1"), unit.port());
        SqliteWriteLock lock(db->path);
        QVERIFY(lock.isHeld());
        processor->engine().AddToQueue(index, TaskQuery);
        processor->engine().AddToQueue(index, TaskPowerOn);
        waitUntilIdle();
        QTRY_COMPARE(messages.shown.size(), 1);
        QCOMPARE(messages.shown.first().kind, MessageKind::Error);
        QVERIFY2(messages.shown.first().text.contains(QStringLiteral("locked")),
                 qPrintable(messages.shown.first().text));
        const QStringList log = processor->logLines();
        QCOMPARE(log.filter(QStringLiteral("  FAILED")).size(), 2);
        QCOMPARE(log.filter(QStringLiteral("  SUCCESS")).size(), 0);
    }
};

QTEST_MAIN(TestCommandWindow)
#include "test_command_window.moc"
