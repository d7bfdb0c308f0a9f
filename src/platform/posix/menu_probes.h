// What tests may see of the menu, bitmap and icon tables, to prove that
// nothing is leaked.
#pragma once

#include <cstddef>

namespace korvane::posix {

// Objects created and not yet destroyed.
std::size_t LiveMenuCount();
std::size_t LiveBitmapCount();
std::size_t LiveIconCount();

}  // namespace korvane::posix
