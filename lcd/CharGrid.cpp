#include "CharGrid.h"

namespace kavio::lcd {

TCharGrid::TCharGrid()
    : m_cells(std::make_unique<std::array<Line, LineCount>>()) {}

void TCharGrid::clear() {
    for (Line& line : *m_cells)
        line.fill(TCharCell{});
}

bool TCharGrid::inRange(int line, int position) {
    return line >= 0 && line < LineCount && position >= 0 && position < PositionCount;
}

TCharCell TCharGrid::cell(int line, int position) const {
    if (!inRange(line, position))
        return {};
    return (*m_cells)[line][position];
}

void TCharGrid::setCell(int line, int position, TCharCell value) {
    if (inRange(line, position))
        (*m_cells)[line][position] = value;
}

int TCharGrid::lineLength(int line) const {
    int length = 0;
    while (length < LastPosition && cell(line, length + 1).ch != 0)
        ++length;
    return length;
}

} // namespace kavio::lcd
