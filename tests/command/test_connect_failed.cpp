#include "ConnectFailed.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTest>

using namespace kavio;

class TestConnectFailed : public QObject {
    Q_OBJECT

private slots:
    void noticeNamesTheUnitAndIsReleasedWhenClosed() {
        QPointer<TConFail> first = ShowConnectFailed(QStringLiteral("Rack 7"));
        QPointer<TConFail> second = ShowConnectFailed(QStringLiteral("A much longer unit name"));
        QVERIFY(first && second && first != second);
        QVERIFY(first->isVisible());
        QVERIFY(!first->isModal());
        QVERIFY(first->windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(!(first->windowFlags() & Qt::WindowCloseButtonHint));
        QVERIFY(first->windowTitle().isEmpty());

        QCOMPARE(first->Label1->text(), QStringLiteral("Could Not Connect to: Rack 7"));
        QVERIFY(first->Label1->font().bold());
        QCOMPARE(first->Label1->font().pixelSize(), 13);
        QCOMPARE(first->Label1->alignment(), Qt::AlignCenter);
        QCOMPARE(first->Button1->size(), QSize(75, 25));
        QVERIFY(!first->testAttribute(Qt::WA_QuitOnClose));
        QCOMPARE(first->Label1->pos(), QPoint(52, 26));
        QCOMPARE(first->width(), first->Label1->width() + 100);
        QVERIFY(second->width() > first->width());
        QCOMPARE(first->height(), 89);
        // The Close button keeps to the bottom right corner.
        const QRect button = first->Button1->geometry();
        QCOMPARE(first->width() - button.right(),
                 second->width() - second->Button1->geometry().right());
        QVERIFY(button.bottom() < first->height() && button.bottom() > first->height() - 20);

        QTest::mouseClick(first->Button1, Qt::LeftButton);
        QTRY_VERIFY(first.isNull());
        QVERIFY(second);
        second->close();
        QTRY_VERIFY(second.isNull());
    }

    // The name comes from the database: it is shown as it is, never as markup, and a name too
    // long for the screen is cut short so that the notice fits and Close stays in reach.
    void nameIsPlainTextAndTheNoticeFitsTheScreen() {
        QPointer<TConFail> markup = ShowConnectFailed(QStringLiteral("<b>Rack</b><br>two"));
        QCOMPARE(markup->Label1->textFormat(), Qt::PlainText);
        QCOMPARE(markup->Label1->text(),
                 QStringLiteral("Could Not Connect to: <b>Rack</b><br>two"));
        markup->close();

        const QString huge = QStringLiteral("Rack ") + QString(1024 * 1024, QLatin1Char('W'));
        QPointer<TConFail> notice = ShowConnectFailed(huge);
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY2(notice->width() <= screen.width(), qPrintable(QString::number(notice->width())));
        QVERIFY(notice->Label1->text().startsWith(QStringLiteral("Could Not Connect to: Rack WW")));
        QVERIFY(notice->Label1->text().endsWith(QChar(0x2026)));
        QCOMPARE(notice->width(), notice->Label1->width() + 100);
        QVERIFY(notice->rect().contains(notice->Button1->geometry()));
        QTest::mouseClick(notice->Button1, Qt::LeftButton);
        QTRY_VERIFY(notice.isNull());
    }
};

QTEST_MAIN(TestConnectFailed)
#include "test_connect_failed.moc"
