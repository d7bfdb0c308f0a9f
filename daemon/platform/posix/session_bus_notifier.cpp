#include "daemon/platform/posix/session_bus_notifier.h"

#include "daemon/base/daemon_log.h"

#include <systemd/sd-bus.h>

#include <cstring>
#include <system_error>

namespace korvane::server {

namespace {

constexpr char kService[] = "org.freedesktop.Notifications";
constexpr char kObject[] = "/org/freedesktop/Notifications";
constexpr char kApplication[] = "Korvane";
// The service's default display time.
constexpr std::int32_t kDefaultExpiry = -1;

}  // namespace

SessionBusNotifier::SessionBusNotifier(const DaemonLog* log, std::chrono::milliseconds callTimeout)
    : log_(log), callTimeout_(callTimeout) {}

SessionBusNotifier::~SessionBusNotifier() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  queued_.notify_one();
  if (sender_.joinable()) sender_.join();
  if (bus_ != nullptr) sd_bus_flush_close_unref(bus_);
}

void SessionBusNotifier::Send(const std::string& summary, const std::string& body) {
  {
    std::lock_guard lock(mutex_);
    if (stopping_ || senderFailed_ || queue_.size() >= kMaxQueued) return;
    if (!sender_.joinable()) {
      try {
        sender_ = std::thread([this] { Run(); });
      } catch (const std::system_error& error) {
        senderFailed_ = true;
        if (log_ != nullptr) log_->Warning(std::string("desktop notifications are off: ") + error.what());
        return;
      }
    }
    queue_.emplace_back(summary, body);
  }
  queued_.notify_one();
}

void SessionBusNotifier::Run() {
  for (;;) {
    std::pair<std::string, std::string> next;
    {
      std::unique_lock lock(mutex_);
      queued_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (queue_.empty()) return;  // stopping, and all sent
      next = std::move(queue_.front());
      queue_.pop_front();
    }
    Deliver(next.first, next.second);
  }
}

bool SessionBusNotifier::Connect() {
  if (bus_ != nullptr && sd_bus_is_open(bus_) > 0) return true;
  if (bus_ != nullptr) bus_ = sd_bus_flush_close_unref(bus_);
  if (sd_bus_open_user(&bus_) < 0) {
    bus_ = nullptr;
    return false;
  }
  sd_bus_set_method_call_timeout(bus_, static_cast<std::uint64_t>(callTimeout_.count()) * 1000);
  return true;
}

void SessionBusNotifier::Deliver(const std::string& summary, const std::string& body) {
  if (!Connect()) return;  // no session bus: nobody to tell
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  // Only a running service is told; none is started for it.
  int owned = 0;
  if (sd_bus_call_method(bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                         "NameHasOwner", &error, &reply, "s", kService) >= 0) {
    if (sd_bus_message_read(reply, "b", &owned) < 0) owned = 0;
  }
  reply = sd_bus_message_unref(reply);
  sd_bus_error_free(&error);
  if (owned == 0) return;

  sd_bus_message* call = nullptr;
  int result = sd_bus_message_new_method_call(bus_, &call, kService, kObject, kService, "Notify");
  if (result >= 0) result = sd_bus_message_set_auto_start(call, 0);
  if (result >= 0) {
    result = sd_bus_message_append(call, "susssasa{sv}i", kApplication, 0u, "", summary.c_str(), body.c_str(), 0, 0,
                                   kDefaultExpiry);
  }
  if (result >= 0) result = sd_bus_call(bus_, call, 0, &error, &reply);
  if (result < 0 && log_ != nullptr) {
    log_->Warning(std::string("the desktop notification could not be shown: ") +
                  (error.message != nullptr ? error.message : std::strerror(-result)));
  }
  sd_bus_message_unref(reply);
  sd_bus_message_unref(call);
  sd_bus_error_free(&error);
}

std::unique_ptr<Notifier> MakeDesktopNotifier(const DaemonLog& log) {
  return std::make_unique<SessionBusNotifier>(&log);
}

}  // namespace korvane::server
