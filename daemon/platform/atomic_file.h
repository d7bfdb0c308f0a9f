#pragma once

#include <string>
#include <string_view>

namespace korvane::server {

// Writes text to path through a temporary file in the same folder, flushed
// to the disk, renamed over path, with the folder flushed too. Empty on
// success, otherwise what failed.
std::string ReplaceFileAtomically(const std::string& path, std::string_view text);

}  // namespace korvane::server
