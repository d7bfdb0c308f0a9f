#pragma once

#include <string>
#include <string_view>

namespace korvane::server {

// Whether a replacement reaches the disk before it is reported done (for
// data at stake), or is only made whole (for what is rebuilt anyway).
enum class Durability { ToDisk, WholeOnly };

// Writes text to path through a temporary file in the same folder, renamed
// over path; ToDisk flushes the file to the disk before the rename and the
// folder after it. Empty on success, otherwise what failed.
std::string ReplaceFileAtomically(const std::string& path, std::string_view text,
                                  Durability durability = Durability::ToDisk);

}  // namespace korvane::server
