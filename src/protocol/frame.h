// The frame: every message the library sends to the daemon.
//
//   offset 0  u32 LE  total length, the 8 header bytes included
//   offset 4  u32 LE  command code
//   offset 8  payload text bytes and one NUL (absent for header-only frames)
//
// Building a frame for the library, reading one for the daemon: pure
// functions over bytes, the sockets live elsewhere.
#pragma once

#include "protocol/commands.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace korvane::protocol {

inline constexpr std::size_t kFrameHeaderSize = 8;
// No request carries more than paths, URLs and a few names; the daemon
// refuses a longer packet before it is ever copied whole.
inline constexpr std::size_t kMaxPacketSize = 64 * 1024;

// The 8 header bytes: length and code, both little-endian.
std::string FrameHeader(std::uint32_t length, std::uint32_t code);
// The code of a frame that has a whole header.
std::optional<std::uint32_t> FrameCode(std::string_view bytes);

// A frame for the command: header only when there is no payload, otherwise
// header, the payload's bytes and a NUL (an empty payload still sends it).
// Nothing when the frame's length would not fit its 32-bit field.
std::optional<std::string> BuildRequestFrame(Command command, std::optional<std::string_view> payload);

enum class FrameFault {
  None,
  TooShort,        // fewer bytes than the header
  LengthMismatch,  // the length field disagrees with the packet
  TooLarge,        // the packet exceeds kMaxPacketSize
  Unterminated,    // a payload without its closing NUL
  EmbeddedNul,     // a NUL before the payload's end
};

struct FrameReading {
  std::optional<std::uint32_t> code;  // absent only for a packet shorter than the header
  FrameFault fault = FrameFault::None;
  std::optional<std::string> payload;  // the text without its NUL; absent for a header-only frame
  std::uint32_t declaredLength = 0;
  std::size_t packetSize = 0;
};

// Reads one packet. bytes may be cut short of the packet's real size
// (packetSize) when the packet was too large to take whole.
FrameReading ReadFrame(std::string_view bytes, std::size_t packetSize);

// A readable account of what is wrong with a frame, for replies and logs.
std::string DescribeFault(const FrameReading& reading);

}  // namespace korvane::protocol
