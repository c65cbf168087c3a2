#include "GridGeometry.h"

#include <algorithm>

namespace kavio::lcd {
namespace {

int cellsAlong(int length, int cell, int spacing, int borderSpace) {
    const int pitch = cell + spacing;
    // A non-positive pitch (possible with a negative spacing) has no meaningful grid.
    if (pitch <= 0)
        return 0;
    const int count = (length - 2 * borderSpace + spacing) / pitch;
    return std::clamp(count, 0, 0xFFFF);
}

int snappedLength(int count, int cell, int spacing, int borderSpace) {
    return std::max(0, count * cell + 2 * borderSpace + (count - 1) * spacing);
}

} // namespace

TGridSize GridSizeFor(const QSize& controlSize, const TCellLayout& layout) {
    return {
        cellsAlong(controlSize.width(), layout.pixelWidth, layout.spacing, layout.borderSpace),
        cellsAlong(controlSize.height(), layout.pixelHeight, layout.spacing, layout.borderSpace)};
}

QSize SnappedControlSize(const TGridSize& grid, const TCellLayout& layout) {
    return {snappedLength(grid.columns, layout.pixelWidth, layout.spacing, layout.borderSpace),
            snappedLength(grid.rows, layout.pixelHeight, layout.spacing, layout.borderSpace)};
}

} // namespace kavio::lcd
