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

}  // namespace korvane::server
