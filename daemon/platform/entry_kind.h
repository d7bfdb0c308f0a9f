// Which entries of a folder the system gives Subversion nothing to keep of:
// on POSIX named pipes, sockets, devices and what cannot be read; on Windows
// devices, reparse points other than links and folder junctions, and what
// cannot be read.
#pragma once

#include <string>

namespace korvane::server {

struct EntryKind {
  bool exists = false;  // false when it went meanwhile
  bool folder = false;
  std::string problem;  // why Subversion cannot keep it; empty when it can
};

// The entry at path itself (a link is not followed).
EntryKind KindOf(const std::string& path);

}  // namespace korvane::server
