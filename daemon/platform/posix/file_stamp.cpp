#include "daemon/platform/file_stamp.h"

#include <fcntl.h>
#include <sys/stat.h>

namespace korvane::server {

std::optional<FileStamp> StampOf(const std::string& path) {
  struct stat status {};
  if (lstat(path.c_str(), &status) != 0) return std::nullopt;
  FileStamp stamp;
  stamp.size = status.st_size;
  stamp.modified = static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec;
  stamp.identity = static_cast<std::int64_t>(status.st_ino);
  return stamp;
}

void TouchNow(const std::string& path) { utimensat(AT_FDCWD, path.c_str(), nullptr, AT_SYMLINK_NOFOLLOW); }

}  // namespace korvane::server
