// The daemon's request reader on arbitrary packets: the frame is read as the
// daemon reads it, and a frame it accepts is checked against its command's
// field count as the daemon checks it. Nothing read may fall outside the
// packet, a well-formed frame is exactly its header, payload and NUL, and
// arguments taken from a payload that fits put it back together.
//
// The first input byte says how the packet arrived: bit 0 set, it was
// larger than the receive buffer, which holds only the bytes given.
#include "protocol/commands.h"
#include "protocol/fields.h"
#include "protocol/frame.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

using namespace korvane::protocol;

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// A well-formed frame is its header and, when it has one, its payload and NUL.
void WellFormedFrameReadsBack(std::string_view packet, const FrameReading& reading) {
  Check(reading.code.has_value() && reading.packetSize == packet.size());
  std::string rebuilt = FrameHeader(reading.declaredLength, *reading.code);
  if (reading.payload) (rebuilt += *reading.payload) += '\0';
  Check(rebuilt == packet);
}

// What the daemon does with a frame of a known command: the field count
// first, then the arguments its handler takes.
void ArgumentsOfAFittingPayload(const CommandInfo& command, const std::string& payload) {
  if (!FieldCountFits(command, payload)) {
    const bool cutShort = command.payload == PayloadShape::Separated && !payload.ends_with(kFieldSeparator);
    Check(FieldCountOf(command).has_value() && (cutShort || FieldCount(payload) != *FieldCountOf(command)));
    return;
  }
  const std::vector<std::string> arguments = ArgumentsOf(command, payload);
  switch (command.payload) {
    case PayloadShape::None:
      Check(arguments.empty());
      return;
    case PayloadShape::LocalPath:
    case PayloadShape::InternalPath:
    case PayloadShape::Plain:
      Check(arguments.size() == 1 && arguments[0] == payload);
      return;
    case PayloadShape::Separated:
    case PayloadShape::Joined:
      break;
  }
  Check(arguments.size() == static_cast<std::size_t>(command.arguments));
  if (command.channel != Channel::Request && command.channel != Channel::OneWay) return;
  // The arguments with "|" between them are the payload, less the empty
  // last field that a separated payload ends with.
  std::string joined;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    if (i > 0) joined += kFieldSeparator;
    joined += arguments[i];
  }
  if (command.payload == PayloadShape::Separated && command.arguments > 0) joined += kFieldSeparator;
  Check(joined == payload);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool cutShort = (data[0] & 1) != 0;
  // A copy of exactly the bytes received, so that a read past them is caught.
  const std::string packet(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::size_t packetSize = cutShort ? kMaxPacketSize + 1 + packet.size() : packet.size();

  const FrameReading reading = ReadFrame(packet, packetSize);
  Check(!DescribeFault(reading).empty());
  Check(reading.code.has_value() == (packet.size() >= kFrameHeaderSize && packetSize >= kFrameHeaderSize));
  if (reading.fault != FrameFault::None) {
    Check(!reading.payload.has_value());
    return 0;
  }
  Check(!cutShort);
  WellFormedFrameReadsBack(packet, reading);
  const CommandInfo* command = DescribeCode(*reading.code);
  if (command == nullptr || !reading.payload) return 0;
  ArgumentsOfAFittingPayload(*command, *reading.payload);
  return 0;
}
