// The animation script run by the display's timer tick. Ticks are driven directly; the timer
// itself is only checked for being switched on and off.

#include "LCDAnimator.h"
#include "LCDScreen.h"
#include "LcdTestSupport.h"

#include <QSignalSpy>
#include <QtTest>

using namespace kavio::lcd;
using namespace kavio::lcd::test;

namespace {

// A display with a short text and an animator attached, ready to tick.
struct AnimatedDisplay {
    TLCDScreen screen;
    TLCDAnimator* animator = new TLCDAnimator(&screen);
    QSignalSpy executed{animator, &TLCDAnimator::OnLineExecuted};
    QSignalSpy ended{animator, &TLCDAnimator::OnEndCode};

    explicit AnimatedDisplay(const QStringList& code, const QStringList& lines = {"AB"}) {
        screen.setFont(testFont(10));
        screen.setLines(lines);
        animator->setCode(code);
        screen.setLCDAnimator(animator);
    }

    QList<int> executedLines() const {
        QList<int> lines;
        for (const QList<QVariant>& call : executed)
            lines.append(call.at(1).toInt());
        return lines;
    }
};

// The dots the text should light when its top-left corner stands at column x.
TDotImage textAt(const TLCDScreen& screen, int x) {
    TDotImage dots(screen.Columns(), screen.Rows());
    dots.copyFrom(screen.TextImage(), x, 0);
    return dots;
}

} // namespace

class TestLcdAnimator : public QObject {
    Q_OBJECT

private slots:
    void repeatingScrollMovesLeftAndReentersRight();
    void endOfScriptWithoutRepeat();
    void gotoLine_data();
    void gotoLine();
    void commands_data();
    void commands();
    void resetDisplayRestoresScrollAndText();
    void blinkingWithEmptyScript();
    void badArgumentLeavesLineInPlace();
    void staticContentStaysAtItsOffsets_data();
    void staticContentStaysAtItsOffsets();
    void currentLineWrite_data();
    void currentLineWrite();
    void lineOutsideScriptEndsIt();
    void destroyingAnimatorClearsReference();
    void animationEnabledRunsTheTimer();
    void largeStepIsWrappedOncePerPaint();
    void noPaintWhileAnimatingUntilTheTick();
    void scriptChangedByLineHandlerIsCountedAgain();
};

void TestLcdAnimator::repeatingScrollMovesLeftAndReentersRight() {
    AnimatedDisplay d({"[horzscroll(-1);]", "<horzscroll(-1);>"});
    d.screen.setAnimationRepeating(true);
    d.screen.setAnimationDelay(1000000);
    d.screen.setAnimationEnabled(true);
    const int textWidth = d.screen.TextImage().width();
    const int columns = d.screen.Columns();
    QVERIFY(textWidth > 2 && textWidth < columns);
    QVERIFY(shownDots(d.screen) == textAt(d.screen, 0));

    for (int tick = 1; tick <= textWidth; ++tick) {
        d.screen.AnimationTick();
        QCOMPARE(d.screen.ScrollX(), -tick);
        QCOMPARE(d.animator->CurrentLine(), tick % 2);
        QVERIFY2(shownDots(d.screen) == textAt(d.screen, -tick), qPrintable(QString::number(tick)));
    }
    QCOMPARE(litCount(shownDots(d.screen)), 0);

    // One more dot and the text has scrolled completely past the left edge: it re-enters at the
    // right, its first column in the last column of the grid.
    d.screen.AnimationTick();
    QCOMPARE(d.screen.ScrollX(), columns - 1);
    QVERIFY(shownDots(d.screen) == textAt(d.screen, columns - 1));
    d.screen.AnimationTick();
    QVERIFY(shownDots(d.screen) == textAt(d.screen, columns - 2));

    QVERIFY(d.screen.AnimationEnabled());
    QCOMPARE(d.ended.count(), (textWidth + 2) / 2);
}

void TestLcdAnimator::endOfScriptWithoutRepeat() {
    AnimatedDisplay d({"[horzscroll(1);]", "[horzscroll(1);]"});
    d.screen.setAnimationEnabled(true);

    d.screen.AnimationTick();
    QCOMPARE(d.animator->CurrentLine(), 1);
    QCOMPARE(d.ended.count(), 0);
    QVERIFY(d.screen.AnimationEnabled());

    d.screen.AnimationTick();
    QCOMPARE(d.ended.count(), 1);
    QCOMPARE(d.ended.at(0).at(0).value<TLCDAnimator*>(), d.animator);
    QVERIFY(!d.screen.AnimationEnabled());
    QVERIFY(!d.screen.AnimTimer()->isActive());
    QCOMPARE(d.animator->CurrentLine(), 0);
    QCOMPARE(d.executedLines(), (QList<int>{0, 1}));
    QCOMPARE(d.screen.ScrollX(), 2);
}

void TestLcdAnimator::gotoLine_data() {
    QTest::addColumn<QStringList>("code");
    QTest::addColumn<int>("ticks");
    QTest::addColumn<QList<int>>("executed");
    QTest::addColumn<int>("scrollX");
    QTest::addColumn<int>("endings");

    // Lines after the first scroll by 1, 2, 4, ... so the total tells which lines ran.
    QTest::newRow("skips to the line after the target")
        << QStringList{"[gotoline(2);]", "[horzscroll(1);]", "[horzscroll(2);]", "[horzscroll(4);]"}
        << 2 << QList<int>{2, 3} << 4 << 1;
    QTest::newRow("to the last line ends the script at once")
        << QStringList{"[gotoline(2);]", "[horzscroll(1);]", "[horzscroll(2);]"} << 1
        << QList<int>{2} << 0 << 1;
    QTest::newRow("beyond the script: the last line runs next")
        << QStringList{"[gotoline(9);]", "[horzscroll(1);]", "[horzscroll(2);]"} << 2
        << QList<int>{3, 2} << 2 << 1;
    QTest::newRow("back to the start loops") << QStringList{"[horzscroll(1);]", "[gotoline(-1);]"}
                                             << 4 << QList<int>{0, 65535, 0, 65535} << 2 << 0;
}

void TestLcdAnimator::gotoLine() {
    QFETCH(QStringList, code);
    QFETCH(int, ticks);

    AnimatedDisplay d(code);
    d.screen.setAnimationRepeating(true);
    for (int i = 0; i < ticks; ++i)
        d.screen.AnimationTick();
    QTEST(d.executedLines(), "executed");
    QTEST(int(d.screen.ScrollX()), "scrollX");
    QTEST(int(d.ended.count()), "endings");
}

void TestLcdAnimator::commands_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("scrollX");
    QTest::addColumn<int>("scrollY");
    QTest::addColumn<int>("intensity");
    QTest::addColumn<int>("delay");

    QTest::newRow("horzscroll") << "[horzscroll(3);]" << 3 << 0 << 127 << 251;
    QTest::newRow("horzscroll takes the low 8 bits")
        << "[horzscroll(255);]" << -1 << 0 << 127 << 251;
    QTest::newRow("vertscroll") << "[vertscroll(-2);]" << 0 << -2 << 127 << 251;
    QTest::newRow("vertscroll takes the low 8 bits")
        << "[vertscroll(510);]" << 0 << -2 << 127 << 251;
    QTest::newRow("setintensity") << "[setintensity(-100);]" << 0 << 0 << -100 << 251;
    QTest::newRow("setintensity takes the low 8 bits")
        << "[setintensity(200);]" << 0 << 0 << -56 << 251;
    QTest::newRow("animationdelay") << "[animationdelay(100);]" << 0 << 0 << 127 << 100;
    QTest::newRow("several, in order")
        << "[HORZSCROLL(1); horzscroll(1); vertscroll(1);]" << 2 << 1 << 127 << 251;
    QTest::newRow("unknown names are ignored") << "[blink(5);]" << 0 << 0 << 127 << 251;
}

void TestLcdAnimator::commands() {
    QFETCH(QString, line);
    AnimatedDisplay d({line, "[]"}, {"AB", "CD"});
    d.screen.AnimationTick();
    QTEST(int(d.screen.ScrollX()), "scrollX");
    QTEST(int(d.screen.ScrollY()), "scrollY");
    QTEST(int(d.screen.Intensity()), "intensity");
    QTEST(int(d.screen.AnimationDelay()), "delay");
    QFETCH(int, delay);
    QCOMPARE(d.screen.AnimTimer()->interval(), delay == 251 ? 250 : delay);
    QCOMPARE(d.executedLines(), QList<int>{0});
}

void TestLcdAnimator::resetDisplayRestoresScrollAndText() {
    AnimatedDisplay d({"[horzscroll(5); vertscroll(1);]", "[resetdisplay(0);]"});
    const TDotImage atRest = shownDots(d.screen);
    d.screen.AnimationTick();
    QCOMPARE(d.screen.ScrollX(), 5);
    QVERIFY(!(shownDots(d.screen) == atRest));
    d.screen.AnimationTick();
    QCOMPARE(d.screen.ScrollX(), 0);
    QCOMPARE(d.screen.ScrollY(), 0);
    QVERIFY(shownDots(d.screen) == atRest);
}

void TestLcdAnimator::blinkingWithEmptyScript() {
    AnimatedDisplay d({}, {"<bl>A</bl>B"});
    d.screen.setSpecialEffects(spBlink);
    const TDotImage normal = d.screen.TextImage();

    // The blinking letter is drawn as an inverse one would be.
    TLCDScreen inverted;
    inverted.setFont(testFont(10));
    inverted.setSpecialEffects(spInverse);
    inverted.setLines({"<inv>A</inv>B"});
    QVERIFY(!(normal == inverted.TextImage()));

    d.screen.AnimationTick();
    QVERIFY(d.screen.BlinkPhase());
    QVERIFY(d.screen.TextImage() == inverted.TextImage());
    QVERIFY(shownDots(d.screen) == textAt(d.screen, 0));
    d.screen.AnimationTick();
    QVERIFY(!d.screen.BlinkPhase());
    QVERIFY(d.screen.TextImage() == normal);

    QCOMPARE(d.executedLines(), (QList<int>{0, 0}));
    QCOMPARE(d.ended.count(), 0);
    QCOMPARE(d.animator->CurrentLine(), 0);

    // Without spBlink the phase still flips but the text does not change.
    d.screen.setSpecialEffects({});
    const TDotImage steady = d.screen.TextImage();
    d.screen.AnimationTick();
    QVERIFY(d.screen.BlinkPhase());
    QVERIFY(d.screen.TextImage() == steady);
}

namespace {

struct LoggedMessage {
    QtMsgType type;
    QByteArray category;
    QString text;
};
QList<LoggedMessage> logged;

void recordMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    logged.append({type, QByteArray(context.category), text});
}

} // namespace

void TestLcdAnimator::badArgumentLeavesLineInPlace() {
    AnimatedDisplay d({"[horzscroll(1);]", "[horzscroll(2); vertscroll(x);]", "[]"});
    d.screen.AnimationTick();
    QCOMPARE(d.animator->CurrentLine(), 1);
    const bool phase = d.screen.BlinkPhase();

    // The display shows nothing of the fault; the log tells it once, not at every retry.
    logged.clear();
    const QtMessageHandler previous = qInstallMessageHandler(recordMessage);
    for (int i = 0; i < 3; ++i)
        d.screen.AnimationTick();
    qInstallMessageHandler(previous);
    QCOMPARE(logged.size(), 1);
    QCOMPARE(logged[0].type, QtWarningMsg);
    QCOMPARE(logged[0].category, QByteArray("kavio.lcd.script"));
    QVERIFY2(logged[0].text.contains(QStringLiteral("line 1")) &&
                 logged[0].text.contains(QStringLiteral("vertscroll(x)")),
             qPrintable(logged[0].text));

    for (int i = 0; i < 3; ++i) {
        d.screen.AnimationTick();
        QCOMPARE(d.animator->CurrentLine(), 1);
        QCOMPARE(d.screen.ScrollX(), 1);
        QCOMPARE(d.screen.ScrollY(), 0);
        QCOMPARE(d.screen.BlinkPhase(), phase);
    }
    QCOMPARE(d.executedLines(), QList<int>{0});

    // Once the line is fixed the script goes on from it.
    d.animator->setCode({"[horzscroll(1);]", "[horzscroll(2);]", "[]"});
    d.screen.AnimationTick();
    QCOMPARE(d.screen.ScrollX(), 3);
    QCOMPARE(d.animator->CurrentLine(), 2);
}

void TestLcdAnimator::staticContentStaysAtItsOffsets_data() {
    QTest::addColumn<TDisplayMode>("mode");
    QTest::addColumn<TAnimMode>("animMode");
    QTest::addColumn<QPoint>("at");
    // The script moves the content by (3, 2) from its offsets (4, 1).
    QTest::newRow("text, dynamic") << dmText << amDynamic << QPoint(7, 3);
    QTest::newRow("text, static") << dmText << amStatic << QPoint(4, 1);
    QTest::newRow("picture, dynamic") << dmBitmap << amDynamic << QPoint(7, 3);
    QTest::newRow("picture, static") << dmBitmap << amStatic << QPoint(4, 1);
}

void TestLcdAnimator::staticContentStaysAtItsOffsets() {
    QFETCH(TDisplayMode, mode);
    QFETCH(TAnimMode, animMode);
    QFETCH(QPoint, at);

    AnimatedDisplay d({"[horzscroll(3); vertscroll(2);]"});
    const QImage picture = pictureOf({QStringLiteral("##."), QStringLiteral(".##")});
    d.screen.setBitmap(picture);
    d.screen.setDisplayMode(mode);
    d.screen.setLinesXOffset(4);
    d.screen.setLinesYOffset(1);
    d.screen.setBitmapXOffset(4);
    d.screen.setBitmapYOffset(1);
    // The other kind of content moves whatever its own setting says.
    d.screen.setLinesAnimMode(mode == dmText ? animMode : amStatic);
    d.screen.setBitmapAnimMode(mode == dmBitmap ? animMode : amStatic);
    d.screen.AnimationTick();
    QCOMPARE(d.screen.ScrollX(), 3);
    QCOMPARE(d.screen.ScrollY(), 2);

    TDotImage expected(d.screen.Columns(), d.screen.Rows());
    expected.copyFrom(mode == dmText ? d.screen.TextImage() : TDotImage::fromDarkPixels(picture),
                      at.x(), at.y());
    QVERIFY(litCount(expected) > 0);
    QVERIFY(shownDots(d.screen) == expected);
}

void TestLcdAnimator::currentLineWrite_data() {
    QTest::addColumn<int>("lines");
    QTest::addColumn<int>("written");
    QTest::addColumn<int>("stored");
    QTest::newRow("within") << 3 << 2 << 2;
    QTest::newRow("the number of lines is kept") << 3 << 3 << 3;
    QTest::newRow("beyond goes to the last line") << 3 << 7 << 2;
    QTest::newRow("beyond an empty script") << 0 << 5 << 0;
    QTest::newRow("negative is kept") << 3 << -4 << -4;
}

void TestLcdAnimator::currentLineWrite() {
    QFETCH(int, lines);
    QFETCH(int, written);
    TLCDAnimator animator;
    QCOMPARE(animator.CurrentLine(), 0);
    QVERIFY(!animator.CodeErrorFound());
    animator.setCode(QStringList(lines, QStringLiteral("[]")));
    animator.setCurrentLine(qint16(written));
    QTEST(int(animator.CurrentLine()), "stored");
}

void TestLcdAnimator::lineOutsideScriptEndsIt() {
    AnimatedDisplay d({"[horzscroll(1);]", "[horzscroll(2);]"});
    d.screen.setAnimationEnabled(true);
    d.animator->setCurrentLine(2);
    d.screen.AnimationTick();
    QCOMPARE(d.screen.ScrollX(), 0);
    QCOMPARE(d.ended.count(), 1);
    QCOMPARE(d.animator->CurrentLine(), 0);
    QVERIFY(!d.screen.AnimationEnabled());

    d.animator->setCurrentLine(-3);
    d.screen.AnimationTick();
    QCOMPARE(d.ended.count(), 2);
    QCOMPARE(d.animator->CurrentLine(), 0);
    QCOMPARE(d.screen.ScrollX(), 0);
}

void TestLcdAnimator::destroyingAnimatorClearsReference() {
    AnimatedDisplay d({"[horzscroll(1);]"});
    QCOMPARE(d.screen.LCDAnimator(), d.animator);
    delete d.animator;
    QCOMPARE(d.screen.LCDAnimator(), nullptr);

    const bool phase = d.screen.BlinkPhase();
    d.screen.AnimationTick();
    QCOMPARE(d.screen.BlinkPhase(), phase);
    QCOMPARE(d.screen.ScrollX(), 0);
}

void TestLcdAnimator::animationEnabledRunsTheTimer() {
    TLCDScreen screen;
    screen.setAnimationDelay(40);
    QCOMPARE(screen.AnimTimer()->interval(), 40);
    screen.setAnimationEnabled(true);
    QVERIFY(screen.AnimTimer()->isActive());
    screen.setAnimationEnabled(false);
    QVERIFY(!screen.AnimTimer()->isActive());
}

void TestLcdAnimator::largeStepIsWrappedOncePerPaint() {
    // The wrap moves the position by one text width plus the grid at each paint, and only then;
    // a shown and a hidden display end up in the same place.
    for (const bool shown : {true, false}) {
        AnimatedDisplay d({"[horzscroll(-100);]"});
        if (shown) {
            d.screen.show();
            QVERIFY(QTest::qWaitForWindowExposed(&d.screen));
        }
        const int textWidth = d.screen.TextImage().width();
        const int columns = d.screen.Columns();
        QVERIFY(textWidth < 100 - columns);
        d.screen.AnimationTick();
        QCOMPARE(d.screen.ScrollX(), -100 + textWidth + columns);
    }
}

void TestLcdAnimator::noPaintWhileAnimatingUntilTheTick() {
    AnimatedDisplay d({"[]"});
    PaintCounter counter;
    d.screen.installEventFilter(&counter);
    d.screen.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d.screen));
    d.screen.setAnimationDelay(1000000);
    d.screen.setAnimationEnabled(true);
    QCoreApplication::processEvents();
    counter.paints = 0;

    d.screen.setFont(testFont(12));
    d.screen.setIntensity(-20);
    d.screen.setLines({"CD"});
    d.screen.setEnabled(false);
    d.screen.setEnabled(true);
    QCoreApplication::processEvents();
    QCOMPARE(counter.paints, 0);
    d.screen.AnimationTick();
    QCOMPARE(counter.paints, 1);

    // Not animating: the same change paints at once.
    d.screen.setAnimationEnabled(false);
    d.screen.setFont(testFont(10));
    QCoreApplication::processEvents();
    QCOMPARE(counter.paints, 2);
}

void TestLcdAnimator::scriptChangedByLineHandlerIsCountedAgain() {
    AnimatedDisplay d({"[horzscroll(1);]", "[horzscroll(1);]", "[horzscroll(1);]"});
    d.screen.setAnimationEnabled(true);
    connect(
        d.animator, &TLCDAnimator::OnLineExecuted, this, [&] { d.animator->setCode({"[]"}); },
        Qt::SingleShotConnection);
    d.screen.AnimationTick();
    // Line 0 is now the last line of the script: the run has ended.
    QCOMPARE(d.ended.count(), 1);
    QCOMPARE(d.animator->CurrentLine(), 0);
    QVERIFY(!d.screen.AnimationEnabled());
}

QTEST_MAIN(TestLcdAnimator)
#include "test_lcd_animator.moc"
