// The daemon's log: one line per record, "TIME PID LEVEL: MESSAGE", with the
// time in UTC to the millisecond (2025-01-31T12:00:00.123Z). Each line goes
// out in one append, so the lines of threads and of a second daemon that
// starts and leaves never mix. The log never takes more than about twice
// kRotateSize on the disk: it is moved to path.1 whenever it reaches that
// size, and no record is longer than kMaxMessage bytes (a client's payload
// can be 64 KiB, and a stream of them must not fill the disk).
#pragma once

#include "daemon/base/log_file.h"

#include <mutex>
#include <string>
#include <string_view>

namespace korvane::server {

class DaemonLog {
 public:
  // Appends to path, creating it. When the file cannot be opened the lines
  // go to standard error.
  explicit DaemonLog(const std::string& path, long rotateSize = kRotateSize);
  DaemonLog(const DaemonLog&) = delete;
  DaemonLog& operator=(const DaemonLog&) = delete;

  static constexpr long kRotateSize = 1 << 20;
  static constexpr std::size_t kMaxMessage = 1024;

  void Info(std::string_view message) const { Write("info", message); }
  void Warning(std::string_view message) const { Write("warning", message); }
  void Error(std::string_view message) const { Write("error", message); }

  // The message as it is logged: line breaks become blanks, and a long one
  // keeps its start and says how long it was.
  static std::string Shorten(std::string_view message);

 private:
  void Write(std::string_view level, std::string_view message) const;
  void RotateIfFull() const;  // called with mutex_ held

  long rotateSize_;
  mutable std::mutex mutex_;
  mutable LogFile file_;
};

}  // namespace korvane::server
