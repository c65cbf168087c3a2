#pragma once

#include "CharGrid.h"
#include "DotColours.h"
#include "DotComposer.h"
#include "DotImage.h"
#include "GridGeometry.h"
#include "LCDAnimator.h"
#include "LCDTypes.h"

#include <QColor>
#include <QImage>
#include <QPointer>
#include <QStringList>
#include <QTimer>
#include <QWidget>

namespace kavio::lcd {

struct TScriptCommand;

// A display control that imitates a dot-matrix LCD panel. Text lines (with markup, see
// LCDMarkup.h) and/or a monochrome picture are rendered one pixel per dot, and every dot is then
// painted as an enlarged cell of configurable size, shape, spacing and colour inside an optional
// one-pixel border. An animation script (TLCDAnimator) can scroll the content and change its
// brightness and speed on a timer.
//
// Its size hint is the largest size up to its current one whose dot area holds whole cells
// only; a layout that follows the hint gets a control without partial cells. Whatever geometry
// it is given, it draws whole cells only, from the top-left corner of the dot area, and leaves
// the rest as background; it never resizes itself once created.
//
// Settings with the widget's usual meaning, also reachable under their capitalised names:
// `Enabled` is the control's own setting (a display switched off shows only its background and
// border; a disabled parent does not switch it off, as it only stops the clicks);
// `Font` is QWidget::font (face and size of the text; its style is ignored because the markup
// decides, and its colour, which QFont lacks, is `FontColor`); `Visible` is the widget's own;
// clicks are reported by clicked() and doubleClicked().
class TLCDScreen : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString About READ About WRITE setAbout STORED false)
    Q_PROPERTY(quint32 AnimationDelay READ AnimationDelay WRITE setAnimationDelay)
    Q_PROPERTY(bool AnimationEnabled READ AnimationEnabled WRITE setAnimationEnabled)
    Q_PROPERTY(bool AnimationRepeating READ AnimationRepeating WRITE setAnimationRepeating)
    Q_PROPERTY(QImage Bitmap READ Bitmap WRITE setBitmap)
    Q_PROPERTY(TBitmapCopyMode BitmapCopyMode READ BitmapCopyMode WRITE setBitmapCopyMode)
    Q_PROPERTY(TAnimMode BitmapAnimMode READ BitmapAnimMode WRITE setBitmapAnimMode)
    Q_PROPERTY(qint8 BitmapXOffset READ BitmapXOffset WRITE setBitmapXOffset)
    Q_PROPERTY(qint8 BitmapYOffset READ BitmapYOffset WRITE setBitmapYOffset)
    Q_PROPERTY(qint8 BorderSpace READ BorderSpace WRITE setBorderSpace)
    Q_PROPERTY(TLCDBorder BorderStyle READ BorderStyle WRITE setBorderStyle)
    Q_PROPERTY(QColor Color READ Color WRITE setColor)
    Q_PROPERTY(TDisplayMode DisplayMode READ DisplayMode WRITE setDisplayMode)
    Q_PROPERTY(bool Enabled READ Enabled WRITE setEnabled)
    Q_PROPERTY(QFont Font READ font WRITE setFont)
    Q_PROPERTY(QColor FontColor READ FontColor WRITE setFontColor)
    Q_PROPERTY(qint8 Intensity READ Intensity WRITE setIntensity)
    Q_PROPERTY(kavio::lcd::TLCDAnimator* LCDAnimator READ LCDAnimator WRITE setLCDAnimator)
    Q_PROPERTY(QStringList Lines READ Lines WRITE setLines)
    Q_PROPERTY(TAnimMode LinesAnimMode READ LinesAnimMode WRITE setLinesAnimMode)
    Q_PROPERTY(qint8 LinesXOffset READ LinesXOffset WRITE setLinesXOffset)
    Q_PROPERTY(qint8 LinesYOffset READ LinesYOffset WRITE setLinesYOffset)
    Q_PROPERTY(qint8 PixelHeight READ PixelHeight WRITE setPixelHeight)
    Q_PROPERTY(qint8 PixelWidth READ PixelWidth WRITE setPixelWidth)
    Q_PROPERTY(QColor PixelOff READ PixelOff WRITE setPixelOff)
    Q_PROPERTY(TPixelShape PixelShape READ PixelShape WRITE setPixelShape)
    Q_PROPERTY(TPixelSize PixelSize READ PixelSize WRITE setPixelSize)
    Q_PROPERTY(qint8 PixelSpacing READ PixelSpacing WRITE setPixelSpacing)
    Q_PROPERTY(TSpecialEffects SpecialEffects READ SpecialEffects WRITE setSpecialEffects)
    Q_PROPERTY(bool Visible READ isVisible WRITE setVisible)

public:
    explicit TLCDScreen(QWidget* parent = nullptr);
    ~TLCDScreen() override;

    QString About() const;
    void setAbout(const QString&) {}

    // Interval of the animation timer in milliseconds.
    quint32 AnimationDelay() const { return m_animationDelay; }
    void setAnimationDelay(quint32 delay);
    // Runs the animation timer. While it runs, property changes wait for the next tick to show.
    bool AnimationEnabled() const { return m_animationEnabled; }
    void setAnimationEnabled(bool enabled);
    // Whether the script starts again after its last line instead of stopping.
    bool AnimationRepeating() const { return m_animationRepeating; }
    void setAnimationRepeating(bool repeating) { m_animationRepeating = repeating; }

    // The picture shown in dmBitmap and dmBoth: a monochrome copy of what was assigned, dark
    // pixels lit. Assigning repaints at once, even while animating.
    QImage Bitmap() const { return m_bitmap; }
    void setBitmap(const QImage& picture);
    TBitmapCopyMode BitmapCopyMode() const { return m_bitmapCopyMode; }
    void setBitmapCopyMode(TBitmapCopyMode mode);
    TAnimMode BitmapAnimMode() const { return m_bitmapAnimMode; }
    void setBitmapAnimMode(TAnimMode mode);
    qint8 BitmapXOffset() const { return m_bitmapXOffset; }
    void setBitmapXOffset(qint8 offset);
    qint8 BitmapYOffset() const { return m_bitmapYOffset; }
    void setBitmapYOffset(qint8 offset);

    // Margin in pixels between the control's edge and the dot area; the border lies inside it.
    qint8 BorderSpace() const { return m_borderSpace; }
    void setBorderSpace(qint8 space);
    TLCDBorder BorderStyle() const { return m_borderStyle; }
    void setBorderStyle(TLCDBorder style);
    // Background: the margin and the gaps between dots.
    QColor Color() const { return m_color; }
    void setColor(const QColor& colour);
    TDisplayMode DisplayMode() const { return m_displayMode; }
    void setDisplayMode(TDisplayMode mode);

    // The colour of the text, which sets the colour of lit dots through Intensity.
    QColor FontColor() const { return m_fontColor; }
    void setFontColor(const QColor& colour);
    // Brightness of lit dots; a negative value swaps lit and unlit colours.
    qint8 Intensity() const { return m_intensity; }
    void setIntensity(qint8 intensity);

    TLCDAnimator* LCDAnimator() const { return m_animator.data(); }
    void setLCDAnimator(TLCDAnimator* animator);

    // The control's own enabled setting, whatever its parent's state.
    bool Enabled() const { return !testAttribute(Qt::WA_ForceDisabled); }

    // The text, one entry per display line, with markup.
    const QStringList& Lines() const { return m_lines; }
    void setLines(const QStringList& lines);
    TAnimMode LinesAnimMode() const { return m_linesAnimMode; }
    void setLinesAnimMode(TAnimMode mode);
    qint8 LinesXOffset() const { return m_linesXOffset; }
    void setLinesXOffset(qint8 offset);
    qint8 LinesYOffset() const { return m_linesYOffset; }
    void setLinesYOffset(qint8 offset);

    // The cell size; writable only with PixelSize pixCustom, otherwise the preset decides.
    qint8 PixelHeight() const { return m_pixelHeight; }
    void setPixelHeight(qint8 height);
    qint8 PixelWidth() const { return m_pixelWidth; }
    void setPixelWidth(qint8 width);
    // Colour of unlit dots.
    QColor PixelOff() const { return m_pixelOff; }
    void setPixelOff(const QColor& colour);
    TPixelShape PixelShape() const { return m_pixelShape; }
    void setPixelShape(TPixelShape shape);
    TPixelSize PixelSize() const { return m_pixelSize; }
    void setPixelSize(TPixelSize size);
    // Gap in pixels between neighbouring cells, across and down.
    qint8 PixelSpacing() const { return m_pixelSpacing; }
    void setPixelSpacing(qint8 spacing);
    // Which markup effects are honoured.
    TSpecialEffects SpecialEffects() const { return m_specialEffects; }
    void setSpecialEffects(TSpecialEffects effects);

    // State kept between paints, readable for inspection.
    qint32 ScrollX() const { return m_scroll.x; }
    qint32 ScrollY() const { return m_scroll.y; }
    // The grid follows the control's current size, also while a hidden control has not yet
    // been told of a resize.
    quint16 Columns() const;
    quint16 Rows() const;
    const TCharGrid& CharGrid() const { return m_charGrid; }
    const TDotImage& TextImage() const { return m_textImage; }
    QColor LitColour() const { return m_dotColours.lit; }
    QColor UnlitColour() const { return m_dotColours.unlit; }
    bool BlinkPhase() const { return m_blinkPhase; }
    const QTimer* AnimTimer() const { return &m_animTimer; }

    QSize sizeHint() const override;

public slots:
    // One step of the animation: runs the animator's current script line, moves to the next
    // one, flips the blink phase and repaints. Does nothing without an animator.
    void AnimationTick();

signals:
    void clicked();
    void doubleClicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    // Shows a change now, unless the animation is running: then the next tick shows it.
    void changed();
    void renderText();
    void recomputeDotColours();
    // Takes the cell size from the preset and tells the layout that the size hint has changed.
    void updateGridSize();
    TCellLayout cellLayout() const;
    TComposition composition() const;
    QImage renderFrame();
    bool acceptCellSize(qint8 value) const;
    void executeCommand(TLCDAnimator& animator, const TScriptCommand& command);

    template <typename T> bool assign(T& member, const T& value) {
        if (member == value)
            return false;
        member = value;
        return true;
    }

    quint32 m_animationDelay = 251;
    bool m_animationEnabled = false;
    bool m_animationRepeating = false;
    QImage m_bitmap;
    TDotImage m_bitmapDots;
    TBitmapCopyMode m_bitmapCopyMode = cmNotTransparent;
    TAnimMode m_bitmapAnimMode = amDynamic;
    qint8 m_bitmapXOffset = 0;
    qint8 m_bitmapYOffset = 0;
    qint8 m_borderSpace = 3;
    TLCDBorder m_borderStyle = bsLowered;
    QColor m_color;
    TDisplayMode m_displayMode = dmText;
    QColor m_fontColor = Qt::black;
    qint8 m_intensity = 127;
    QPointer<TLCDAnimator> m_animator;
    QStringList m_lines;
    TAnimMode m_linesAnimMode = amDynamic;
    qint8 m_linesXOffset = 0;
    qint8 m_linesYOffset = 0;
    qint8 m_pixelHeight = 2;
    qint8 m_pixelWidth = 2;
    QColor m_pixelOff = QColor(0xAA, 0xAA, 0xAA);
    TPixelShape m_pixelShape = psSquare;
    TPixelSize m_pixelSize = pix2x2;
    qint8 m_pixelSpacing = 1;
    TSpecialEffects m_specialEffects;

    TScroll m_scroll;
    TCharGrid m_charGrid;
    TDotImage m_textImage;
    TDotColours m_dotColours;
    bool m_blinkPhase = false;
    QTimer m_animTimer;
    bool m_pressed = false;
    // The Enabled setting the display shows, to tell its own changes from its parent's.
    bool m_shownEnabled = true;
    // The last script fault written to the log, so that a line retried at every tick is
    // reported once.
    QString m_reportedScriptFault;
};

} // namespace kavio::lcd
