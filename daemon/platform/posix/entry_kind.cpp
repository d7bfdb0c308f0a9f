#include "daemon/platform/entry_kind.h"

#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

namespace korvane::server {

EntryKind KindOf(const std::string& path) {
  EntryKind kind;
  struct stat status {};
  if (lstat(path.c_str(), &status) != 0) return kind;
  kind.exists = true;
  kind.folder = S_ISDIR(status.st_mode);
  if (S_ISFIFO(status.st_mode)) {
    kind.problem = "it is a named pipe";
  } else if (S_ISSOCK(status.st_mode)) {
    kind.problem = "it is a socket";
  } else if (S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode)) {
    kind.problem = "it is a device";
  } else if (S_ISREG(status.st_mode) && access(path.c_str(), R_OK) != 0) {
    kind.problem = std::string("it cannot be read: ") + std::strerror(errno);
  } else if (kind.folder && access(path.c_str(), R_OK | X_OK) != 0) {
    kind.problem = std::string("it cannot be read: ") + std::strerror(errno);
  }
  return kind;
}

}  // namespace korvane::server
