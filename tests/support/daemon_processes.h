// The daemon processes that a test lets the library start: the scripted
// daemon KorvaneBkgProc beside the test, told where to log through the
// environment. Every one still running is killed at the end.
#pragma once

#include "support/test_pipe_name.h"

#include <string>

namespace korvane::testing {

class DaemonProcesses {
 public:
  // The log goes into folder, which must outlive this object. The daemons
  // serve the pipe name given (on POSIX always the well-known one, which the
  // test's runtime folder already makes its own).
  explicit DaemonProcesses(const std::string& folder, const std::string& pipeName = TestPipeName());
  ~DaemonProcesses();
  DaemonProcesses(const DaemonProcesses&) = delete;
  DaemonProcesses& operator=(const DaemonProcesses&) = delete;

  // Waits until the log has at least count lines beginning with word.
  bool WaitForLines(const std::string& word, std::size_t count) const;

 private:
  std::string logPath_;
};

// True when the library left nothing of a child process behind in its host.
// On POSIX: no child left to reap, so no zombie. On Windows, where an exited
// process lives on for as long as a handle to it is open, the equivalent:
// this process holds no handle to a process it started (alive or exited) nor
// to a thread of another process, as CreateProcessW hands out both. False too
// when the process's handles cannot be listed.
bool HasNoChildren();

}  // namespace korvane::testing
