#include "protocol/frame.h"

#include <limits>

namespace korvane::protocol {
namespace {

void AppendLittleEndian(std::string& bytes, std::uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<char>((value >> shift) & 0xFF));
}

std::uint32_t LittleEndianWord(std::string_view bytes) {
  std::uint32_t word = 0;
  for (int i = 3; i >= 0; --i) word = word << 8 | static_cast<unsigned char>(bytes[i]);
  return word;
}

}  // namespace

std::string FrameHeader(std::uint32_t length, std::uint32_t code) {
  std::string header;
  header.reserve(kFrameHeaderSize);
  AppendLittleEndian(header, length);
  AppendLittleEndian(header, code);
  return header;
}

std::optional<std::uint32_t> FrameCode(std::string_view bytes) {
  if (bytes.size() < kFrameHeaderSize) return std::nullopt;
  return LittleEndianWord(bytes.substr(4));
}

std::optional<std::string> BuildRequestFrame(Command command, std::optional<std::string_view> payload) {
  const std::size_t payloadSize = payload ? payload->size() + 1 : 0;
  if (payloadSize > std::numeric_limits<std::uint32_t>::max() - kFrameHeaderSize) return std::nullopt;
  std::string frame;
  frame.reserve(kFrameHeaderSize + payloadSize);
  AppendLittleEndian(frame, static_cast<std::uint32_t>(kFrameHeaderSize + payloadSize));
  AppendLittleEndian(frame, CodeOf(command));
  if (payload) {
    frame.append(*payload);
    frame.push_back('\0');
  }
  return frame;
}

FrameReading ReadFrame(std::string_view bytes, std::size_t packetSize) {
  FrameReading reading;
  reading.packetSize = packetSize;
  if (packetSize < kFrameHeaderSize || bytes.size() < kFrameHeaderSize) {
    reading.fault = FrameFault::TooShort;
    return reading;
  }
  reading.declaredLength = LittleEndianWord(bytes);
  reading.code = FrameCode(bytes);
  if (packetSize > kMaxPacketSize || bytes.size() < packetSize) {
    reading.fault = FrameFault::TooLarge;
  } else if (reading.declaredLength != packetSize) {
    reading.fault = FrameFault::LengthMismatch;
  } else if (packetSize > kFrameHeaderSize) {
    const std::string_view text = bytes.substr(kFrameHeaderSize, packetSize - kFrameHeaderSize - 1);
    if (bytes[packetSize - 1] != '\0') {
      reading.fault = FrameFault::Unterminated;
    } else if (text.find('\0') != std::string_view::npos) {
      reading.fault = FrameFault::EmbeddedNul;
    } else {
      reading.payload = std::string(text);
    }
  }
  return reading;
}

std::string DescribeFault(const FrameReading& reading) {
  const std::string size = std::to_string(reading.packetSize);
  switch (reading.fault) {
    case FrameFault::None:
      return "well formed";
    case FrameFault::TooShort:
      return "a packet of " + size + " bytes is shorter than the 8-byte header";
    case FrameFault::LengthMismatch:
      return "the length field says " + std::to_string(reading.declaredLength) + " bytes, the packet holds " + size;
    case FrameFault::TooLarge:
      return "a packet of " + size + " bytes exceeds the limit of " + std::to_string(kMaxPacketSize);
    case FrameFault::Unterminated:
      return "the payload does not end with a NUL";
    case FrameFault::EmbeddedNul:
      return "the payload holds a NUL before its end";
  }
  return "malformed";
}

}  // namespace korvane::protocol
