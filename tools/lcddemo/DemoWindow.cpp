#include "DemoWindow.h"

#include "LCDAnimator.h"
#include "LCDScreen.h"

#include <QFormLayout>
#include <QLabel>
#include <QPainter>
#include <QTime>
#include <QTimer>

#include <algorithm>

using namespace kavio::lcd;

namespace {

QFont dotFont(int pixelSize, bool bold = false) {
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

// A power symbol, dark on white: dark pixels become lit dots.
QImage powerSymbol() {
    QImage picture(15, 15, QImage::Format_RGB32);
    picture.fill(Qt::white);
    QPainter painter(&picture);
    painter.setPen(QPen(Qt::black, 2));
    painter.drawArc(QRectF(2, 3, 11, 11), 120 * 16, 300 * 16);
    painter.drawLine(QPointF(7.5, 1), QPointF(7.5, 8));
    return picture;
}

} // namespace

DemoWindow::DemoWindow(QWidget* parent)
    : QWidget(parent) {
    setWindowTitle(QStringLiteral("LCD display demo"));
    auto* layout = new QFormLayout(this);
    layout->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    layout->setHorizontalSpacing(16);
    layout->setVerticalSpacing(12);

    // The timer runner's clock: red dots on maroon with black gaps.
    m_clock = new TLCDScreen(this);
    m_clock->resize(221, 53);
    m_clock->setPixelSize(pix2x2);
    m_clock->setPixelSpacing(1);
    m_clock->setBorderSpace(3);
    // The largest digits whose eight characters fit the 72 columns; their lit dots are
    // centred in the 16 rows (the font's empty rows above and below are left off).
    m_clock->setFont(dotFont(15));
    m_clock->setFontColor(QColor(255, 0, 0));
    m_clock->setPixelOff(QColor(128, 0, 0));
    m_clock->setColor(Qt::black);
    showTime();
    auto* clockTimer = new QTimer(this);
    connect(clockTimer, &QTimer::timeout, this, &DemoWindow::showTime);
    clockTimer->start(1000);
    layout->addRow(QStringLiteral("Runner's clock"), m_clock);

    // Markup: every effect honoured, on a green panel.
    auto* markup = m_markup = new TLCDScreen(this);
    markup->resize(511, 131);
    markup->setFont(dotFont(11));
    markup->setFontColor(QColor(10, 30, 10));
    markup->setPixelOff(QColor(150, 180, 90));
    markup->setColor(QColor(125, 155, 70));
    markup->setSpecialEffects(spBold | spItalic | spUnderline | spStrike | spInverse | spBlink);
    markup->setLines({QStringLiteral("<b>Bold</b> then plain text"),
                      QStringLiteral("<u>under</u> <s>struck</s> <i>italic</i>"),
                      QStringLiteral("<inv> Inverse </inv> and <bl>blinking</bl>")});
    markup->setLinesXOffset(2);
    markup->setLinesYOffset(1);
    auto* blinker = new TLCDAnimator(markup);
    markup->setLCDAnimator(blinker);
    markup->setAnimationDelay(500);
    markup->setAnimationRepeating(true);
    markup->setAnimationEnabled(true);
    layout->addRow(QStringLiteral("Markup and blinking"), markup);

    // A scrolling script with round dots, repeating for ever.
    m_scroller = new TLCDScreen(this);
    m_scroller->setPixelSize(pix3x3);
    m_scroller->setPixelShape(psRound);
    m_scroller->setFont(dotFont(11));
    // Chosen so that the mixed colour wraps to a bright cyan (130, 220, 255) on dark blue.
    m_scroller->setFontColor(QColor(251, 97, 47));
    m_scroller->setPixelOff(QColor(0, 25, 45));
    m_scroller->setColor(QColor(0, 8, 16));
    m_scroller->setBorderStyle(bsRaised);
    m_scroller->setLines({QStringLiteral("Kavio Control Center - all units ON")});
    m_scroller->setLinesYOffset(1);
    // Tall enough for the whole text with a row of dots above and below it, so that the
    // descending parts of the glyphs are never cut off.
    const int rows = m_scroller->TextImage().height() + 2;
    m_scroller->resize(361, rows * 3 + (rows - 1) + 2 * m_scroller->BorderSpace());
    auto* script = new TLCDAnimator(m_scroller);
    script->setCode({QStringLiteral("[horzscroll(-1);]")});
    m_scroller->setLCDAnimator(script);
    m_scroller->setAnimationDelay(60);
    m_scroller->setAnimationRepeating(true);
    m_scroller->setAnimationEnabled(true);
    layout->addRow(QStringLiteral("Scrolling script"), m_scroller);

    // A picture laid over text, only their lit dots combined.
    auto* both = new TLCDScreen(this);
    both->resize(221, 53);
    both->setFont(dotFont(12));
    both->setFontColor(QColor(255, 170, 0));
    both->setPixelOff(QColor(60, 40, 0));
    both->setColor(QColor(25, 15, 0));
    both->setDisplayMode(dmBoth);
    both->setBitmapCopyMode(cmTransparent);
    both->setBitmap(powerSymbol());
    both->setBitmapXOffset(2);
    both->setBitmapYOffset(0);
    both->setLines({QStringLiteral("Rack 7")});
    both->setLinesXOffset(22);
    both->setLinesYOffset(1);
    layout->addRow(QStringLiteral("Picture over text"), both);
}

void DemoWindow::showTime() {
    m_clock->setLines({QTime::currentTime().toString(QStringLiteral("HH:mm:ss"))});
    // The lit dots centred in the grid; they are known once the text has been rendered.
    const TDotImage& text = m_clock->TextImage();
    int top = text.height();
    int bottom = -1;
    for (int y = 0; y < text.height(); ++y) {
        for (int x = 0; x < text.width(); ++x) {
            if (text.isLit(x, y)) {
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    m_clock->setLinesXOffset(qint8((m_clock->Columns() - text.width()) / 2));
    if (bottom >= top)
        m_clock->setLinesYOffset(qint8((m_clock->Rows() - (bottom - top + 1)) / 2 - top));
}

void DemoWindow::prepareStill(int ticks) {
    for (int i = 0; i < ticks; ++i)
        m_scroller->AnimationTick();
    if (!m_markup->BlinkPhase())
        m_markup->AnimationTick();
}
