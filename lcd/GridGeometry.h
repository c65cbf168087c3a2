#pragma once

#include <QSize>

namespace kavio::lcd {

// How the dot cells of the display are laid out: cell size, gap between cells and the margin
// between the control's edge and the dot area.
struct TCellLayout {
    int pixelWidth = 2;
    int pixelHeight = 2;
    int spacing = 1;
    int borderSpace = 3;

    int pitchX() const { return pixelWidth + spacing; }
    int pitchY() const { return pixelHeight + spacing; }
};

struct TGridSize {
    int columns = 0;
    int rows = 0;
};

// The number of whole cells that fit a control of the given size (never negative, at most the
// 16-bit range of the grid's counters).
TGridSize GridSizeFor(const QSize& controlSize, const TCellLayout& layout);

// The control size whose dot area holds the grid exactly, with no partial cell at the edges.
QSize SnappedControlSize(const TGridSize& grid, const TCellLayout& layout);

} // namespace kavio::lcd
