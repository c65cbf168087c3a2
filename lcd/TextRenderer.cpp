#include "TextRenderer.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

namespace kavio::lcd {
namespace {

// The attributes that change the typeface; index into the font cache. Underline and
// strike-through are lines drawn over the whole cell rather than font decorations: the font
// draws them as wide as the glyph's fractional advance, which leaves a gap of one dot between
// characters whose advance is rounded up.
constexpr quint8 styleBits = caBold | caItalic;

struct StyledFont {
    QFont font;
    QFontMetrics metrics;
};

// Fonts are built once per style combination: building a QFont and its metrics per character
// would dominate the rendering of a full display.
class FontCache {
public:
    FontCache(const QFont& base, QPaintDevice* device)
        : m_base(base)
        , m_device(device) {
        // Dots are either lit or not: anti-aliased glyph edges would have to be guessed.
        m_base.setStyleStrategy(QFont::NoAntialias);
    }

    const StyledFont& get(quint8 style) {
        std::optional<StyledFont>& slot = m_fonts[style & styleBits];
        if (!slot) {
            QFont font = m_base;
            font.setBold(style & caBold);
            font.setItalic(style & caItalic);
            slot.emplace(StyledFont{font, QFontMetrics(font, m_device)});
        }
        return *slot;
    }

private:
    QFont m_base;
    QPaintDevice* m_device;
    std::array<std::optional<StyledFont>, styleBits + 1> m_fonts;
};

struct Glyph {
    QChar ch;
    quint8 style;
    bool inverted;
    int x;
    int width;
    int height;
};

// The typeface bits that the effects let through, and whether the cell shows inverted.
void resolveAttributes(quint8 attr, TSpecialEffects effects, bool blinkPhase, quint8& style,
                       bool& inverted) {
    style = 0;
    inverted = false;
    if (attr == 0)
        return;
    if ((attr & caUnderline) && effects.testFlag(spUnderline))
        style |= caUnderline;
    if ((attr & caStrike) && effects.testFlag(spStrike))
        style |= caStrike;
    if ((attr & caBold) && effects.testFlag(spBold))
        style |= caBold;
    if ((attr & caItalic) && effects.testFlag(spItalic))
        style |= caItalic;
    inverted = ((attr & caBlink) && effects.testFlag(spBlink) && blinkPhase) ||
               ((attr & caInverse) && effects.testFlag(spInverse));
}

} // namespace

TDotImage RenderTextImage(const TCharGrid& grid, int lineCount, const QFont& font,
                          TSpecialEffects effects, bool blinkPhase) {
    // A small image fixes the resolution that fonts are measured and drawn at.
    QImage reference(1, 1, QImage::Format_RGB32);
    FontCache fonts(font, &reference);
    const int emptyLineHeight = std::abs(QFontInfo(fonts.get(0).font).pixelSize());
    // The lines sit where the plain font puts them, so they run straight through bold and
    // italic cells too.
    const QFontMetrics& plain = fonts.get(0).metrics;
    const int lineThickness = std::max(1, plain.lineWidth());
    const int underlineTop = plain.ascent() + std::max(1, plain.underlinePos());
    const int strikeTop = std::max(0, plain.ascent() - plain.strikeOutPos() - lineThickness);

    TDotImage text;
    int y = 0;
    std::vector<Glyph> glyphs;
    lineCount = std::clamp(lineCount, 0, int(TCharGrid::LineCount));
    for (int l = 0; l < lineCount; ++l) {
        glyphs.clear();
        int lineWidth = 0;
        int lineHeight = 0;
        for (int p = 1; p <= TCharGrid::LastPosition; ++p) {
            const TCharCell cell = grid.cell(l, p);
            if (cell.ch == 0)
                break;
            Glyph glyph{QChar(cell.ch), 0, false, lineWidth, 0, 0};
            resolveAttributes(cell.attr, effects, blinkPhase, glyph.style, glyph.inverted);
            const QFontMetrics& metrics = fonts.get(glyph.style).metrics;
            glyph.width = metrics.horizontalAdvance(glyph.ch);
            glyph.height = metrics.height();
            lineWidth += glyph.width;
            lineHeight = std::max(lineHeight, glyph.height);
            glyphs.push_back(glyph);
        }

        if (lineHeight == 0) {
            // An empty line still takes its place in the stack, as a band of unlit rows.
            text.growTo(text.width(), y + emptyLineHeight);
            y += emptyLineHeight;
            continue;
        }

        QImage line(std::max(lineWidth, 1), lineHeight, QImage::Format_RGB32);
        line.fill(Qt::white);
        {
            QPainter painter(&line);
            for (const Glyph& glyph : glyphs) {
                const StyledFont& styled = fonts.get(glyph.style);
                const QColor ink = glyph.inverted ? Qt::white : Qt::black;
                const QColor paper = glyph.inverted ? Qt::black : Qt::white;
                painter.fillRect(glyph.x, 0, glyph.width, glyph.height, paper);
                painter.setFont(styled.font);
                painter.setPen(ink);
                painter.drawText(glyph.x, styled.metrics.ascent(), QString(glyph.ch));
                if (glyph.style & caUnderline)
                    painter.fillRect(glyph.x, underlineTop, glyph.width, lineThickness, ink);
                if (glyph.style & caStrike)
                    painter.fillRect(glyph.x, strikeTop, glyph.width, lineThickness, ink);
            }
        }

        text.growTo(std::max(text.width(), lineWidth), y + lineHeight);
        for (int row = 0; row < lineHeight; ++row) {
            const auto* pixels = reinterpret_cast<const QRgb*>(line.constScanLine(row));
            quint8* dots = text.row(y + row);
            for (int x = 0; x < lineWidth; ++x)
                dots[x] = qGray(pixels[x]) < 128 ? 1 : 0;
        }
        y += lineHeight;
    }
    return text;
}

} // namespace kavio::lcd
