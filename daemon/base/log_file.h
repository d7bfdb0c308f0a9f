// The file the daemon's log appends to, the one part of the log that asks
// the system (the log lies below the platform layer). Every Append is one
// write at the file's end, so the lines of threads, and of a second daemon
// that starts and leaves, never mix; another process may move the file away
// while it is open.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace korvane::server {

class LogFile {
 public:
  // Opens path for appending, creating it for the user alone; lines go to
  // standard error while it cannot be opened.
  explicit LogFile(const std::string& path);
  ~LogFile();
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // The size of the file this one writes to (which another daemon may have
  // moved away already); -1 when unknown.
  long long Size() const;

  void Append(std::string_view line) const;

  // Moves the file to path.1 and writes to a fresh file at path from now
  // on; keeps writing where it was when no fresh file can be opened.
  void Rotate();

  // This process's id, as each line names it.
  static long ProcessId();

 private:
  std::string path_;
  std::intptr_t handle_ = -1;  // a descriptor, or a HANDLE as an integer
};

}  // namespace korvane::server
