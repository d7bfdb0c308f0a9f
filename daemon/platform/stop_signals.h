#pragma once

#include "daemon/platform/native_handle.h"

#include <optional>
#include <string>

namespace korvane::server {

// Called first, before any thread starts: the signals that ask the daemon to
// stop (SIGTERM, SIGINT and SIGHUP on POSIX) are blocked in every thread to
// come, so that only StopSignals takes them, and a write to a connection
// its client closed fails rather than ends the process.
void SetUpSignals();

// The stop signals as an event of the loop rather than handled wherever
// they land (a signalfd on POSIX).
class StopSignals {
 public:
  StopSignals();  // throws std::system_error when the system gives none
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // Ready to read when a stop signal has come.
  NativeHandle Handle() const { return handle_; }

  // The name of the signal that came, if one did.
  std::optional<std::string> Take();

 private:
  NativeHandle handle_ = kNoHandle;
};

}  // namespace korvane::server
