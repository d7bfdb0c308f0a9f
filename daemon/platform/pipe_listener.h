#pragma once

#include <string>

#include <sys/types.h>

namespace korvane::server {

// The bound and listening socket, and the file that names it.
struct Listener {
  int fd = -1;
  std::string path;
  ino_t inode = 0;
};

// Whether a live server answers at the socket; a full listen queue counts.
bool Served(const std::string& path);

// Binds and listens at path, in place of a socket file a dead daemon left
// (called under the start lock); throws std::system_error when it cannot.
Listener Listen(const std::string& path);

}  // namespace korvane::server
