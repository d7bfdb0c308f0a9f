// A regular file opened to give its runs of zero blocks back to the file
// system as holes, keeping its content and its modification time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace korvane::server {

class SparseFile {
 public:
  // Opens the regular file at path (a link is not followed); IsOpen() is
  // false when it cannot be, or where the file system makes no holes.
  explicit SparseFile(const std::string& path);
  // Puts the modification time back when a hole was made, and closes.
  ~SparseFile();
  SparseFile(const SparseFile&) = delete;
  SparseFile& operator=(const SparseFile&) = delete;

  bool IsOpen() const { return open_; }
  std::int64_t Size() const { return size_; }
  // The bytes the file takes on disk.
  std::int64_t Allocated() const { return allocated_; }
  // The unit in which holes are made.
  std::size_t BlockSize() const { return block_; }
  // Reads up to size bytes at offset; the count read, 0 at the end, -1 on
  // failure.
  std::int64_t ReadAt(char* data, std::size_t size, std::int64_t offset);
  // Makes the range a hole; false when the file system would not.
  bool PunchHole(std::int64_t offset, std::int64_t length);

 private:
  std::intptr_t handle_ = -1;
  bool open_ = false;
  bool punched_ = false;
  std::int64_t size_ = 0;
  std::int64_t allocated_ = 0;
  std::size_t block_ = 4096;
  std::int64_t times_[4] = {};  // what the destructor restores
};

}  // namespace korvane::server
