// The daemon's side of the pipe protocol: reading a request frame out of one
// packet, which channel a command code belongs to, and the shapes of the
// reply texts. Pure functions over bytes; the sockets live in the server.
#pragma once

#include "daemon/command_codes.h"

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvane::server {

using daemon::Command;

inline constexpr std::size_t kHeaderSize = 8;
// No request carries more than paths, URLs and a few names; a longer packet
// is refused before it is ever copied whole.
inline constexpr std::size_t kMaxPacketSize = 64 * 1024;

// What a command code asks of its connection.
enum class Channel {
  Request,  // exactly one reply
  OneWay,   // never answered
  Close,    // ends a notification channel
  Stop,     // one reply, then the daemon stops
  Unknown,  // not a code of the protocol
};

Channel ChannelOf(std::uint32_t code);

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

// A readable account of what is wrong with a frame, for replies and the log.
std::string DescribeFault(const FrameReading& reading);

// The payload's "|"-separated arguments: the first count fields, missing
// ones empty.
std::vector<std::string> SplitArguments(std::string_view payload, std::size_t count);

// Fields joined with "|". A "|" or line break inside a field would shift the
// reader's view of the fields, so each becomes a blank.
std::string JoinFields(std::initializer_list<std::string_view> fields);
// The same for fields that may hold lists, one item a line: only "|" and
// carriage returns become blanks.
std::string JoinListFields(std::initializer_list<std::string_view> fields);

// The five-field verdict of a repository or local-directory command:
// code|operation|message|systemError|detail.
std::string VerdictReply(std::int32_t code, std::string_view operation, std::string_view message,
                         std::int32_t systemError, std::string_view detail);

}  // namespace korvane::server
