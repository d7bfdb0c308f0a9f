// What the scripted daemon needs of its platform: its log file, its
// environment, the claim on its pipe name and the wait for the stop.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace korvane::test_daemon {

std::uint32_t CurrentProcessId();

// The environment variable's value as a path, when it is set and not empty.
std::optional<std::filesystem::path> PathFromEnvironment(const char* variable);

// A file that gets whole lines appended, each with a single write, so that
// daemons writing at once do not mix their lines. Without a path it drops
// every line.
class LogFile {
 public:
  explicit LogFile(const std::optional<std::filesystem::path>& path);
  ~LogFile();
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  void Append(const std::string& line) const;

 private:
  std::intptr_t handle_;  // a file descriptor or a HANDLE; -1 for none
};

// Whether this process may serve the pipe. False when a live server already
// answers there (a connection is tried first, and a busy pipe counts), or
// when another daemon holds the start lock: of two daemons started at once,
// only one binds. The lock is held until the process ends.
bool ClaimPipe(const std::string& pipeName);

// The daemon's stop: raised by a connection thread after the stop request,
// or by the system's stop signals (SIGTERM, SIGINT, SIGHUP; on Windows the
// console's Ctrl+C, Ctrl+Break and close). Made before any thread starts.
class StopSignal {
 public:
  StopSignal();
  ~StopSignal();
  StopSignal(const StopSignal&) = delete;
  StopSignal& operator=(const StopSignal&) = delete;

  void Raise() const;
  void Wait() const;
};

}  // namespace korvane::test_daemon
