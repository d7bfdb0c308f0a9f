// The daemon processes that a test lets the library start: the test daemon
// program KorvaneBkgProc beside the test, told its script and where to log
// through the environment. Every process it logged is killed at the end.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace korvane::testing {

class DaemonProcesses {
 public:
  // Files go into folder, which must outlive this object.
  explicit DaemonProcesses(const std::string& folder);
  ~DaemonProcesses();
  DaemonProcesses(const DaemonProcesses&) = delete;
  DaemonProcesses& operator=(const DaemonProcesses&) = delete;

  // The script every daemon started from now on reads.
  void Script(const std::string& lines);

  std::vector<std::string> LogLines() const;
  // The processes that logged "start", in order.
  std::vector<pid_t> Started() const;
  // Waits until the log has at least count lines beginning with word.
  bool WaitForLines(const std::string& word, std::size_t count) const;

 private:
  std::string scriptPath_;
  std::string logPath_;
};

// True when the calling process has no child left to reap: the library
// must never leave a zombie in its host.
bool HasNoChildren();

}  // namespace korvane::testing
