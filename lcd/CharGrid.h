#pragma once

#include <QtGlobal>

#include <array>
#include <memory>

namespace kavio::lcd {

// Attribute bits of a character cell, as set by the markup tags.
enum TCharAttribute : quint8 {
    caUnderline = 1,
    caStrike = 2,
    caBold = 4,
    caItalic = 8,
    caBlink = 16,
    caInverse = 32
};

// One visible character of a display line and the attributes it was written with. The
// character is kept as a UTF-16 code unit so that text outside Latin-1 survives the markup pass.
struct TCharCell {
    char16_t ch = 0;
    quint8 attr = 0;
};

// The display text after markup removal: 256 lines of 255 visible characters. Position 0 of a
// line is never used so that positions count from 1; a cell holding character 0 ends its line.
// Anything beyond these limits is dropped when the grid is filled, never stored elsewhere.
class TCharGrid {
public:
    static constexpr int LineCount = 256;
    static constexpr int PositionCount = 256;
    static constexpr int LastPosition = PositionCount - 1;

    TCharGrid();

    void clear();

    // Out-of-range cells read as an empty cell (which ends the line) and ignore writes.
    TCharCell cell(int line, int position) const;
    void setCell(int line, int position, TCharCell value);

    // Number of visible characters stored on a line.
    int lineLength(int line) const;

private:
    static bool inRange(int line, int position);

    using Line = std::array<TCharCell, PositionCount>;
    // 256 x 256 cells would make the owning widget very large, so the cells live on the heap.
    std::unique_ptr<std::array<Line, LineCount>> m_cells;
};

} // namespace kavio::lcd
