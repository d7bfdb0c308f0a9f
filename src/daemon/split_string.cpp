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

}  // namespace korvane::daemon
