#include "daemon/request_frame.h"

#include <limits>

namespace korvane::daemon {
namespace {

void AppendLittleEndian(std::string& frame, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) frame.push_back(static_cast<char>((value >> shift) & 0xFF));
}

}  // namespace

std::optional<std::string> BuildRequestFrame(Command command, std::optional<std::string_view> payload) {
  const std::size_t payloadSize = payload ? payload->size() + 1 : 0;
  if (payloadSize > std::numeric_limits<std::uint32_t>::max() - kFrameHeaderSize) return std::nullopt;
  std::string frame;
  frame.reserve(kFrameHeaderSize + payloadSize);
  AppendLittleEndian(frame, static_cast<std::uint32_t>(kFrameHeaderSize + payloadSize));
  AppendLittleEndian(frame, static_cast<std::uint32_t>(command));
  if (payload) {
    frame.append(*payload);
    frame.push_back('\0');
  }
  return frame;
}

}  // namespace korvane::daemon
