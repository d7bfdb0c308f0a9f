// No exception crosses an exported function: the library runs inside other
// people's processes.
#pragma once

#include <cstdint>

namespace korvane::api {

template <typename Body>
std::int32_t Guarded(Body body) noexcept {
  try {
    return body() ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

}  // namespace korvane::api
