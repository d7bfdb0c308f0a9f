// A path as the library hands it to the system: Subversion's local style,
// with the platform's separator ("/a/b" on POSIX, "\a\b" on Windows).
#pragma once

#include <algorithm>
#include <filesystem>
#include <string>

namespace korvane::testing {

inline std::string LocalPath(std::string path) {
  std::replace(path.begin(), path.end(), '/', static_cast<char>(std::filesystem::path::preferred_separator));
  return path;
}

inline std::u16string LocalPath(std::u16string path) {
  std::replace(path.begin(), path.end(), u'/', static_cast<char16_t>(std::filesystem::path::preferred_separator));
  return path;
}

}  // namespace korvane::testing
