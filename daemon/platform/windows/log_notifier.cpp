#include "daemon/platform/windows/log_notifier.h"

namespace korvane::server::windows {

}  // namespace korvane::server::windows

namespace korvane::server {

std::unique_ptr<Notifier> MakeDesktopNotifier(const DaemonLog& log) {
  return std::make_unique<windows::LogNotifier>(log);
}

}  // namespace korvane::server

namespace korvane::server::windows {

void LogNotifier::Send(const std::string& summary, const std::string& body) {
  log_.Warning("notification: " + summary + ": " + body);
}

}  // namespace korvane::server::windows
