// The one written form of a local folder's path, in which activations are
// kept and requests are compared: absolute, "/" between its parts, no "."
// parts and no trailing "/" but the root's. On POSIX it starts at "/"; on
// Windows at a drive ("C:/...", the letter upper-case, either separator
// accepted) or a share ("//server/share/..."), as Subversion writes local
// paths there.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace korvane::server {

// Nothing for a relative path, one with ".." parts, or one holding a NUL or
// a line break (on Windows also a ":" past the drive: a file's stream).
std::optional<std::string> CanonicalLocalPath(std::string_view path);

}  // namespace korvane::server
