// std::filesystem paths from and to the daemon's text, which is UTF-8. On
// POSIX a path's bytes are the text's; on Windows the runtime turns narrow
// strings into paths through the C locale (byte for byte, whatever code
// page the manifest declares), so every path is made and read as UTF-8
// explicitly.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace korvane::server {

inline std::filesystem::path PathOf(std::string_view text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

inline std::string TextOf(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace korvane::server
