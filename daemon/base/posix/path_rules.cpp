#include "daemon/base/path_rules.h"

#include <filesystem>

namespace korvane::server {

std::optional<std::string> RealPath(const std::string& path) {
  std::error_code error;
  const std::filesystem::path real = std::filesystem::canonical(path, error);
  if (error) return std::nullopt;
  return real.string();
}

bool IsPathSeparator(char c) { return c == '/'; }

std::size_t RootLength(std::string_view path) { return path.starts_with('/') ? 1 : 0; }

std::string ComparablePath(std::string_view path) { return std::string(path); }

}  // namespace korvane::server
