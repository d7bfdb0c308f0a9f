#include "daemon/platform/local_path.h"

#include "daemon/base/path_rules.h"

#include <vector>

namespace korvane::server {

namespace {

bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// The parts of text between separators, without empty and "." parts;
// nothing when one is ".." or holds a ":".
std::optional<std::vector<std::string_view>> Parts(std::string_view text) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = start;
    while (end < text.size() && !IsPathSeparator(text[end])) ++end;
    const std::string_view part = text.substr(start, end - start);
    if (part == ".." || part.find(':') != std::string_view::npos) return std::nullopt;
    if (!part.empty() && part != ".") parts.push_back(part);
    start = end + 1;
  }
  return parts;
}

}  // namespace

std::optional<std::string> CanonicalLocalPath(std::string_view path) {
  if (path.find_first_of(std::string_view("\0\n\r", 3)) != std::string_view::npos) return std::nullopt;
  std::string root;
  std::string_view rest;
  if (path.size() >= 3 && IsDriveLetter(path[0]) && path[1] == ':' && IsPathSeparator(path[2])) {
    root = {static_cast<char>(path[0] >= 'a' ? path[0] - 'a' + 'A' : path[0]), ':'};
    rest = path.substr(2);
  } else if (path.size() > 2 && IsPathSeparator(path[0]) && IsPathSeparator(path[1]) && !IsPathSeparator(path[2]) &&
             path[2] != '?' && path[2] != '.') {
    // A share: its server and share name are the root and must both be there.
    const std::optional<std::vector<std::string_view>> parts = Parts(path.substr(2));
    if (!parts || parts->size() < 2) return std::nullopt;
    std::string canonical = "/";
    for (const std::string_view part : *parts) (canonical += '/') += part;
    return canonical;
  } else {
    return std::nullopt;
  }
  const std::optional<std::vector<std::string_view>> parts = Parts(rest);
  if (!parts) return std::nullopt;
  std::string canonical = root;
  for (const std::string_view part : *parts) (canonical += '/') += part;
  return parts->empty() ? root + "/" : canonical;
}

}  // namespace korvane::server
