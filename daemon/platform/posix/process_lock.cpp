#include "daemon/platform/process_lock.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace korvane::server {

bool HoldLock(const std::string& path, std::string& problem) {
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    problem = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
  problem = path + " is held by another daemon";
  close(fd);
  return false;
}

}  // namespace korvane::server
