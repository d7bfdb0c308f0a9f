#include "daemon/platform/local_path.h"

namespace korvane::server {

std::optional<std::string> CanonicalLocalPath(std::string_view path) {
  if (path.empty() || path.front() != '/') return std::nullopt;
  if (path.find_first_of(std::string_view("\0\n\r", 3)) != std::string_view::npos) return std::nullopt;
  std::string canonical;
  std::size_t start = 0;
  while (start < path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    const std::string_view part = path.substr(start, end - start);
    if (part == "..") return std::nullopt;
    if (!part.empty() && part != ".") (canonical += '/') += part;
    start = end + 1;
  }
  return canonical.empty() ? "/" : canonical;
}

}  // namespace korvane::server
