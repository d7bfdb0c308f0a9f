// Files that arrive through an update are written whole by Subversion, so
// the holes of a sparse file (a disk image, a database) would take real
// space on this side. Runs of zero blocks are given back to the file system
// as holes, where it can make them; the content stays the same.
#pragma once

#include <string>

namespace korvane::server {

// Files smaller than this are left as they are: holes would save little.
inline constexpr long long kSmallestSparseFile = 1 << 20;

// Turns the zero blocks of the regular file at path into holes, keeping its
// content and its modification time. Nothing happens where the file system
// cannot punch holes, or to anything but a regular file.
void MakeSparse(const std::string& path);

}  // namespace korvane::server
