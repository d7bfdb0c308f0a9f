#pragma once

#include <cstdint>

namespace korvane::server {

// What the system names an open pipe, wake-up or watch by: a descriptor on
// POSIX, a HANDLE (as an integer) on Windows. -1 is none on both.
using NativeHandle = std::intptr_t;
inline constexpr NativeHandle kNoHandle = -1;

}  // namespace korvane::server
