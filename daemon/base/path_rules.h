// How this system spells paths: where a path really leads, which characters
// separate its parts, where its root ends and when two spellings name the
// same file. On POSIX a path is bytes split by '/', compared exactly; on
// Windows both '/' and '\' separate, a path starts with a drive ("C:\") or
// a share ("\\server\share\"), and names compare without regard to case.
// The own-folder guard asks these questions and nothing else of the system.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace korvane::server {

// The path where it really leads, every link resolved (and on Windows every
// junction, and every short 8.3 name made long, in the file's own case);
// nothing when it does not exist.
std::optional<std::string> RealPath(const std::string& path);

// Whether c separates the parts of a path.
bool IsPathSeparator(char c);

// How many leading characters of path are its root: "/" on POSIX; "C:\",
// "C:" or "\\server\share\" on Windows; 0 for a relative path.
std::size_t RootLength(std::string_view path);

// The path in the form in which paths are compared: as it is on POSIX; on
// Windows in upper case with every separator a '\'. Two paths name the same
// file only when these forms are equal.
std::string ComparablePath(std::string_view path);

}  // namespace korvane::server
