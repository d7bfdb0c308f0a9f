// Notifications over the session bus (org.freedesktop.Notifications, the
// desktop's notification service), sent with sd-bus from a thread of the
// notifier's own: a caller only queues. The thread starts with the first
// notification, so a daemon with nothing to tell runs none; when it cannot
// start (the user's process limit), notifications are dropped and the log
// says so once, and the daemon goes on. The connection is made when the
// first notification goes, from DBUS_SESSION_BUS_ADDRESS (or the user's
// bus in XDG_RUNTIME_DIR), and made again after it breaks. A notification
// goes only when a service owns the name: nothing is activated, and with no
// bus or no service nothing is sent. Each call waits at most kCallTimeout.
#pragma once

#include "daemon/platform/notifier.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

struct sd_bus;

namespace korvane::server {

class DaemonLog;

class SessionBusNotifier final : public Notifier {
 public:
  explicit SessionBusNotifier(const DaemonLog* log = nullptr,
                              std::chrono::milliseconds callTimeout = kCallTimeout);
  // Sends what is queued (each call bounded by the timeout), then closes.
  ~SessionBusNotifier() override;
  SessionBusNotifier(const SessionBusNotifier&) = delete;
  SessionBusNotifier& operator=(const SessionBusNotifier&) = delete;

  static constexpr std::chrono::milliseconds kCallTimeout{2000};
  // Notifications waiting beyond this are dropped: a stuck bus cannot make
  // the queue grow.
  static constexpr std::size_t kMaxQueued = 64;

 protected:
  void Send(const std::string& summary, const std::string& body) override;

 private:
  void Run();
  void Deliver(const std::string& summary, const std::string& body);
  bool Connect();

  const DaemonLog* log_;
  const std::chrono::milliseconds callTimeout_;
  std::mutex mutex_;
  std::condition_variable queued_;
  std::deque<std::pair<std::string, std::string>> queue_;
  bool stopping_ = false;
  bool senderFailed_ = false;  // the thread could not start: nothing is sent
  sd_bus* bus_ = nullptr;      // the sender thread's alone
  std::thread sender_;
};

}  // namespace korvane::server
