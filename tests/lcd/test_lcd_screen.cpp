// The dot-matrix display widget: size snapping, dot colours, cell shapes, border, composition of
// text and picture, and the cell size writes. Everything is checked on what the widget paints.

#include "DotColours.h"
#include "DotComposer.h"
#include "LCDScreen.h"
#include "LcdTestSupport.h"
#include "Messages.h"

#include <QHBoxLayout>
#include <QSignalSpy>
#include <QVBoxLayout>
#include <QtTest>

using namespace kavio;
using namespace kavio::lcd;
using namespace kavio::lcd::test;

namespace {

// Sets up the timer runner's clock display: red on maroon dots with black gaps.
void makeRunnerDisplay(TLCDScreen& screen) {
    screen.resize(221, 53);
    screen.setFont(testFont(12));
    screen.setFontColor(QColor(255, 0, 0));
    screen.setPixelOff(QColor(128, 0, 0));
    screen.setColor(Qt::black);
}

// Every pixel of the rectangle has the colour.
bool allPixels(const QImage& image, const QRect& rect, const QColor& colour) {
    for (int y = rect.top(); y <= rect.bottom(); ++y) {
        for (int x = rect.left(); x <= rect.right(); ++x) {
            if (image.pixel(x, y) != colour.rgb())
                return false;
        }
    }
    return true;
}

} // namespace

class TestLcdScreen : public QObject {
    Q_OBJECT

private slots:
    void newControlSnapsToWholeCells();
    void snapsToWholeCells_data();
    void snapsToWholeCells();
    void respectsTheLayoutsGeometry();
    void dotColours_data();
    void dotColours();
    void runnerDisplayShowsRedOnMaroonWithBlackGaps();
    void negativeIntensitySwapsLitAndUnlit();
    void roundCellsHaveUnlitCorners();
    void emptyLineAddsBandOfUnlitRows();
    void disabledShowsOnlyBackgroundAndBorder();
    void settingPaintsOnce_data();
    void settingPaintsOnce();
    void pictureAssignmentPaintsEvenWhileAnimating();
    void pictureTakesDarkPixelsOnly();
    void clicks();
    void border_data();
    void border();
    void pictureIsClippedAtTheGrid_data();
    void pictureIsClippedAtTheGrid();
    void textWiderThanGridIsClippedAtTheRight();
    void scrollWrap_data();
    void scrollWrap();
    void bothModes_data();
    void bothModes();
    void cellSizeWrites();
    void markupEffectHonouredOnlyWhenEnabled_data();
    void markupEffectHonouredOnlyWhenEnabled();
    void linesAreContinuousAtEverySize();
    void stylesDifferFromEachOther();
    void boldWordThenPlainText();
    void inverseCarriedOverLineEnd();
    void fontChangesRerenderAndRecolour();
    void propertiesByName_data();
    void propertiesByName();
};

void TestLcdScreen::newControlSnapsToWholeCells() {
    TLCDScreen screen;
    QCOMPARE(screen.size(), QSize(143, 65));
    QCOMPARE(screen.Columns(), 46);
    QCOMPARE(screen.Rows(), 20);
    QCOMPARE(screen.PixelWidth(), 2);
    QCOMPARE(screen.PixelHeight(), 2);
    QCOMPARE(screen.focusPolicy(), Qt::NoFocus);
    QVERIFY(screen.testAttribute(Qt::WA_OpaquePaintEvent));
    // The timer keeps its own start interval until the delay is changed.
    QCOMPARE(screen.AnimTimer()->interval(), 250);
    QCOMPARE(screen.AnimationDelay(), 251u);
    QVERIFY(!screen.AnimTimer()->isActive());
}

void TestLcdScreen::snapsToWholeCells_data() {
    QTest::addColumn<QSize>("requested");
    QTest::addColumn<TPixelSize>("pixelSize");
    QTest::addColumn<int>("spacing");
    QTest::addColumn<int>("borderSpace");
    QTest::addColumn<QSize>("snapped");
    QTest::addColumn<int>("columns");
    QTest::addColumn<int>("rows");

    QTest::newRow("runner's clock keeps its size")
        << QSize(221, 53) << pix2x2 << 1 << 3 << QSize(221, 53) << 72 << 16;
    QTest::newRow("default control")
        << QSize(145, 65) << pix2x2 << 1 << 3 << QSize(143, 65) << 46 << 20;
    QTest::newRow("1x1 without gaps or margin")
        << QSize(100, 40) << pix1x1 << 0 << 0 << QSize(100, 40) << 100 << 40;
    QTest::newRow("3x3, wide gaps") << QSize(50, 51) << pix3x3 << 2 << 5 << QSize(48, 48) << 8 << 8;
    QTest::newRow("a single cell") << QSize(11, 11) << pix4x4 << 1 << 3 << QSize(10, 10) << 1 << 1;
    QTest::newRow("a gap that swallows the cell")
        << QSize(50, 50) << pix2x2 << -2 << 3 << QSize(8, 8) << 0 << 0;
    QTest::newRow("too small for one cell")
        << QSize(6, 6) << pix4x4 << 1 << 3 << QSize(5, 5) << 0 << 0;
}

void TestLcdScreen::snapsToWholeCells() {
    QFETCH(QSize, requested);
    QFETCH(TPixelSize, pixelSize);
    QFETCH(int, spacing);
    QFETCH(int, borderSpace);

    QFETCH(QSize, snapped);

    QWidget form; // declared first: the control leaves it before it goes
    // Free-standing, the control keeps the size it is given and draws whole cells only: the
    // strip beyond the last cell shows the background.
    TLCDScreen screen;
    screen.setPixelSize(pixelSize);
    screen.setPixelSpacing(qint8(spacing));
    screen.setBorderSpace(qint8(borderSpace));
    screen.setBorderStyle(bsNone);
    screen.setColor(QColor(1, 2, 3));
    screen.resize(requested);
    QCOMPARE(screen.sizeHint(), snapped);
    QTEST(int(screen.Columns()), "columns");
    QTEST(int(screen.Rows()), "rows");
    const QImage shot = screen.grab().toImage();
    QCOMPARE(screen.size(), requested);
    for (int r = 0; r < screen.Rows(); ++r) {
        for (int c = 0; c < screen.Columns(); ++c) {
            const QRect cell(cellOrigin(screen, c, r),
                             QSize(screen.PixelWidth(), screen.PixelHeight()));
            QVERIFY(allPixels(shot, cell, screen.UnlitColour()));
        }
    }
    const QRect beyond(QPoint(snapped.width() - borderSpace, 0), QPoint(requested.width() - 1, 0));
    QVERIFY(allPixels(shot, beyond.adjusted(0, 0, 0, requested.height() - 1), QColor(1, 2, 3)));
    QVERIFY(allPixels(shot,
                      QRect(QPoint(0, snapped.height() - borderSpace),
                            QPoint(requested.width() - 1, requested.height() - 1)),
                      QColor(1, 2, 3)));

    // In a layout it gets its hint, and keeps it: it never resizes itself.
    auto* layout = new QHBoxLayout(&form);
    layout->addWidget(&screen);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(screen.size(), snapped);
    QTEST(int(screen.Columns()), "columns");
}

void TestLcdScreen::respectsTheLayoutsGeometry() {
    QWidget form;
    auto* layout = new QVBoxLayout(&form);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* screen = new TLCDScreen(&form);
    screen->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    screen->setFont(testFont(10));
    screen->setLines({QStringLiteral("8888")});
    layout->addWidget(screen);
    form.resize(301, 99);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(screen->size(), QSize(301, 99));
    // (301 - 6 + 1) / 3 = 98 columns, (99 - 6 + 1) / 3 = 31 rows; the hint is their size.
    QCOMPARE(screen->Columns(), 98);
    QCOMPARE(screen->Rows(), 31);
    QCOMPARE(screen->sizeHint(), QSize(299, 98));
    QVERIFY(litCount(shownDots(*screen)) > 0);

    // A coarser cell changes the hint, not the geometry the layout gave.
    screen->setPixelSize(pix4x4);
    QCoreApplication::processEvents();
    QCOMPARE(screen->size(), QSize(301, 99));
    QCOMPARE(screen->sizeHint(), QSize(59 * 5 - 1 + 6, 18 * 5 - 1 + 6));
}

void TestLcdScreen::dotColours_data() {
    QTest::addColumn<QColor>("pixelOff");
    QTest::addColumn<QColor>("font");
    QTest::addColumn<int>("intensity");
    QTest::addColumn<QColor>("lit");
    QTest::addColumn<QColor>("unlit");

    const QColor grey(0xAA, 0xAA, 0xAA);
    const QColor maroon(128, 0, 0);
    QTest::newRow("default black on grey")
        << grey << QColor(Qt::black) << 127 << QColor(85, 85, 85) << grey;
    QTest::newRow("runner red on maroon wraps")
        << maroon << QColor(255, 0, 0) << 127 << QColor(192, 0, 0) << maroon;
    QTest::newRow("negative intensity swaps")
        << grey << QColor(Qt::black) << -127 << grey << QColor(85, 85, 85);
    QTest::newRow("negative intensity, red on maroon")
        << maroon << QColor(255, 0, 0) << -127 << maroon << QColor(192, 0, 0);
    // 1 * 128 / 255 is just over a half: rounds up, where truncation would give 0.
    QTest::newRow("rounds to nearest")
        << QColor(1, 1, 1) << QColor(Qt::black) << 127 << QColor(1, 1, 1) << QColor(1, 1, 1);
    QTest::newRow("rounds away from zero, then wraps")
        << QColor(0, 0, 0) << QColor(1, 2, 0) << 127 << QColor(255, 255, 0) << QColor(0, 0, 0);
    QTest::newRow("intensity 0 is the plain difference")
        << QColor(200, 100, 50) << QColor(50, 100, 200) << 0 << QColor(150, 0, 106)
        << QColor(200, 100, 50);
    QTest::newRow("intensity -128 weighs 127")
        << grey << QColor(Qt::black) << -128 << grey << QColor(85, 85, 85);
}

void TestLcdScreen::dotColours() {
    QFETCH(QColor, pixelOff);
    QFETCH(QColor, font);
    QFETCH(int, intensity);

    const TDotColours colours = ComputeDotColours(pixelOff, font, qint8(intensity));
    QTEST(colours.lit, "lit");
    QTEST(colours.unlit, "unlit");

    // The widget recomputes them when any of the three inputs is written.
    TLCDScreen screen;
    screen.setPixelOff(pixelOff);
    screen.setFontColor(font);
    screen.setIntensity(qint8(intensity));
    QTEST(screen.LitColour(), "lit");
    QTEST(screen.UnlitColour(), "unlit");
}

void TestLcdScreen::runnerDisplayShowsRedOnMaroonWithBlackGaps() {
    TLCDScreen screen;
    makeRunnerDisplay(screen);
    screen.setLines({QStringLiteral("12:34:56")});

    const TDotImage dots = shownDots(screen);
    QVERIFY(litCount(dots) > 20);
    const QImage shot = screen.grab().toImage();
    bool sawLit = false;
    bool sawUnlit = false;
    for (int r = 0; r < dots.height(); ++r) {
        for (int c = 0; c < dots.width(); ++c) {
            const QPoint at = cellOrigin(screen, c, r);
            const QColor expected = dots.isLit(c, r) ? QColor(192, 0, 0) : QColor(128, 0, 0);
            QVERIFY2(allPixels(shot, QRect(at, QSize(2, 2)), expected),
                     qPrintable(QStringLiteral("cell %1,%2").arg(c).arg(r)));
            (dots.isLit(c, r) ? sawLit : sawUnlit) = true;
            // The gap to the right of and below every cell shows the background.
            QCOMPARE(shot.pixelColor(at + QPoint(2, 0)), QColor(Qt::black));
            QCOMPARE(shot.pixelColor(at + QPoint(0, 2)), QColor(Qt::black));
        }
    }
    QVERIFY(sawLit && sawUnlit);
}

void TestLcdScreen::negativeIntensitySwapsLitAndUnlit() {
    TLCDScreen screen;
    screen.setDisplayMode(dmBitmap);
    screen.setBitmap(pictureOf({QStringLiteral("#.")}));
    screen.setIntensity(-127);

    const QImage shot = screen.grab().toImage();
    QCOMPARE(shot.pixelColor(cellOrigin(screen, 0, 0)), QColor(0xAA, 0xAA, 0xAA));
    QCOMPARE(shot.pixelColor(cellOrigin(screen, 1, 0)), QColor(85, 85, 85));
    QCOMPARE(shot.pixelColor(cellOrigin(screen, 5, 5)), QColor(85, 85, 85));
}

void TestLcdScreen::roundCellsHaveUnlitCorners() {
    TLCDScreen screen;
    screen.setPixelSize(pix4x4);
    screen.setDisplayMode(dmBitmap);
    screen.setBitmap(pictureOf({QStringLiteral("#.")}));
    const QColor lit = screen.LitColour();
    const QColor unlit = screen.UnlitColour();

    screen.setPixelShape(psSquare);
    QImage shot = screen.grab().toImage();
    QVERIFY(allPixels(shot, QRect(cellOrigin(screen, 0, 0), QSize(4, 4)), lit));

    screen.setPixelShape(psRound);
    shot = screen.grab().toImage();
    const QPoint disc = cellOrigin(screen, 0, 0);
    for (const QPoint corner : {QPoint(0, 0), QPoint(3, 0), QPoint(0, 3), QPoint(3, 3)})
        QCOMPARE(shot.pixelColor(disc + corner), unlit);
    for (const QPoint inner : {QPoint(1, 1), QPoint(2, 2), QPoint(1, 0), QPoint(0, 2)})
        QCOMPARE(shot.pixelColor(disc + inner), lit);
    // An unlit dot is a full square whatever the shape.
    QVERIFY(allPixels(shot, QRect(cellOrigin(screen, 1, 0), QSize(4, 4)), unlit));

    // The smallest round dot that can differ from a square: a plus sign.
    screen.setPixelSize(pix3x3);
    shot = screen.grab().toImage();
    const QPoint small = cellOrigin(screen, 0, 0);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 3; ++x) {
            const bool corner = x != 1 && y != 1;
            QCOMPARE(shot.pixelColor(small + QPoint(x, y)), corner ? unlit : lit);
        }
    }
}

void TestLcdScreen::emptyLineAddsBandOfUnlitRows() {
    TLCDScreen none;
    QCOMPARE(none.TextImage().width(), 0);
    QCOMPARE(none.TextImage().height(), 0);

    TLCDScreen alone;
    alone.setFont(testFont(10));
    alone.setLines({QStringLiteral("X")});
    TLCDScreen belowEmpty;
    belowEmpty.setFont(testFont(10));
    belowEmpty.setLines({QString(), QStringLiteral("X")});

    const TDotImage& x = alone.TextImage();
    const TDotImage& both = belowEmpty.TextImage();
    QVERIFY(litCount(x) > 0);
    QCOMPARE(both.height(), x.height() + 10);
    QCOMPARE(both.width(), x.width());
    TDotImage expected(x.width(), x.height() + 10);
    expected.copyFrom(x, 0, 10);
    QVERIFY(both == expected);

    // Only lines without any characters count: a line of tags alone is empty too.
    TLCDScreen tagsOnly;
    tagsOnly.setFont(testFont(10));
    tagsOnly.setLines({QStringLiteral("<b></b>"), QStringLiteral("X")});
    QVERIFY(tagsOnly.TextImage() == expected);
}

void TestLcdScreen::disabledShowsOnlyBackgroundAndBorder() {
    QWidget form;
    TLCDScreen screen;
    screen.setColor(QColor(10, 20, 30));
    screen.setFont(testFont(10));
    screen.setLines({QStringLiteral("8888")});
    QVERIFY(litCount(shownDots(screen)) > 0);

    // A disabled parent leaves the display alone: Enabled is the display's own setting.
    screen.setParent(&form);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    PaintCounter counter;
    screen.installEventFilter(&counter);
    form.setEnabled(false);
    QCoreApplication::processEvents();
    QCOMPARE(counter.paints, 0);
    QVERIFY(screen.Enabled());
    QVERIFY(screen.property("Enabled").toBool());
    QVERIFY(litCount(shownDots(screen)) > 0);

    screen.setEnabled(false);
    QVERIFY(!screen.Enabled());
    const QImage shot = screen.grab().toImage();
    QVERIFY(allPixels(shot, screen.rect().adjusted(1, 1, -1, -1), QColor(10, 20, 30)));
    QCOMPARE(shot.pixel(0, 0), screen.palette().color(QPalette::Dark).rgb());
    QCOMPARE(shot.pixel(142, 64), screen.palette().color(QPalette::Light).rgb());
}

void TestLcdScreen::settingPaintsOnce_data() {
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<int>("paints");

    QTest::newRow("AnimationDelay") << QByteArray("AnimationDelay") << QVariant(40) << 0;
    QTest::newRow("AnimationRepeating") << QByteArray("AnimationRepeating") << QVariant(true) << 0;
    QTest::newRow("BitmapCopyMode")
        << QByteArray("BitmapCopyMode") << QVariant("cmTransparent") << 1;
    QTest::newRow("BitmapAnimMode") << QByteArray("BitmapAnimMode") << QVariant("amStatic") << 1;
    QTest::newRow("BitmapXOffset") << QByteArray("BitmapXOffset") << QVariant(3) << 1;
    QTest::newRow("BitmapYOffset") << QByteArray("BitmapYOffset") << QVariant(3) << 1;
    QTest::newRow("BorderSpace") << QByteArray("BorderSpace") << QVariant(5) << 1;
    QTest::newRow("BorderStyle") << QByteArray("BorderStyle") << QVariant("bsRaised") << 1;
    QTest::newRow("Color") << QByteArray("Color") << QVariant(QColor(1, 2, 3)) << 1;
    QTest::newRow("DisplayMode") << QByteArray("DisplayMode") << QVariant("dmBoth") << 1;
    QTest::newRow("Enabled") << QByteArray("Enabled") << QVariant(false) << 1;
    QTest::newRow("Font") << QByteArray("Font") << QVariant(testFont(14)) << 1;
    QTest::newRow("FontColor") << QByteArray("FontColor") << QVariant(QColor(Qt::red)) << 1;
    QTest::newRow("Intensity") << QByteArray("Intensity") << QVariant(-5) << 1;
    QTest::newRow("Lines") << QByteArray("Lines") << QVariant(QStringList{"Z"}) << 1;
    QTest::newRow("LinesAnimMode") << QByteArray("LinesAnimMode") << QVariant("amStatic") << 1;
    QTest::newRow("LinesXOffset") << QByteArray("LinesXOffset") << QVariant(2) << 1;
    QTest::newRow("LinesYOffset") << QByteArray("LinesYOffset") << QVariant(2) << 1;
    QTest::newRow("PixelHeight") << QByteArray("PixelHeight") << QVariant(3) << 1;
    QTest::newRow("PixelWidth") << QByteArray("PixelWidth") << QVariant(3) << 1;
    QTest::newRow("PixelOff") << QByteArray("PixelOff") << QVariant(QColor(Qt::blue)) << 1;
    QTest::newRow("PixelShape") << QByteArray("PixelShape") << QVariant("psRound") << 1;
    QTest::newRow("PixelSize") << QByteArray("PixelSize") << QVariant("pix3x3") << 1;
    QTest::newRow("PixelSpacing") << QByteArray("PixelSpacing") << QVariant(2) << 1;
    QTest::newRow("SpecialEffects") << QByteArray("SpecialEffects") << QVariant("spBold") << 1;
}

void TestLcdScreen::settingPaintsOnce() {
    QFETCH(QByteArray, name);
    QFETCH(QVariant, value);
    QFETCH(int, paints);

    TLCDScreen screen;
    screen.setPixelSize(name.startsWith("PixelWidth") || name.startsWith("PixelHeight") ? pixCustom
                                                                                        : pix2x2);
    screen.setFont(testFont(10));
    screen.setLines({QStringLiteral("AB")});
    screen.show();
    QVERIFY(QTest::qWaitForWindowExposed(&screen));
    PaintCounter counter;
    screen.installEventFilter(&counter);
    const QVariant original = screen.property(name.constData());

    // A change paints at once, and once.
    QVERIFY(screen.setProperty(name.constData(), value));
    QCOMPARE(counter.paints, paints);
    QCoreApplication::processEvents();
    QCOMPARE(counter.paints, paints);
    // Writing the value already held does nothing.
    QVERIFY(screen.setProperty(name.constData(), screen.property(name.constData())));
    QCoreApplication::processEvents();
    QCOMPARE(counter.paints, paints);
    // While animating the next tick paints instead.
    screen.setAnimationDelay(1000000);
    screen.setAnimationEnabled(true);
    QVERIFY(screen.setProperty(name.constData(), original));
    QCoreApplication::processEvents();
    QCOMPARE(counter.paints, paints);
}

void TestLcdScreen::pictureAssignmentPaintsEvenWhileAnimating() {
    TLCDScreen screen;
    screen.setDisplayMode(dmBitmap);
    screen.show();
    QVERIFY(QTest::qWaitForWindowExposed(&screen));
    screen.setAnimationDelay(1000000);
    screen.setAnimationEnabled(true);
    PaintCounter counter;
    screen.installEventFilter(&counter);
    screen.setBitmap(pictureOf({QStringLiteral("#.#")}));
    QCOMPARE(counter.paints, 1);
    QCoreApplication::processEvents();
    QCOMPARE(counter.paints, 1);
}

void TestLcdScreen::pictureTakesDarkPixelsOnly() {
    // Light grey, a transparent pixel and a faint black one stay unlit; dark grey and black
    // are lit.
    QImage picture(6, 1, QImage::Format_ARGB32);
    picture.setPixel(0, 0, qRgba(0, 0, 0, 255));
    picture.setPixel(1, 0, qRgba(100, 100, 100, 255));
    picture.setPixel(2, 0, qRgba(200, 200, 200, 255));
    picture.setPixel(3, 0, qRgba(0, 0, 0, 0));
    picture.setPixel(4, 0, qRgba(0, 0, 0, 60));
    picture.setPixel(5, 0, qRgba(255, 255, 255, 255));
    TLCDScreen screen;
    screen.setDisplayMode(dmBitmap);
    screen.setBitmap(picture);

    TDotImage expected(screen.Columns(), screen.Rows());
    expected.setLit(0, 0, true);
    expected.setLit(1, 0, true);
    QVERIFY(shownDots(screen) == expected);
    QCOMPARE(screen.Bitmap().size(), QSize(6, 1));
    QCOMPARE(screen.Bitmap().pixelColor(1, 0), QColor(Qt::black));
    QCOMPARE(screen.Bitmap().pixelColor(4, 0), QColor(Qt::white));
}

void TestLcdScreen::clicks() {
    TLCDScreen screen;
    screen.show();
    QVERIFY(QTest::qWaitForWindowExposed(&screen));
    QSignalSpy clicked(&screen, &TLCDScreen::clicked);
    QSignalSpy doubleClicked(&screen, &TLCDScreen::doubleClicked);

    QTest::mouseClick(&screen, Qt::LeftButton, {}, QPoint(10, 10));
    QCOMPARE(clicked.count(), 1);
    QTest::mouseClick(&screen, Qt::RightButton, {}, QPoint(10, 10));
    // Pressed inside, released outside: no click.
    QTest::mousePress(&screen, Qt::LeftButton, {}, QPoint(10, 10));
    QTest::mouseRelease(&screen, Qt::LeftButton, {}, QPoint(200, 10));
    QCOMPARE(clicked.count(), 1);
    QCOMPARE(doubleClicked.count(), 0);
    QTest::mouseDClick(&screen, Qt::LeftButton, {}, QPoint(10, 10));
    QCOMPARE(doubleClicked.count(), 1);
}

void TestLcdScreen::border_data() {
    QTest::addColumn<TLCDBorder>("style");
    QTest::addColumn<bool>("drawn");
    QTest::addColumn<bool>("lowered");
    QTest::newRow("lowered") << bsLowered << true << true;
    QTest::newRow("raised") << bsRaised << true << false;
    QTest::newRow("none") << bsNone << false << false;
}

void TestLcdScreen::border() {
    QFETCH(TLCDBorder, style);
    QFETCH(bool, drawn);
    QFETCH(bool, lowered);

    TLCDScreen screen;
    screen.setColor(QColor(1, 2, 3));
    screen.setBorderStyle(style);
    const QImage shot = screen.grab().toImage();
    const QColor light = screen.palette().color(QPalette::Light);
    const QColor dark = screen.palette().color(QPalette::Dark);
    QVERIFY(light.rgb() != dark.rgb());
    const QColor topLeftEdges = !drawn ? QColor(1, 2, 3) : lowered ? dark : light;
    const QColor bottomRightEdges = !drawn ? QColor(1, 2, 3) : lowered ? light : dark;
    const int right = screen.width() - 1;
    const int bottom = screen.height() - 1;

    QVERIFY(allPixels(shot, QRect(0, 0, right + 1, 1), topLeftEdges));
    QVERIFY(allPixels(shot, QRect(0, 0, 1, bottom), topLeftEdges));
    QVERIFY(allPixels(shot, QRect(0, bottom, right + 1, 1), bottomRightEdges));
    QVERIFY(allPixels(shot, QRect(right, 1, 1, bottom), bottomRightEdges));
    // Inside the border line the margin keeps the background.
    QCOMPARE(shot.pixelColor(1, 1), QColor(1, 2, 3));
    QCOMPARE(shot.pixelColor(right - 1, bottom - 1), QColor(1, 2, 3));
}

void TestLcdScreen::pictureIsClippedAtTheGrid_data() {
    QTest::addColumn<int>("xOffset");
    QTest::addColumn<int>("yOffset");
    QTest::addColumn<QList<QPoint>>("lit");

    // The picture is a 3 x 2 block; the grid is 46 x 20.
    QTest::newRow("inside") << 5 << 6
                            << QList<QPoint>{{5, 6}, {6, 6}, {7, 6}, {5, 7}, {6, 7}, {7, 7}};
    QTest::newRow("over the right edge")
        << 44 << 0 << QList<QPoint>{{44, 0}, {45, 0}, {44, 1}, {45, 1}};
    QTest::newRow("over the left edge") << -2 << 3 << QList<QPoint>{{0, 3}, {0, 4}};
    QTest::newRow("over the bottom-right corner") << 45 << 19 << QList<QPoint>{{45, 19}};
    QTest::newRow("above the top") << 0 << -2 << QList<QPoint>{};
}

void TestLcdScreen::pictureIsClippedAtTheGrid() {
    QFETCH(int, xOffset);
    QFETCH(int, yOffset);
    QFETCH(QList<QPoint>, lit);

    TLCDScreen screen;
    screen.setDisplayMode(dmBitmap);
    screen.setBitmap(pictureOf({QStringLiteral("###"), QStringLiteral("###")}));
    screen.setBitmapXOffset(qint8(xOffset));
    screen.setBitmapYOffset(qint8(yOffset));

    TDotImage expected(46, 20);
    for (const QPoint& dot : lit)
        expected.setLit(dot.x(), dot.y(), true);
    QVERIFY(shownDots(screen) == expected);
}

void TestLcdScreen::textWiderThanGridIsClippedAtTheRight() {
    TLCDScreen screen;
    screen.setFont(testFont(10));
    screen.setLines({QStringLiteral("0123456789ABCDEF")});
    const TDotImage& text = screen.TextImage();
    QVERIFY(text.width() > screen.Columns());

    TDotImage expected(screen.Columns(), screen.Rows());
    for (int y = 0; y < std::min(text.height(), int(screen.Rows())); ++y) {
        for (int x = 0; x < screen.Columns(); ++x)
            expected.setLit(x, y, text.isLit(x, y));
    }
    QVERIFY(litCount(expected) > 0);
    QVERIFY(shownDots(screen) == expected);
}

void TestLcdScreen::scrollWrap_data() {
    QTest::addColumn<TDisplayMode>("mode");
    QTest::addColumn<int>("linesX");
    QTest::addColumn<int>("bitmapX");
    QTest::addColumn<int>("scroll");
    QTest::addColumn<int>("wrapped");
    QTest::addColumn<int>("scrollY");
    QTest::addColumn<int>("wrappedY");

    // Text 10 x 3 dots, picture 4 x 2, grid 20 x 5. Down the grid the rows count, not the
    // columns.
    QTest::newRow("text past the top re-enters at the bottom")
        << dmText << 0 << 0 << 0 << 0 << -4 << 4;
    QTest::newRow("text past the bottom re-enters at the top")
        << dmText << 0 << 0 << 0 << 0 << 6 << -2;
    QTest::newRow("picture past the top uses its own height")
        << dmBitmap << 0 << 0 << 0 << 0 << -3 << 4;
    QTest::newRow("both: the taller content decides") << dmBoth << 0 << 0 << 0 << 0 << -4 << 4;
    QTest::newRow("text just off the left edge stays") << dmText << 0 << 0 << -10 << -10 << 0 << 0;
    QTest::newRow("text past the left edge re-enters right")
        << dmText << 0 << 0 << -11 << 19 << 0 << 0;
    QTest::newRow("text at the right edge stays") << dmText << 0 << 0 << 20 << 20 << 0 << 0;
    QTest::newRow("text past the right edge re-enters left")
        << dmText << 0 << 0 << 21 << -9 << 0 << 0;
    QTest::newRow("offset counts") << dmText << 5 << 0 << -16 << 14 << 0 << 0;
    QTest::newRow("picture uses its own width") << dmBitmap << 0 << 0 << -5 << 19 << 0 << 0;
    QTest::newRow("both: the picture's offset alone can wrap")
        << dmBoth << 4 << 0 << -14 << 16 << 0 << 0;
    QTest::newRow("both: the wider content decides") << dmBoth << 0 << 0 << -11 << 19 << 0 << 0;
}

void TestLcdScreen::scrollWrap() {
    QFETCH(TDisplayMode, mode);
    QFETCH(int, linesX);
    QFETCH(int, bitmapX);
    QFETCH(int, scroll);

    const TDotImage text(10, 3);
    const TDotImage picture(4, 2);
    TComposition c;
    c.displayMode = mode;
    c.text = &text;
    c.bitmap = &picture;
    c.linesXOffset = linesX;
    c.bitmapXOffset = bitmapX;
    c.columns = 20;
    c.rows = 5;
    QFETCH(int, scrollY);
    TScroll position{scroll, scrollY};
    WrapScroll(c, position);
    QTEST(int(position.x), "wrapped");
    QTEST(int(position.y), "wrappedY");
}

void TestLcdScreen::bothModes_data() {
    QTest::addColumn<TBitmapCopyMode>("copyMode");
    QTest::newRow("not transparent: the picture hides the text") << cmNotTransparent;
    QTest::newRow("transparent: union of lit dots") << cmTransparent;
}

void TestLcdScreen::bothModes() {
    QFETCH(TBitmapCopyMode, copyMode);

    TLCDScreen screen;
    screen.setFont(testFont(12));
    screen.setLines({QStringLiteral("HH")});
    screen.setDisplayMode(dmBoth);
    screen.setBitmapCopyMode(copyMode);
    // A hollow square over the first letter: its inside is unlit in the picture.
    const QImage picture = pictureOf({QStringLiteral("#######"), QStringLiteral("#.....#"),
                                      QStringLiteral("#.....#"), QStringLiteral("#.....#"),
                                      QStringLiteral("#.....#"), QStringLiteral("#######")});
    screen.setBitmap(picture);
    screen.setBitmapXOffset(1);
    screen.setBitmapYOffset(2);
    const QRect pictureRect(1, 2, 7, 6);

    const TDotImage& text = screen.TextImage();
    TDotImage expected(screen.Columns(), screen.Rows());
    int hiddenTextDots = 0;
    for (int y = 0; y < expected.height(); ++y) {
        for (int x = 0; x < expected.width(); ++x) {
            const bool textLit = text.isLit(x, y);
            if (!pictureRect.contains(x, y)) {
                expected.setLit(x, y, textLit);
                continue;
            }
            const bool pictureLit = qGray(picture.pixel(x - 1, y - 2)) < 128;
            if (textLit && !pictureLit)
                ++hiddenTextDots;
            expected.setLit(x, y, copyMode == cmTransparent ? textLit || pictureLit : pictureLit);
        }
    }
    // The letter must show through the hollow, or the two modes would look alike.
    QVERIFY(hiddenTextDots > 0);
    QVERIFY(shownDots(screen) == expected);
}

void TestLcdScreen::cellSizeWrites() {
    RecordingMessageSink messages;
    TLCDScreen screen;

    // With a preset the cell size is the preset's.
    screen.setPixelWidth(5);
    screen.setPixelHeight(5);
    QCOMPARE(screen.PixelWidth(), 2);
    QCOMPARE(screen.PixelHeight(), 2);
    QVERIFY(messages.shown.isEmpty());

    screen.setPixelSize(pixCustom);
    screen.setPixelHeight(1);
    QCOMPARE(screen.PixelHeight(), 1);
    screen.setPixelHeight(2);
    screen.setPixelWidth(0);
    screen.setPixelHeight(-3);
    QCOMPARE(screen.PixelWidth(), 2);
    QCOMPARE(screen.PixelHeight(), 2);
    QCOMPARE(messages.shown.size(), 2);
    for (const ShownMessage& message : messages.shown) {
        QCOMPARE(message.kind, MessageKind::Information);
        QCOMPARE(message.text, QStringLiteral("Value must be between 1 and 255."));
        QCOMPARE(message.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    }

    // An accepted width re-snaps the control: (143 - 6 + 1) / (4 + 1) = 27 columns.
    screen.setPixelWidth(4);
    QCOMPARE(screen.PixelWidth(), 4);
    QCOMPARE(screen.Columns(), 27);
    QCOMPARE(screen.sizeHint().width(), 27 * 4 + 6 + 26);
    QCOMPARE(messages.shown.size(), 2);

    // A preset chosen again overrides the custom size.
    screen.setPixelSize(pix3x3);
    QCOMPARE(screen.PixelWidth(), 3);
    QCOMPARE(screen.PixelHeight(), 3);
}

void TestLcdScreen::markupEffectHonouredOnlyWhenEnabled_data() {
    QTest::addColumn<QString>("open");
    QTest::addColumn<QString>("close");
    QTest::addColumn<TSpecialEffect>("effect");
    QTest::newRow("underline") << "<u>"
                               << "</u>" << spUnderline;
    QTest::newRow("strike-through") << "<s>"
                                    << "</s>" << spStrike;
    QTest::newRow("bold") << "<b>"
                          << "</b>" << spBold;
    QTest::newRow("italic") << "<i>"
                            << "</i>" << spItalic;
    QTest::newRow("inverse") << "<inv>"
                             << "</inv>" << spInverse;
}

void TestLcdScreen::markupEffectHonouredOnlyWhenEnabled() {
    QFETCH(QString, open);
    QFETCH(QString, close);
    QFETCH(TSpecialEffect, effect);

    TLCDScreen plain;
    plain.setFont(testFont(12));
    plain.setLines({QStringLiteral("Abc")});
    TLCDScreen marked;
    marked.setFont(testFont(12));
    marked.setLines({open + QStringLiteral("Ab") + close + QStringLiteral("c")});

    // Every other effect is on: only the matching one may change this text.
    marked.setSpecialEffects(TSpecialEffects(0x3F) & ~TSpecialEffects(effect));
    QVERIFY(marked.TextImage() == plain.TextImage());
    marked.setSpecialEffects(effect);
    QVERIFY(!(marked.TextImage() == plain.TextImage()));
}

void TestLcdScreen::linesAreContinuousAtEverySize() {
    // Rows lit from the first column to the last: a line drawn through the whole text.
    const auto fullRows = [](const TDotImage& image) {
        QList<int> rows;
        for (int y = 0; y < image.height(); ++y) {
            int lit = 0;
            for (int x = 0; x < image.width(); ++x)
                lit += image.isLit(x, y) ? 1 : 0;
            if (lit == image.width())
                rows.append(y);
        }
        return rows;
    };
    for (int size = 7; size <= 24; ++size) {
        const QString at = QStringLiteral("%1 px").arg(size);
        TLCDScreen screen;
        screen.setFont(testFont(size));
        screen.setSpecialEffects(spUnderline | spStrike | spBold | spItalic);
        screen.setLines({QStringLiteral("oooo")});
        const TDotImage plain = screen.TextImage();
        int top = plain.height();
        int bottom = -1;
        for (int y = 0; y < plain.height(); ++y) {
            for (int x = 0; x < plain.width(); ++x) {
                if (plain.isLit(x, y)) {
                    top = std::min(top, y);
                    bottom = std::max(bottom, y);
                }
            }
        }
        QVERIFY2(bottom > top && fullRows(plain).isEmpty(), qPrintable(at));

        // Underline below the letters, strike-through across them, both through styled cells.
        screen.setLines({QStringLiteral("<u>o<b>o<i>o</b>o")});
        QList<int> rows = fullRows(screen.TextImage());
        QVERIFY2(rows.size() == 1 && rows[0] > bottom, qPrintable(at));
        screen.setLines({QStringLiteral("<s>o<b>o<i>o</b>o")});
        rows = fullRows(screen.TextImage());
        QVERIFY2(rows.size() == 1 && rows[0] > top && rows[0] < bottom, qPrintable(at));
    }
}

void TestLcdScreen::stylesDifferFromEachOther() {
    // Each attribute gives its own rendering: none is drawn as another.
    const QStringList marked{"<u>Hl</u>", "<s>Hl</s>", "<b>Hl</b>", "<i>Hl</i>", "Hl"};
    QList<TDotImage> images;
    for (const QString& text : marked) {
        TLCDScreen screen;
        screen.setFont(testFont(14));
        screen.setSpecialEffects(TSpecialEffects(0x3F));
        screen.setLines({text});
        for (const TDotImage& other : images)
            QVERIFY2(!(other == screen.TextImage()), qPrintable(text));
        images.append(screen.TextImage());
    }
    // Italic slants: the stem of "l" stands further right at its top than at its foot.
    const auto lean = [](const QString& line) {
        TLCDScreen screen;
        screen.setFont(testFont(14));
        screen.setSpecialEffects(spItalic);
        screen.setLines({line});
        const TDotImage& image = screen.TextImage();
        const auto stem = [&](int y) {
            for (int x = 0; x < image.width(); ++x) {
                if (image.isLit(x, y))
                    return x;
            }
            return -100;
        };
        return stem(4) - stem(10);
    };
    QCOMPARE(lean(QStringLiteral("l")), 0);
    QVERIFY(lean(QStringLiteral("<i>l")) >= 1);
}

void TestLcdScreen::boldWordThenPlainText() {
    const QString line = QStringLiteral("<b>bold</b> plain");
    TLCDScreen screen;
    screen.setFont(testFont(12));
    screen.setLines({line});

    // Without spBold all is plain, and the tags are gone.
    TLCDScreen plain;
    plain.setFont(testFont(12));
    plain.setLines({QStringLiteral("bold plain")});
    QVERIFY(screen.TextImage() == plain.TextImage());

    // With it, the word is the bold rendering of "bold" followed by plain " plain".
    screen.setSpecialEffects(spBold);
    TLCDScreen boldWord;
    boldWord.setFont(testFont(12));
    boldWord.setSpecialEffects(spBold);
    boldWord.setLines({QStringLiteral("<b>bold")});
    TLCDScreen rest;
    rest.setFont(testFont(12));
    rest.setLines({QStringLiteral(" plain")});
    const TDotImage& first = boldWord.TextImage();
    const TDotImage& second = rest.TextImage();
    TDotImage expected(first.width() + second.width(), std::max(first.height(), second.height()));
    expected.copyFrom(first, 0, 0);
    expected.copyFrom(second, first.width(), 0);
    QVERIFY(!(first == TDotImage(first.width(), first.height())));
    QVERIFY(screen.TextImage() == expected);
    QVERIFY(!(screen.TextImage() == plain.TextImage()));
}

void TestLcdScreen::inverseCarriedOverLineEnd() {
    TLCDScreen carried;
    carried.setFont(testFont(12));
    carried.setSpecialEffects(spInverse);
    carried.setLines({QStringLiteral("x<inv>"), QStringLiteral("ab")});
    TLCDScreen direct;
    direct.setFont(testFont(12));
    direct.setSpecialEffects(spInverse);
    direct.setLines({QStringLiteral("x"), QStringLiteral("<inv>ab")});
    TLCDScreen plain;
    plain.setFont(testFont(12));
    plain.setLines({QStringLiteral("x"), QStringLiteral("ab")});

    QVERIFY(carried.TextImage() == direct.TextImage());
    QVERIFY(!(carried.TextImage() == plain.TextImage()));
}

void TestLcdScreen::fontChangesRerenderAndRecolour() {
    TLCDScreen screen;
    screen.setFont(testFont(10));
    screen.setLines({QStringLiteral("A")});
    const int smallHeight = screen.TextImage().height();
    screen.setFont(testFont(20));
    QVERIFY(screen.TextImage().height() > smallHeight);

    screen.setFontColor(QColor(0, 0, 255));
    // Blue: (170 - 255) * 128 / 255 = -42.7, rounded to -43, wraps to 213.
    QCOMPARE(screen.LitColour(), QColor(85, 85, 213));
    QVERIFY(litCount(shownDots(screen)) > 0);
}

void TestLcdScreen::propertiesByName_data() {
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QVariant>("written");
    QTest::addColumn<int>("read");
    // Form files and scripts set the display's settings by name, enumerations by their names.
    QTest::newRow("signed 8-bit wraps") << QByteArray("Intensity") << QVariant(200) << -56;
    QTest::newRow("cell size preset") << QByteArray("PixelSize") << QVariant("pix4x4") << 4;
    QTest::newRow("effects") << QByteArray("SpecialEffects") << QVariant("spBold|spStrike") << 34;
    QTest::newRow("more effects") << QByteArray("SpecialEffects")
                                  << QVariant("spBlink|spInverse|spItalic|spUnderline") << 29;
    QTest::newRow("border") << QByteArray("BorderStyle") << QVariant("bsRaised") << 2;
    QTest::newRow("display mode") << QByteArray("DisplayMode") << QVariant("dmBoth") << 2;
    QTest::newRow("delay") << QByteArray("AnimationDelay") << QVariant(40) << 40;
}

void TestLcdScreen::propertiesByName() {
    QFETCH(QByteArray, name);
    QFETCH(QVariant, written);
    TLCDScreen screen;
    QVERIFY(screen.setProperty(name.constData(), written));
    QTEST(screen.property(name.constData()).toInt(), "read");
}

QTEST_MAIN(TestLcdScreen)
#include "test_lcd_screen.moc"
