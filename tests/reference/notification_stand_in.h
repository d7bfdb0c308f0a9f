// A session bus of a test's own (dbus-daemon) and a stand-in notification
// service on it that records each Notify it is sent, for tests of the
// daemon's desktop notifications.
#pragma once

#include <systemd/sd-bus.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <signal.h>
#include <string>
#include <thread>
#include <vector>

namespace korvane::stand_in {

class PrivateBus {
 public:
  PrivateBus() {
    std::FILE* started = ::popen("dbus-daemon --session --fork --print-address=1 --print-pid=1 2>/dev/null", "r");
    if (started == nullptr) return;
    char line[512] = {};
    if (std::fgets(line, sizeof line, started) != nullptr) address_ = line;
    address_.erase(address_.find_last_not_of("\n ") + 1);
    if (std::fgets(line, sizeof line, started) != nullptr) pid_ = std::atoi(line);
    ::pclose(started);
  }
  ~PrivateBus() {
    if (pid_ > 0) ::kill(pid_, SIGTERM);
  }
  bool Up() const { return pid_ > 0 && !address_.empty(); }
  const std::string& Address() const { return address_; }

 private:
  std::string address_;
  int pid_ = 0;
};

struct Told {
  std::string application, summary, body;
  bool operator==(const Told&) const = default;
};

// Owns org.freedesktop.Notifications on the bus and records each Notify.
class StandInService {
 public:
  explicit StandInService(const std::string& address) {
    owns_ = sd_bus_new(&bus_) >= 0 && sd_bus_set_address(bus_, address.c_str()) >= 0 &&
            sd_bus_set_bus_client(bus_, 1) >= 0 && sd_bus_start(bus_) >= 0 &&
            sd_bus_add_object_vtable(bus_, nullptr, "/org/freedesktop/Notifications", "org.freedesktop.Notifications",
                                     kTable, this) >= 0 &&
            sd_bus_request_name(bus_, "org.freedesktop.Notifications", 0) >= 0;
    if (!owns_) return;
    thread_ = std::thread([this] {
      while (!stopping_) {
        if (sd_bus_process(bus_, nullptr) == 0) sd_bus_wait(bus_, 50'000);
      }
    });
  }
  ~StandInService() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
    sd_bus_flush_close_unref(bus_);
  }
  bool Owns() const { return owns_; }
  std::vector<Told> Recorded() {
    std::lock_guard lock(mutex_);
    return told_;
  }

 private:
  static int OnNotify(sd_bus_message* call, void* self, sd_bus_error*) {
    const char *application = nullptr, *icon = nullptr, *summary = nullptr, *body = nullptr;
    std::uint32_t replaces = 0;
    int read = sd_bus_message_read(call, "susss", &application, &replaces, &icon, &summary, &body);
    if (read >= 0) read = sd_bus_message_skip(call, "asa{sv}i");
    if (read < 0) return read;
    auto* service = static_cast<StandInService*>(self);
    std::lock_guard lock(service->mutex_);
    service->told_.push_back({application, summary, body});
    return sd_bus_reply_method_return(call, "u", static_cast<std::uint32_t>(service->told_.size()));
  }
  static constexpr sd_bus_vtable kTable[] = {
      SD_BUS_VTABLE_START(0),
      SD_BUS_METHOD("Notify", "susssasa{sv}i", "u", OnNotify, SD_BUS_VTABLE_UNPRIVILEGED),
      SD_BUS_VTABLE_END,
  };

  sd_bus* bus_ = nullptr;
  bool owns_ = false;
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;
  std::vector<Told> told_;
  std::thread thread_;
};

}  // namespace korvane::stand_in
