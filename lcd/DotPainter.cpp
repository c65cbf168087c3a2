#include "DotPainter.h"

#include <QPainter>

#include <algorithm>
#include <cstring>

namespace kavio::lcd {
namespace {

QRgb* pixelRow(QImage& image, int y) {
    return reinterpret_cast<QRgb*>(image.scanLine(y));
}

QImage makeCell(const TCellLayout& layout, TPixelShape shape, const QColor& lit,
                const QColor& unlit) {
    QImage cell(layout.pixelWidth, layout.pixelHeight, QImage::Format_RGB32);
    cell.fill(unlit);
    if (lit == unlit)
        return cell;
    if (shape == psSquare || (layout.pixelWidth == 1 && layout.pixelHeight == 1)) {
        cell.fill(lit);
        return cell;
    }
    // The ellipse inscribed in the cell: a pixel belongs to it when at least two thirds of its
    // area lie inside, measured on a grid of samples. Deciding per pixel keeps the disc
    // symmetric, which the raster engine's aliased ellipse does not guarantee for cells of a few
    // pixels, and the area rule keeps a 3 x 3 dot from filling its corners and looking square.
    constexpr int Samples = 8;
    const double rx = layout.pixelWidth / 2.0;
    const double ry = layout.pixelHeight / 2.0;
    const QRgb litPixel = lit.rgb();
    for (int y = 0; y < layout.pixelHeight; ++y) {
        QRgb* row = pixelRow(cell, y);
        for (int x = 0; x < layout.pixelWidth; ++x) {
            int inside = 0;
            for (int sy = 0; sy < Samples; ++sy) {
                const double dy = (y + (sy + 0.5) / Samples - ry) / ry;
                for (int sx = 0; sx < Samples; ++sx) {
                    const double dx = (x + (sx + 0.5) / Samples - rx) / rx;
                    inside += dx * dx + dy * dy <= 1.0 ? 1 : 0;
                }
            }
            if (3 * inside >= 2 * Samples * Samples)
                row[x] = litPixel;
        }
    }
    return cell;
}

// A row of unlit cells at every pitch with background between them, built by doubling: each
// copy repeats everything placed so far, so a wide strip takes a handful of copies.
QImage makeStrip(int width, const TCellLayout& layout, const QImage& unlitCell,
                 const QColor& background) {
    QImage strip(width, layout.pixelHeight, QImage::Format_RGB32);
    strip.fill(background);
    const int cellWidth = std::min(layout.pixelWidth, width);
    for (int y = 0; y < layout.pixelHeight; ++y)
        std::memcpy(pixelRow(strip, y), unlitCell.constScanLine(y), cellWidth * sizeof(QRgb));
    for (qint64 h = layout.pitchX(); h > 0 && h < width; h *= 2) {
        const qint64 count = std::min<qint64>(h - layout.spacing, width - h);
        if (count <= 0)
            break;
        for (int y = 0; y < layout.pixelHeight; ++y) {
            QRgb* row = pixelRow(strip, y);
            std::memmove(row + h, row, std::size_t(count) * sizeof(QRgb));
        }
    }
    return strip;
}

bool eightUnlit(const quint8* dots) {
    quint64 eight;
    std::memcpy(&eight, dots, sizeof eight);
    return eight == 0;
}

void drawBorder(QImage& frame, TLCDBorder style, const QColor& highlight, const QColor& shadow) {
    if (style == bsNone || frame.width() == 0 || frame.height() == 0)
        return;
    const QRgb first = (style == bsLowered ? highlight : shadow).rgb();
    const QRgb second = (style == bsLowered ? shadow : highlight).rgb();
    const int right = frame.width() - 1;
    const int bottom = frame.height() - 1;
    // First the right and bottom edges, then the top and left ones over them: the top-right
    // corner takes the second colour and the bottom-left one keeps the first.
    for (int y = 0; y <= bottom; ++y)
        pixelRow(frame, y)[right] = first;
    std::fill_n(pixelRow(frame, bottom), frame.width(), first);
    std::fill_n(pixelRow(frame, 0), frame.width(), second);
    for (int y = 0; y < bottom; ++y)
        pixelRow(frame, y)[0] = second;
}

} // namespace

QImage PaintDotArea(const TDotImage& dots, const QSize& areaSize, const TCellLayout& layout,
                    TPixelShape shape, const TDotColours& colours, const QColor& background) {
    QImage area(areaSize.expandedTo(QSize(0, 0)), QImage::Format_RGB32);
    area.fill(background);
    if (area.isNull() || dots.isEmpty() || layout.pixelWidth < 1 || layout.pixelHeight < 1 ||
        layout.pitchX() < 1 || layout.pitchY() < 1)
        return area;

    const QImage litCell = makeCell(layout, shape, colours.lit, colours.unlit);
    const QImage unlitCell = makeCell(layout, shape, colours.unlit, colours.unlit);
    const QImage strip = makeStrip(area.width(), layout, unlitCell, background);

    const int width = area.width();
    const int stripBytes = width * int(sizeof(QRgb));
    const int columns = dots.width();
    const bool singlePixel = layout.pixelWidth == 1 && layout.pixelHeight == 1;
    const QRgb litPixel = colours.lit.rgb();
    for (int r = 0; r < dots.height(); ++r) {
        const qint64 y = qint64(r) * layout.pitchY();
        if (y >= area.height())
            break;
        const int cellRows = int(std::min<qint64>(layout.pixelHeight, area.height() - y));
        for (int line = 0; line < cellRows; ++line)
            std::memcpy(pixelRow(area, int(y + line)), strip.constScanLine(line), stripBytes);

        const quint8* row = dots.row(r);
        for (int c = 0; c < columns;) {
            if (c + 8 <= columns && eightUnlit(row + c)) {
                c += 8;
                continue;
            }
            if (!row[c]) {
                ++c;
                continue;
            }
            const qint64 x = qint64(c) * layout.pitchX();
            if (x >= width)
                break;
            if (singlePixel) {
                pixelRow(area, int(y))[x] = litPixel;
            } else {
                const int cellColumns = int(std::min<qint64>(layout.pixelWidth, width - x));
                for (int line = 0; line < cellRows; ++line) {
                    std::memcpy(pixelRow(area, int(y + line)) + x, litCell.constScanLine(line),
                                cellColumns * sizeof(QRgb));
                }
            }
            ++c;
        }
    }
    return area;
}

QImage PaintFrame(const TFrameStyle& style, const TDotImage& dots) {
    QImage frame(style.size.expandedTo(QSize(0, 0)), QImage::Format_RGB32);
    if (frame.isNull())
        return frame;
    frame.fill(style.background);
    drawBorder(frame, style.borderStyle, style.highlight, style.shadow);
    if (!style.enabled)
        return frame;

    // The dot area holds whole cells only; a control larger than its grid shows the
    // background beyond the last column and row.
    const int space = style.layout.borderSpace;
    const QSize areaSize = SnappedControlSize(GridSizeFor(style.size, style.layout), style.layout) -
                           QSize(2 * space, 2 * space);
    if (areaSize.isEmpty())
        return frame;
    const QImage area = PaintDotArea(dots, areaSize, style.layout, style.pixelShape, style.colours,
                                     style.background);
    QPainter painter(&frame);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(space, space, area);
    return frame;
}

} // namespace kavio::lcd
