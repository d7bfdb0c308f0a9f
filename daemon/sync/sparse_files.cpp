#include "daemon/sync/sparse_files.h"

#include <algorithm>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvane::server {

namespace {

constexpr std::size_t kChunk = 1 << 16;

bool AllZero(const char* data, std::size_t size) {
  return std::all_of(data, data + size, [](char c) { return c == 0; });
}

}  // namespace

void MakeSparse(const std::string& path) {
  const int file = open(path.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (file < 0) return;
  struct stat status {};
  // Only regular files worth it, and not those that are mostly holes already.
  if (fstat(file, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size < kSmallestSparseFile ||
      status.st_blocks * 512 < status.st_size / 2) {
    close(file);
    return;
  }
  std::vector<char> buffer(kChunk);
  const std::size_t block = status.st_blksize > 0 ? static_cast<std::size_t>(status.st_blksize) : 4096;
  off_t holeStart = -1;
  bool punched = false;
  const auto punch = [&](off_t end) {
    if (holeStart >= 0 && end > holeStart) {
      punched = fallocate(file, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, holeStart, end - holeStart) == 0 || punched;
    }
    holeStart = -1;
  };
  for (off_t at = 0;;) {
    const ssize_t got = pread(file, buffer.data(), buffer.size(), at);
    if (got <= 0) break;
    for (std::size_t offset = 0; offset + block <= static_cast<std::size_t>(got); offset += block) {
      if (AllZero(buffer.data() + offset, block)) {
        if (holeStart < 0) holeStart = at + static_cast<off_t>(offset);
      } else {
        punch(at + static_cast<off_t>(offset));
      }
    }
    at += got;
    if (static_cast<std::size_t>(got) % block != 0) {
      punch(at - static_cast<off_t>(static_cast<std::size_t>(got) % block));
    }
  }
  punch(status.st_size - status.st_size % static_cast<off_t>(block));
  if (punched) {
    const timespec times[2] = {status.st_atim, status.st_mtim};
    futimens(file, times);
  }
  close(file);
}

}  // namespace korvane::server
