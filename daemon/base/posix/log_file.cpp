#include "daemon/base/log_file.h"

#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvane::server {

namespace {

int Open(const std::string& path) { return open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600); }

}  // namespace

LogFile::LogFile(const std::string& path) : path_(path), handle_(Open(path)) {}

LogFile::~LogFile() {
  if (handle_ >= 0) close(static_cast<int>(handle_));
}

long long LogFile::Size() const {
  struct stat status {};
  if (handle_ < 0 || fstat(static_cast<int>(handle_), &status) != 0) return -1;
  return status.st_size;
}

void LogFile::Append(std::string_view line) const {
  [[maybe_unused]] const ssize_t written =
      write(handle_ >= 0 ? static_cast<int>(handle_) : STDERR_FILENO, line.data(), line.size());
}

void LogFile::Rotate() {
  rename(path_.c_str(), (path_ + ".1").c_str());
  const int fresh = Open(path_);
  if (fresh < 0) return;
  if (handle_ >= 0) close(static_cast<int>(handle_));
  handle_ = fresh;
}

long LogFile::ProcessId() { return static_cast<long>(getpid()); }

}  // namespace korvane::server
