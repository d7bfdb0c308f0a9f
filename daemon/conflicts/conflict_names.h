// The names of conflict copies: the local version of a file both sides
// changed is kept beside it as "NAME (conflict, ann on vm, 2026-12-07
// 10.42).EXT", saying who kept it, on which computer and when.
#pragma once

#include <string>

namespace korvane::server {

// The name beside path for its local version: the stem, then "(conflict,
// WHO, DATE TIME)", then the extension of a file; ", 002", ", 003", ...
// before the closing parenthesis when the name is taken, so that the copies
// sort in the order they were made. The stem is shortened (never inside a
// UTF-8 character) so that the name fits in 255 bytes, the limit of Linux
// and Windows file systems; the marker and the extension stay whole.
std::string ConflictName(const std::string& path, bool isFile, const std::string& who, const std::string& when);

// Who a conflict copy names: "PERSON on HOST", with this computer's short
// host name.
std::string ConflictAuthor(const std::string& person);

// Whether a file name is a conflict copy's, in this format or the older one.
bool IsConflictCopyName(const std::string& name);

}  // namespace korvane::server
