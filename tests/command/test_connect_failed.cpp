#include "ConnectFailed.h"

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
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
        QCOMPARE(first->parent(), nullptr);

        QCOMPARE(first->Label1->text(), QStringLiteral("Could Not Connect to: Rack 7"));
        QVERIFY(first->Label1->font().bold());
        QCOMPARE(first->Label1->font().pixelSize(), 13);
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
};

QTEST_MAIN(TestConnectFailed)
#include "test_connect_failed.moc"
