#include "daemon/platform/file_stamp.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>

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

std::int64_t FileClockNow() {
#ifdef CLOCK_REALTIME_COARSE
  constexpr clockid_t kFileClock = CLOCK_REALTIME_COARSE;  // what Linux stamps files with
#else
  constexpr clockid_t kFileClock = CLOCK_REALTIME;
#endif
  timespec now{};
  clock_gettime(kFileClock, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

void TouchNow(const std::string& path) { utimensat(AT_FDCWD, path.c_str(), nullptr, AT_SYMLINK_NOFOLLOW); }

}  // namespace korvane::server
