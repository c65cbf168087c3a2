#pragma once

#include <array>

namespace kavio {

// How many units hold each status code (0..5); a status outside the known codes counts as
// unknown, as the list draws it. Throws DatabaseError when no database is open; a table that
// cannot be read now counts nothing.
std::array<int, 6> unitsByStatus();

} // namespace kavio
