#include "daemon/split_string.h"

namespace korvane::daemon {

void SplitString(std::vector<std::string>& fields, std::string_view text, std::string_view delimiter) {
  if (delimiter.empty()) {
    fields.emplace_back(text);
    return;
  }
  std::size_t start = 0;
  for (;;) {
    std::size_t found = text.find(delimiter, start);
    if (found == std::string_view::npos) {
      fields.emplace_back(text.substr(start));
      return;
    }
    fields.emplace_back(text.substr(start, found - start));
    start = found + delimiter.size();
  }
}

std::optional<std::string> JoinArguments(std::span<const std::string> arguments, bool terminated) {
  std::string payload;
  bool first = true;
  for (const std::string& argument : arguments) {
    if (argument.find(kFieldSeparator) != std::string::npos) return std::nullopt;
    if (!first && !terminated) payload += kFieldSeparator;
    payload += argument;
    if (terminated) payload += kFieldSeparator;
    first = false;
  }
  return payload;
}

}  // namespace korvane::daemon
