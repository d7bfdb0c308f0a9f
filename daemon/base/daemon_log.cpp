#include "daemon/base/daemon_log.h"

#include <cstdio>
#include <ctime>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvane::server {

DaemonLog::DaemonLog(const std::string& path, long rotateSize) : path_(path), rotateSize_(rotateSize) {
  fd_ = open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  std::lock_guard lock(mutex_);
  RotateIfFull();
}

DaemonLog::~DaemonLog() {
  if (fd_ >= 0) close(fd_);
}

std::string DaemonLog::Shorten(std::string_view message) {
  std::string text;
  const std::size_t kept = message.size() > kMaxMessage ? kMaxMessage : message.size();
  text.reserve(kept + 40);
  for (char c : message.substr(0, kept)) text += c == '\n' || c == '\r' ? ' ' : c;
  if (kept < message.size()) text += "... (" + std::to_string(message.size()) + " bytes)";
  return text;
}

// Another daemon that starts and leaves may have rotated the file already;
// the size of what this descriptor writes to decides.
void DaemonLog::RotateIfFull() const {
  struct stat status {};
  if (fd_ < 0 || fstat(fd_, &status) != 0 || status.st_size < rotateSize_) return;
  rename(path_.c_str(), (path_ + ".1").c_str());
  const int fresh = open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fresh < 0) return;  // keep writing where it was
  close(fd_);
  fd_ = fresh;
}

void DaemonLog::Write(std::string_view level, std::string_view message) const {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm parts{};
  gmtime_r(&now.tv_sec, &parts);
  char stamp[40];
  const std::size_t length = std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &parts);
  std::snprintf(stamp + length, sizeof stamp - length, ".%03ldZ", now.tv_nsec / 1000000);

  const std::string line =
      std::string(stamp) + " " + std::to_string(getpid()) + " " + std::string(level) + ": " + Shorten(message) + '\n';
  std::lock_guard lock(mutex_);
  RotateIfFull();
  [[maybe_unused]] const ssize_t written = write(fd_ >= 0 ? fd_ : STDERR_FILENO, line.data(), line.size());
}

}  // namespace korvane::server
