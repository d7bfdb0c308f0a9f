#pragma once

#include "daemon/platform/native_handle.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

namespace korvane::server {

// A signal one thread raises for another that waits on it beside other
// things (the event loop, the sync thread): raised any number of times, it
// stays ready until taken.
class WakeUp {
 public:
  WakeUp();  // throws std::system_error when the system gives none
  ~WakeUp();
  WakeUp(const WakeUp&) = delete;
  WakeUp& operator=(const WakeUp&) = delete;

  void Raise();

  // How often it was raised since last taken; 0 when it was not.
  std::uint64_t Take();

  // What a waiter waits on for it to be ready (a descriptor on POSIX, an event on Windows).
  NativeHandle Handle() const { return handle_; }

 private:
  NativeHandle handle_ = kNoHandle;
  // The count, where the system's wake-up keeps none (an event on Windows).
  std::atomic<std::uint64_t> raised_{0};
};

// Waits at most limit for the watched handle (a FolderWatcher's) or the
// wake-up to be ready. Whether the watched one is; false with problem set
// when the wait itself failed.
bool WaitReady(NativeHandle watched, const WakeUp& wakeUp, std::chrono::milliseconds limit, bool& watchedReady,
               std::string& problem);

}  // namespace korvane::server
