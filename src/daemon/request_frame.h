// The request frame: every message the library sends to the daemon.
//
//   offset 0  u32 LE  total length, the 8 header bytes included
//   offset 4  u32 LE  command code
//   offset 8  payload text bytes and one NUL (absent for header-only frames)
#pragma once

#include "daemon/command_codes.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace korvane::daemon {

inline constexpr std::size_t kFrameHeaderSize = 8;

// A frame for the command: header only when there is no payload, otherwise
// header, the payload's bytes and a NUL (an empty payload still sends it).
// Nothing when the frame's length would not fit its 32-bit field.
std::optional<std::string> BuildRequestFrame(Command command, std::optional<std::string_view> payload);

}  // namespace korvane::daemon
