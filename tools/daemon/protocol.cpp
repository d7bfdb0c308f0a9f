#include "protocol.h"

#include "daemon/split_string.h"

namespace korvane::server {

Channel ChannelOf(std::uint32_t code) {
  switch (static_cast<Command>(code)) {
    case Command::Close:
      return Channel::Close;
    case Command::StopDaemon:
      return Channel::Stop;
    case Command::GetStatus:
    case Command::GetActivations:
    case Command::RenameLDir:
    case Command::CreateRepo:
    case Command::OpenRepo:
    case Command::SvnCheckoutWait:
    case Command::CopyToRepo:
    case Command::SvnAdd:
    case Command::SvnCommit:
    case Command::RemoveLDir:
    case Command::RemoveTmpDir:
    case Command::RestoreLDir:
    case Command::ListSpaces:
    case Command::ShowSpace:
    case Command::CreateSpace:
    case Command::GetErrorText:
    case Command::FindUsers:
    case Command::Invite:
      return Channel::Request;
    case Command::ActivateKorvaneDialogs:
    case Command::ActivateTortoiseSvnDialogs:
    case Command::ActivateAutomaticCommitUpdate:
    case Command::DeactivatePath:
    case Command::ShareFolder:
    case Command::Checkout:
    case Command::ShareWithTeam:
    case Command::CheckoutFromService:
      return Channel::OneWay;
  }
  return Channel::Unknown;
}

namespace {

std::uint32_t LittleEndianWord(std::string_view bytes) {
  std::uint32_t word = 0;
  for (int i = 3; i >= 0; --i) word = word << 8 | static_cast<unsigned char>(bytes[i]);
  return word;
}

}  // namespace

FrameReading ReadFrame(std::string_view bytes, std::size_t packetSize) {
  FrameReading reading;
  reading.packetSize = packetSize;
  if (packetSize < kHeaderSize || bytes.size() < kHeaderSize) {
    reading.fault = FrameFault::TooShort;
    return reading;
  }
  reading.declaredLength = LittleEndianWord(bytes);
  reading.code = LittleEndianWord(bytes.substr(4));
  if (packetSize > kMaxPacketSize || bytes.size() < packetSize) {
    reading.fault = FrameFault::TooLarge;
  } else if (reading.declaredLength != packetSize) {
    reading.fault = FrameFault::LengthMismatch;
  } else if (packetSize > kHeaderSize) {
    const std::string_view text = bytes.substr(kHeaderSize, packetSize - kHeaderSize - 1);
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

std::vector<std::string> SplitArguments(std::string_view payload, std::size_t count) {
  std::vector<std::string> fields;
  daemon::SplitString(fields, payload, daemon::kFieldSeparator);
  fields.resize(count);
  return fields;
}

namespace {

std::string Join(std::initializer_list<std::string_view> fields, bool keepLines) {
  std::string text;
  bool first = true;
  for (std::string_view field : fields) {
    if (!first) text += '|';
    first = false;
    for (char c : field) text += c == '|' || c == '\r' || (c == '\n' && !keepLines) ? ' ' : c;
  }
  return text;
}

}  // namespace

std::string JoinFields(std::initializer_list<std::string_view> fields) { return Join(fields, false); }

std::string JoinListFields(std::initializer_list<std::string_view> fields) { return Join(fields, true); }

std::string VerdictReply(std::int32_t code, std::string_view operation, std::string_view message,
                         std::int32_t systemError, std::string_view detail) {
  const std::string codeText = std::to_string(code);
  const std::string systemText = std::to_string(systemError);
  return JoinFields({codeText, operation, message, systemText, detail});
}

}  // namespace korvane::server
