// Notifications where no tray is shown: each goes to the daemon's log, which
// the job board's readers and a person can see. A tray icon needs a desktop
// window station, which a daemon started headless does not have.
#pragma once

#include "daemon/base/daemon_log.h"
#include "daemon/platform/notifier.h"

namespace korvane::server::windows {

class LogNotifier final : public Notifier {
 public:
  explicit LogNotifier(const DaemonLog& log) : log_(log) {}

 protected:
  void Send(const std::string& summary, const std::string& body) override;

 private:
  const DaemonLog& log_;
};

}  // namespace korvane::server::windows
