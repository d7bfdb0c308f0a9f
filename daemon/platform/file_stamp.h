// What tells one version of a file from the next without reading it, and
// stamping a file anew so that a reader comparing stamps reads its content.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace korvane::server {

struct FileStamp {
  std::int64_t size = 0;
  std::int64_t modified = 0;  // nanoseconds since the epoch
  std::int64_t identity = 0;  // the inode, or the Windows file index
};

// The stamp of the entry at path itself (a link is not followed); nothing
// when it cannot be read.
std::optional<FileStamp> StampOf(const std::string& path);

// The time the file system stamps on a write made now, in the same form
// as FileStamp::modified: its own coarse clock, so that a write made after
// this call never carries an earlier time.
std::int64_t FileClockNow();

// Sets the modification and access times of the entry at path itself to
// now; a failure is ignored (the entry went meanwhile).
void TouchNow(const std::string& path);

}  // namespace korvane::server
