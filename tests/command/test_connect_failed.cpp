#include "ConnectFailed.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QTest>

using namespace kavio;

namespace {

QDateTime at(int hour, int minute, int second) {
    return QDateTime(QDate(2026, 12, 7), QTime(hour, minute, second));
}

int visibleNotices() {
    int count = 0;
    for (QWidget* widget : QApplication::topLevelWidgets())
        count += qobject_cast<TConFail*>(widget) && widget->isVisible();
    return count;
}

} // namespace

class TestConnectFailed : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { TConFail::notice().close(); }

    void oneNoticeListsUnitsNewestFirst() {
        TConFail& notice = TConFail::notice();
        notice.AddUnit(7, QStringLiteral("Rack 7"), at(10, 0, 1));
        QVERIFY(notice.isVisible());
        QVERIFY(!notice.isModal());
        QVERIFY(notice.windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(!(notice.windowFlags() & Qt::WindowCloseButtonHint));
        QVERIFY(notice.windowTitle().isEmpty());
        QVERIFY(!notice.testAttribute(Qt::WA_QuitOnClose));
        QCOMPARE(notice.Label1->text(), QStringLiteral("Could Not Connect to: Rack 7"));
        QVERIFY(notice.Label1->font().bold());
        QCOMPARE(notice.Label1->font().pixelSize(), 13);
        QCOMPARE(notice.Label1->pos(), QPoint(52, 26));
        QCOMPARE(notice.Button1->size(), QSize(75, 25));
        QCOMPARE(notice.lines(), QStringList({"10:00:01  Rack 7"}));
        // The list is drawn again after each refill, and a long line ends in an ellipsis.
        QVERIFY(notice.UnitList->updatesEnabled());
        QCOMPARE(notice.UnitList->textElideMode(), Qt::ElideRight);

        // More failures join the same window; a unit failing again moves to the top, once.
        notice.AddUnit(8, QStringLiteral("Rack 8"), at(10, 0, 2));
        notice.AddUnit(7, QStringLiteral("Rack 7"), at(10, 0, 3));
        QCOMPARE(&TConFail::notice(), &notice);
        QCOMPARE(visibleNotices(), 1);
        QCOMPARE(notice.lines(), QStringList({"10:00:03  Rack 7", "10:00:02  Rack 8"}));
        QCOMPARE(notice.Label1->text(), QStringLiteral("Could Not Connect to: 2 units"));
        QVERIFY(notice.rect().contains(notice.Button1->geometry()));
        QVERIFY(notice.rect().contains(notice.UnitList->geometry()));
        QVERIFY(notice.UnitList->geometry().bottom() < notice.Button1->geometry().top());

        // Close empties it: the next failure starts a fresh list.
        QTest::mouseClick(notice.Button1, Qt::LeftButton);
        QVERIFY(!notice.isVisible());
        QCOMPARE(notice.unitCount(), 0);
        notice.AddUnit(8, QStringLiteral("Rack 8"), at(11, 0, 0));
        QCOMPARE(notice.lines(), QStringList({"11:00:00  Rack 8"}));
    }

    // However many units fail, the list keeps the newest MaxLines and the label counts them all.
    void manyFailuresStayOneBoundedWindow() {
        TConFail& notice = TConFail::notice();
        const int units = TConFail::MaxLines + 10;
        for (int unit = 1; unit <= units; ++unit)
            notice.AddUnit(quint16(unit), QStringLiteral("u%1").arg(unit), at(12, 0, 0));
        QCOMPARE(notice.lineCount(), TConFail::MaxLines);
        QCOMPARE(notice.unitCount(), units);
        const QStringList lines = notice.lines();
        QCOMPARE(lines.first(), QStringLiteral("12:00:00  u%1").arg(units));
        QCOMPARE(lines.last(), QStringLiteral("12:00:00  u11"));
        QCOMPARE(notice.Label1->text(),
                 QStringLiteral("Could Not Connect to: %1 units").arg(units));
        QCOMPARE(visibleNotices(), 1);
    }

    // Names come from the database: shown as they are, never as markup, and a name too long for
    // the screen is cut short so that the notice fits and Close stays in reach.
    void namesArePlainTextAndTheNoticeFitsTheScreen() {
        TConFail& notice = TConFail::notice();
        notice.AddUnit(1, QStringLiteral("<b>Rack</b><br>two"), at(9, 0, 0));
        QCOMPARE(notice.Label1->textFormat(), Qt::PlainText);
        QCOMPARE(notice.Label1->text(), QStringLiteral("Could Not Connect to: <b>Rack</b><br>two"));
        notice.close();

        const QString huge = QStringLiteral("Rack ") + QString(1024 * 1024, QLatin1Char('W'));
        notice.AddUnit(2, huge, at(9, 0, 0));
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY2(notice.width() <= screen.width(), qPrintable(QString::number(notice.width())));
        QVERIFY(notice.Label1->text().startsWith(QStringLiteral("Could Not Connect to: Rack WW")));
        QVERIFY(notice.Label1->text().endsWith(QChar(0x2026)));
        QVERIFY(notice.rect().contains(notice.Button1->geometry()));
    }
};

QTEST_MAIN(TestConnectFailed)
#include "test_connect_failed.moc"
