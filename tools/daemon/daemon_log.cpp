#include "daemon_log.h"

#include <cstdio>
#include <ctime>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvane::server {

DaemonLog::DaemonLog(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) == 0 && status.st_size >= kRotateSize) {
    rename(path.c_str(), (path + ".1").c_str());
  }
  fd_ = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
}

DaemonLog::~DaemonLog() {
  if (fd_ >= 0) close(fd_);
}

void DaemonLog::Write(std::string_view level, std::string_view message) const {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm parts{};
  gmtime_r(&now.tv_sec, &parts);
  char stamp[40];
  const std::size_t length = std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &parts);
  std::snprintf(stamp + length, sizeof stamp - length, ".%03ldZ", now.tv_nsec / 1000000);

  std::string line = std::string(stamp) + " " + std::to_string(getpid()) + " " + std::string(level) + ": ";
  for (char c : message) line += c == '\n' || c == '\r' ? ' ' : c;
  line += '\n';
  [[maybe_unused]] const ssize_t written = write(fd_ >= 0 ? fd_ : STDERR_FILENO, line.data(), line.size());
}

}  // namespace korvane::server
