#include "AboutBox.h"
#include "Codes.h"
#include "CommandProcessor.h"
#include "ConnectFailed.h"
#include "Database.h"
#include "GroupProperties.h"
#include "HistoryWindow.h"
#include "HistoryWriter.h"
#include "ItemProperties.h"
#include "Main.h"
#include "Messages.h"
#include "Program.h"
#include "ServingCore.h"
#include "SetTimer.h"
#include "TempDatabase.h"
#include "Timer.h"
#include "viewtimer.h"

#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QSqlQuery>
#include <QStatusBar>
#include <QTableView>
#include <QTest>
#include <QTimer>

using namespace kavio;
using test::TempDatabase;

// Every window of the program, opened on a small screen with large fonts (the platform is set
// up by the test's environment: 1280 x 900 pixels at a scale of 2, or at a font resolution of
// 192 dpi): each lies wholly inside the screen's available area, and no caption is cut.
class TestWindowFits : public QObject {
    Q_OBJECT

    QTemporaryDir settingsDir;

    // What is wrong with a shown window: a frame beyond the available area, or a button too
    // narrow or too low for its caption.
    static QString faults(QWidget* window) {
        QStringList found;
        const QRect available = window->screen()->availableGeometry();
        const QRect frame = window->frameGeometry();
        if (!available.contains(frame))
            found << QStringLiteral("frame %1,%2 %3x%4 beyond %5x%6")
                         .arg(frame.x())
                         .arg(frame.y())
                         .arg(frame.width())
                         .arg(frame.height())
                         .arg(available.width())
                         .arg(available.height());
        for (const QPushButton* button : window->findChildren<QPushButton*>()) {
            if (!button->isVisibleTo(window) || button->text().isEmpty())
                continue;
            const QFontMetrics metrics = button->fontMetrics();
            const QString caption = QString(button->text()).remove(QLatin1Char('&'));
            if (metrics.horizontalAdvance(caption) + 8 > button->width() ||
                metrics.height() + 4 > button->height())
                found << QStringLiteral("\"%1\" cut (%2x%3)")
                             .arg(caption)
                             .arg(button->width())
                             .arg(button->height());
        }
        return found.isEmpty() ? QString()
                               : window->metaObject()->className() + QStringLiteral(": ") +
                                     found.join(QStringLiteral(", "));
    }

    // Waits until the window system has framed the window and it stands still.
    static QString shownFaults(QWidget* window) {
        if (!QTest::qWaitForWindowExposed(window))
            return window->metaObject()->className() + QStringLiteral(": never shown");
        QTest::qWait(50);
        return faults(window);
    }

private slots:
    void initTestCase() {
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());
        Messages::useBoxes(); // as the program does: notices come up in boxes
        // The environment this test is about; without it, it would prove nothing.
        const QScreen* screen = QGuiApplication::primaryScreen();
        const QSize pixels = screen->geometry().size() * screen->devicePixelRatio();
        QCOMPARE(pixels, QSize(1280, 900));
        QVERIFY2(screen->devicePixelRatio() >= 2 ||
                     QFontMetrics(QApplication::font()).height() >= 2 * 13,
                 "neither a scale nor a large font");
    }

    void everyWindowInsideTheScreen() {
        TempDatabase db;
        const QString longName = QStringLiteral("Rack A in the east wing, row 12");
        const quint16 unit = TempDatabase::addUnit(longName);
        for (int i = 2; i <= 40; ++i)
            TempDatabase::addUnit(QStringLiteral("Unit %1 with a name of some length").arg(i),
                                  QStringLiteral("127.0.0.%1").arg(i));
        TempDatabase::addGroup(QStringLiteral("The group of the east wing, row 7"));
        QSqlQuery(Database::connection())
            .exec(QStringLiteral("INSERT INTO \"Timer\" (\"Index\", \"Task\", \"Every\", "
                                 "\"TimeOfDay\", \"Date\") VALUES (%1, 1, 1, '09:30:00', "
                                 "'2030-01-01')")
                      .arg(unit));

        {
            // Exchanges of the last start, with lines wider than the command log.
            HistoryWriter writer;
            for (int i = 0; i < 40; ++i) {
                HistoryRow row;
                row.TimeMs = QDateTime::currentMSecsSinceEpoch() - 60000 + i;
                row.Index = unit;
                row.Name = longName.repeated(3);
                row.Command = QStringLiteral("q");
                row.Task = TaskQuery;
                row.Source = QStringLiteral("poll");
                row.Outcome = QStringLiteral("answered");
                row.Reply = QStringLiteral("ON");
                writer.add(row);
            }
            QVERIFY(writer.flush());
        }

        ServingCore core;
        TKavioProgram program(core);
        TKavioCCMain& main = *program.KavioCCMain;
        main.PollTiler->stop();
        program.CmndProc->engine().Timer2->stop();
        QStringList found;
        const auto check = [&found](QWidget* window) {
            const QString fault = shownFaults(window);
            if (!fault.isEmpty())
                found << fault;
        };

        program.start();
        check(&main);
        main.statusBar()->showMessage(QStringLiteral("KavioRst was not found"));

        program.HistoryFrm->showHistory();
        check(program.HistoryFrm.get());
        QTest::keyClick(program.HistoryFrm->Table, Qt::Key_Escape);
        if (program.HistoryFrm->isVisible())
            found << QStringLiteral("Esc leaves the History window open");
        program.HistoryFrm->hide();

        program.ViewTimerFrm->ShowUnitTimers(unit);
        check(program.ViewTimerFrm.get());
        program.ViewTimerFrm->hide();

        // The modal windows, checked from within their own event loops.
        const auto whileModal = [&](QDialog* dialog, const std::function<int()>& open) {
            QTimer::singleShot(0, dialog, [&check, dialog] {
                check(dialog);
                dialog->reject();
            });
            open();
        };
        program.SetTimerFRM->PrepareNewTimer();
        whileModal(program.SetTimerFRM.get(),
                   [&] { return program.SetTimerFRM->ShowModalFor(unit); });
        program.ItemPropFRM->ClearFields();
        whileModal(program.ItemPropFRM.get(), [&] { return program.ItemPropFRM->exec(); });
        whileModal(program.GroupPropFRM.get(), [&] { return program.GroupPropFRM->exec(); });

        program.CmndProc->show();
        check(program.CmndProc.get());
        // It opens scrolled to the start of its lines.
        const QScrollBar* across = program.CmndProc->Memo1->horizontalScrollBar();
        QVERIFY(across->maximum() > 0);
        QCOMPARE(across->value(), across->minimum());
        program.CmndProc->hide();
        program.TimerFrm->show();
        check(program.TimerFrm.get());
        program.TimerFrm->hide();
        program.AboutBox->show();
        check(program.AboutBox.get());
        program.AboutBox->hide();

        // The notices: the units that could not be reached, and a box that waits for nobody.
        TConFail& notice = TConFail::notice();
        for (quint16 index = 1; index <= 20; ++index)
            notice.AddUnit(index, longName + QString::number(index), QDateTime::currentDateTime());
        notice.lines();
        check(&notice);
        notice.Button1Click();
        Messages::notify(MessageKind::Warning, QStringLiteral("Poll"),
                         QStringLiteral("Poll/Mode in %1 is \"99\", not a number from 2 to 10: "
                                        "Never polls")
                             .arg(settingsDir.filePath(QStringLiteral("KavioCC.ini"))));
        const auto shownBox = []() -> QMessageBox* {
            for (QWidget* top : QApplication::topLevelWidgets()) {
                if (auto* box = qobject_cast<QMessageBox*>(top); box && box->isVisible())
                    return box;
            }
            return nullptr;
        };
        QTRY_VERIFY(shownBox());
        QMessageBox* box = shownBox();
        check(box);
        box->close();

        QVERIFY2(found.isEmpty(), qPrintable(found.join(QLatin1Char('\n'))));
    }
};

QTEST_MAIN(TestWindowFits)
#include "test_window_fits.moc"
