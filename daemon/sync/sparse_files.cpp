#include "daemon/sync/sparse_files.h"

#include "daemon/platform/sparse_file.h"

#include <algorithm>
#include <vector>

namespace korvane::server {

namespace {

constexpr std::size_t kChunk = 1 << 16;

bool AllZero(const char* data, std::size_t size) {
  return std::all_of(data, data + size, [](char c) { return c == 0; });
}

}  // namespace

void MakeSparse(const std::string& path) {
  SparseFile file(path);
  // Only regular files worth it, and not those that are mostly holes already.
  if (!file.IsOpen() || file.Size() < kSmallestSparseFile || file.Allocated() < file.Size() / 2) return;
  std::vector<char> buffer(kChunk);
  const std::size_t block = file.BlockSize();
  std::int64_t holeStart = -1;
  const auto punch = [&](std::int64_t end) {
    if (holeStart >= 0 && end > holeStart) file.PunchHole(holeStart, end - holeStart);
    holeStart = -1;
  };
  for (std::int64_t at = 0;;) {
    const std::int64_t got = file.ReadAt(buffer.data(), buffer.size(), at);
    if (got <= 0) break;
    for (std::size_t offset = 0; offset + block <= static_cast<std::size_t>(got); offset += block) {
      if (AllZero(buffer.data() + offset, block)) {
        if (holeStart < 0) holeStart = at + static_cast<std::int64_t>(offset);
      } else {
        punch(at + static_cast<std::int64_t>(offset));
      }
    }
    at += got;
    if (static_cast<std::size_t>(got) % block != 0) {
      punch(at - static_cast<std::int64_t>(static_cast<std::size_t>(got) % block));
    }
  }
  punch(file.Size() - file.Size() % static_cast<std::int64_t>(block));
}

}  // namespace korvane::server
