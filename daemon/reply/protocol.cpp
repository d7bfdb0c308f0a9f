#include "daemon/reply/protocol.h"

namespace korvane::server {

namespace {

std::string Join(std::initializer_list<std::string_view> fields, bool keepLines) {
  std::string text;
  bool first = true;
  for (std::string_view field : fields) {
    if (!first) text += protocol::kFieldSeparator;
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
