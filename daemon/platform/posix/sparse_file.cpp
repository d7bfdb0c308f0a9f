#include "daemon/platform/sparse_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvane::server {

SparseFile::SparseFile(const std::string& path) {
  const int file = open(path.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (file < 0) return;
  handle_ = file;
  struct stat status {};
  if (fstat(file, &status) != 0 || !S_ISREG(status.st_mode)) return;
  open_ = true;
  size_ = status.st_size;
  allocated_ = static_cast<std::int64_t>(status.st_blocks) * 512;
  if (status.st_blksize > 0) block_ = static_cast<std::size_t>(status.st_blksize);
  times_[0] = status.st_atim.tv_sec;
  times_[1] = status.st_atim.tv_nsec;
  times_[2] = status.st_mtim.tv_sec;
  times_[3] = status.st_mtim.tv_nsec;
}

SparseFile::~SparseFile() {
  if (handle_ < 0) return;
  const int file = static_cast<int>(handle_);
  if (punched_) {
    timespec times[2]{};
    times[0].tv_sec = static_cast<time_t>(times_[0]);
    times[0].tv_nsec = static_cast<long>(times_[1]);
    times[1].tv_sec = static_cast<time_t>(times_[2]);
    times[1].tv_nsec = static_cast<long>(times_[3]);
    futimens(file, times);
  }
  close(file);
}

std::int64_t SparseFile::ReadAt(char* data, std::size_t size, std::int64_t offset) {
  return pread(static_cast<int>(handle_), data, size, static_cast<off_t>(offset));
}

bool SparseFile::PunchHole(std::int64_t offset, std::int64_t length) {
  if (fallocate(static_cast<int>(handle_), FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, static_cast<off_t>(offset),
                static_cast<off_t>(length)) != 0) {
    return false;
  }
  punched_ = true;
  return true;
}

}  // namespace korvane::server
