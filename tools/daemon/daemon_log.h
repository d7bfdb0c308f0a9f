// The daemon's log: one line per record, "TIME PID LEVEL: MESSAGE", with the
// time in UTC to the millisecond (2025-01-31T12:00:00.123Z). Each line goes
// out in one append, so the lines of threads and of a second daemon that
// starts and leaves never mix.
#pragma once

#include <string>
#include <string_view>

namespace korvane::server {

class DaemonLog {
 public:
  // Appends to path, creating it. A log that reached kRotateSize is moved to
  // path.1 first, replacing an older one. When the file cannot be opened the
  // lines go to standard error.
  explicit DaemonLog(const std::string& path);
  ~DaemonLog();
  DaemonLog(const DaemonLog&) = delete;
  DaemonLog& operator=(const DaemonLog&) = delete;

  static constexpr long kRotateSize = 1 << 20;

  void Info(std::string_view message) const { Write("info", message); }
  void Warning(std::string_view message) const { Write("warning", message); }
  void Error(std::string_view message) const { Write("error", message); }

 private:
  void Write(std::string_view level, std::string_view message) const;

  int fd_ = -1;
};

}  // namespace korvane::server
