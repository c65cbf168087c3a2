#pragma once

#include "LCDScreen.h"

#include <QEvent>
#include <QFont>
#include <QImage>

namespace kavio::lcd::test {

// A font that every test machine has, at a fixed pixel size, so rendered text is repeatable.
inline QFont testFont(int pixelSize = 10) {
    QFont font(QStringLiteral("DejaVu Sans Mono"));
    font.setPixelSize(pixelSize);
    return font;
}

// Where the cell of dot (column, row) starts in the control's own pixels.
inline QPoint cellOrigin(const TLCDScreen& screen, int column, int row) {
    return {screen.BorderSpace() + column * (screen.PixelWidth() + screen.PixelSpacing()),
            screen.BorderSpace() + row * (screen.PixelHeight() + screen.PixelSpacing())};
}

// Reads back which dots the control shows, from what it actually painted: a dot counts as lit
// when the centre pixel of its cell has the lit colour.
inline TDotImage shownDots(TLCDScreen& screen) {
    const QImage shot = screen.grab().toImage();
    TDotImage dots(screen.Columns(), screen.Rows());
    const QPoint centre(screen.PixelWidth() / 2, screen.PixelHeight() / 2);
    for (int r = 0; r < screen.Rows(); ++r) {
        for (int c = 0; c < screen.Columns(); ++c) {
            const QPoint at = cellOrigin(screen, c, r) + centre;
            dots.setLit(c, r, shot.pixel(at) == screen.LitColour().rgb());
        }
    }
    return dots;
}

inline int litCount(const TDotImage& dots) {
    int count = 0;
    for (int y = 0; y < dots.height(); ++y) {
        for (int x = 0; x < dots.width(); ++x)
            count += dots.isLit(x, y) ? 1 : 0;
    }
    return count;
}

// A picture with the given dark pixels ('#') on white; one string per row.
inline QImage pictureOf(const QStringList& rows) {
    QImage picture(int(rows.value(0).size()), int(rows.size()), QImage::Format_RGB32);
    picture.fill(Qt::white);
    for (int y = 0; y < rows.size(); ++y) {
        for (int x = 0; x < rows[y].size(); ++x) {
            if (rows[y][x] == QLatin1Char('#'))
                picture.setPixel(x, y, qRgb(0, 0, 0));
        }
    }
    return picture;
}

// Counts the paint events a widget receives. grab() paints whatever has changed, so whether a
// change reaches the screen by itself is told by counting.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

} // namespace kavio::lcd::test
