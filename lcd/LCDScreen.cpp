#include "LCDScreen.h"

#include "DotPainter.h"
#include "LCDMarkup.h"
#include "Messages.h"
#include "TextRenderer.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <climits>

namespace kavio::lcd {

TLCDScreen::TLCDScreen(QWidget* parent)
    : QWidget(parent) {
    setFocusPolicy(Qt::NoFocus);
    // Every paint covers the whole control from an off-screen image, so Qt need not clear it.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    // The desktop's inactive border colour, as Qt's palette offers it: the inactive window
    // background.
    m_color = palette().color(QPalette::Inactive, QPalette::Window);
    recomputeDotColours();
    // The timer starts at 250 ms; only a change of AnimationDelay sets its interval.
    m_animTimer.setInterval(250);
    connect(&m_animTimer, &QTimer::timeout, this, &TLCDScreen::AnimationTick);
    resize(145, 65);
    updateGridSize();
    resize(sizeHint());
}

TLCDScreen::~TLCDScreen() = default;

QString TLCDScreen::About() const {
    return QStringLiteral("About LCDAnimator");
}

void TLCDScreen::setAnimationDelay(quint32 delay) {
    if (!assign(m_animationDelay, delay))
        return;
    m_animTimer.setInterval(int(std::min<quint32>(delay, INT_MAX)));
}

void TLCDScreen::setAnimationEnabled(bool enabled) {
    if (!assign(m_animationEnabled, enabled))
        return;
    if (enabled)
        m_animTimer.start();
    else
        m_animTimer.stop();
}

void TLCDScreen::setBitmap(const QImage& picture) {
    m_bitmapDots = TDotImage::fromDarkPixels(picture);
    m_bitmap = m_bitmapDots.toImage();
    repaint();
}

void TLCDScreen::setBitmapCopyMode(TBitmapCopyMode mode) {
    if (assign(m_bitmapCopyMode, mode))
        changed();
}

void TLCDScreen::setBitmapAnimMode(TAnimMode mode) {
    if (assign(m_bitmapAnimMode, mode))
        changed();
}

void TLCDScreen::setBitmapXOffset(qint8 offset) {
    if (assign(m_bitmapXOffset, offset))
        changed();
}

void TLCDScreen::setBitmapYOffset(qint8 offset) {
    if (assign(m_bitmapYOffset, offset))
        changed();
}

void TLCDScreen::setBorderSpace(qint8 space) {
    if (!assign(m_borderSpace, space))
        return;
    updateGridSize();
    changed();
}

void TLCDScreen::setBorderStyle(TLCDBorder style) {
    if (assign(m_borderStyle, style))
        changed();
}

void TLCDScreen::setColor(const QColor& colour) {
    if (assign(m_color, colour))
        changed();
}

void TLCDScreen::setDisplayMode(TDisplayMode mode) {
    if (assign(m_displayMode, mode))
        changed();
}

void TLCDScreen::setFontColor(const QColor& colour) {
    if (!assign(m_fontColor, colour))
        return;
    recomputeDotColours();
    changed();
}

void TLCDScreen::setIntensity(qint8 intensity) {
    if (!assign(m_intensity, intensity))
        return;
    recomputeDotColours();
    changed();
}

void TLCDScreen::setLCDAnimator(TLCDAnimator* animator) {
    // QPointer forgets the animator by itself when it is destroyed.
    m_animator = animator;
}

void TLCDScreen::setLines(const QStringList& lines) {
    if (!assign(m_lines, lines))
        return;
    ParseLines(m_lines, m_charGrid);
    renderText();
    changed();
}

void TLCDScreen::setLinesAnimMode(TAnimMode mode) {
    if (assign(m_linesAnimMode, mode))
        changed();
}

void TLCDScreen::setLinesXOffset(qint8 offset) {
    if (assign(m_linesXOffset, offset))
        changed();
}

void TLCDScreen::setLinesYOffset(qint8 offset) {
    if (assign(m_linesYOffset, offset))
        changed();
}

bool TLCDScreen::acceptCellSize(qint8 value) const {
    if (m_pixelSize != pixCustom)
        return false;
    if (value < 1) {
        Messages::show(MessageKind::Information, QCoreApplication::applicationName(),
                       QStringLiteral("Value must be between 1 and 255."));
        return false;
    }
    return true;
}

void TLCDScreen::setPixelHeight(qint8 height) {
    if (height == m_pixelHeight || !acceptCellSize(height))
        return;
    m_pixelHeight = height;
    updateGridSize();
    changed();
}

void TLCDScreen::setPixelWidth(qint8 width) {
    if (width == m_pixelWidth || !acceptCellSize(width))
        return;
    m_pixelWidth = width;
    updateGridSize();
    changed();
}

void TLCDScreen::setPixelOff(const QColor& colour) {
    if (!assign(m_pixelOff, colour))
        return;
    recomputeDotColours();
    changed();
}

void TLCDScreen::setPixelShape(TPixelShape shape) {
    if (assign(m_pixelShape, shape))
        changed();
}

void TLCDScreen::setPixelSize(TPixelSize size) {
    if (!assign(m_pixelSize, size))
        return;
    updateGridSize();
    changed();
}

void TLCDScreen::setPixelSpacing(qint8 spacing) {
    if (!assign(m_pixelSpacing, spacing))
        return;
    updateGridSize();
    changed();
}

void TLCDScreen::setSpecialEffects(TSpecialEffects effects) {
    if (!assign(m_specialEffects, effects))
        return;
    renderText();
    changed();
}

QSize TLCDScreen::sizeHint() const {
    const TCellLayout layout = cellLayout();
    return SnappedControlSize(GridSizeFor(size(), layout), layout);
}

void TLCDScreen::changed() {
    if (!m_animationEnabled)
        repaint();
}

void TLCDScreen::renderText() {
    m_textImage =
        RenderTextImage(m_charGrid, int(m_lines.size()), font(), m_specialEffects, m_blinkPhase);
}

void TLCDScreen::recomputeDotColours() {
    m_dotColours = ComputeDotColours(m_pixelOff, m_fontColor, m_intensity);
}

quint16 TLCDScreen::Columns() const {
    return quint16(GridSizeFor(size(), cellLayout()).columns);
}

quint16 TLCDScreen::Rows() const {
    return quint16(GridSizeFor(size(), cellLayout()).rows);
}

TCellLayout TLCDScreen::cellLayout() const {
    return {m_pixelWidth, m_pixelHeight, m_pixelSpacing, m_borderSpace};
}

void TLCDScreen::updateGridSize() {
    if (m_pixelSize != pixCustom) {
        m_pixelWidth = qint8(m_pixelSize);
        m_pixelHeight = qint8(m_pixelSize);
    }
    updateGeometry();
}

TComposition TLCDScreen::composition() const {
    TComposition c;
    c.displayMode = m_displayMode;
    c.bitmapCopyMode = m_bitmapCopyMode;
    c.text = &m_textImage;
    c.bitmap = &m_bitmapDots;
    c.linesXOffset = m_linesXOffset;
    c.linesYOffset = m_linesYOffset;
    c.linesAnimMode = m_linesAnimMode;
    c.bitmapXOffset = m_bitmapXOffset;
    c.bitmapYOffset = m_bitmapYOffset;
    c.bitmapAnimMode = m_bitmapAnimMode;
    const TGridSize grid = GridSizeFor(size(), cellLayout());
    c.columns = grid.columns;
    c.rows = grid.rows;
    return c;
}

QImage TLCDScreen::renderFrame() {
    const TCellLayout layout = cellLayout();
    TDotImage dots;
    if (Enabled()) {
        const TComposition c = composition();
        WrapScroll(c, m_scroll);
        dots = ComposeDots(c, m_scroll);
    }

    TFrameStyle style;
    style.size = size();
    style.borderStyle = m_borderStyle;
    style.background = m_color;
    style.highlight = palette().color(QPalette::Light);
    style.shadow = palette().color(QPalette::Dark);
    style.enabled = Enabled();
    style.layout = layout;
    style.pixelShape = m_pixelShape;
    style.colours = m_dotColours;
    return PaintFrame(style, dots);
}

void TLCDScreen::paintEvent(QPaintEvent*) {
    // Composed off-screen and copied in one operation, so frequent updates do not flicker.
    const QImage frame = renderFrame();
    QPainter painter(this);
    painter.drawImage(0, 0, frame);
}

void TLCDScreen::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // The hint follows the size; the size itself is the caller's or the layout's.
    updateGeometry();
}

void TLCDScreen::changeEvent(QEvent* event) {
    // The widget's own handling of these changes would schedule a second paint after the one
    // made here, so it is left out.
    switch (event->type()) {
    case QEvent::FontChange:
        recomputeDotColours();
        renderText();
        changed();
        return;
    case QEvent::EnabledChange:
        // A parent's change reaches the display too, but only its own setting shows.
        if (assign(m_shownEnabled, Enabled()))
            changed();
        return;
    case QEvent::PaletteChange:
        changed();
        return;
    default:
        QWidget::changeEvent(event);
        return;
    }
}

void TLCDScreen::mousePressEvent(QMouseEvent* event) {
    m_pressed = event->button() == Qt::LeftButton;
    QWidget::mousePressEvent(event);
}

void TLCDScreen::mouseReleaseEvent(QMouseEvent* event) {
    const bool click = m_pressed && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint());
    m_pressed = false;
    QWidget::mouseReleaseEvent(event);
    if (click)
        emit clicked();
}

void TLCDScreen::mouseDoubleClickEvent(QMouseEvent* event) {
    QWidget::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton)
        emit doubleClicked();
}

} // namespace kavio::lcd
