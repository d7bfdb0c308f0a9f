#include "daemon/base/daemon_log.h"

#include <chrono>
#include <cstdio>

namespace korvane::server {

namespace {

// 2025-01-31T12:00:00.123Z
std::string Timestamp() {
  using namespace std::chrono;
  const auto now = floor<milliseconds>(system_clock::now());
  const auto day = floor<days>(now);
  const year_month_day date{day};
  const hh_mm_ss time{now - day};
  char stamp[40];
  std::snprintf(stamp, sizeof stamp, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                static_cast<int>(time.seconds().count()), static_cast<int>(time.subseconds().count()));
  return stamp;
}

}  // namespace

DaemonLog::DaemonLog(const std::string& path, long rotateSize) : rotateSize_(rotateSize), file_(path) {
  std::lock_guard lock(mutex_);
  RotateIfFull();
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
// the size of what this one writes to decides.
void DaemonLog::RotateIfFull() const {
  if (file_.Size() >= rotateSize_) file_.Rotate();
}

void DaemonLog::Write(std::string_view level, std::string_view message) const {
  const std::string line = Timestamp() + " " + std::to_string(LogFile::ProcessId()) + " " + std::string(level) +
                           ": " + Shorten(message) + '\n';
  std::lock_guard lock(mutex_);
  RotateIfFull();
  file_.Append(line);
}

}  // namespace korvane::server
