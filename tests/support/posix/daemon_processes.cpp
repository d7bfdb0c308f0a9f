#include "support/daemon_processes.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>

namespace korvane::testing {

DaemonProcesses::DaemonProcesses(const std::string& folder, const std::string&)
    : logPath_(folder + "/daemon.log") {
  ::setenv("KORVANE_TEST_DAEMON_LOG", logPath_.c_str(), 1);
}

// Every daemon program this test let the library start carries the test's
// log path in its environment; any of them still running is ended, also one
// that had not yet logged its start when the test finished.
DaemonProcesses::~DaemonProcesses() {
  const std::string marker = "KORVANE_TEST_DAEMON_LOG=" + logPath_;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream environment(entry.path() / "environ", std::ios::binary);
    for (std::string variable; std::getline(environment, variable, '\0');) {
      if (variable == marker) {
        ::kill(std::stoi(name), SIGKILL);
        break;
      }
    }
  }
  ::unsetenv("KORVANE_TEST_DAEMON_LOG");
}

bool HasNoChildren() {
  int status = 0;
  return ::waitpid(-1, &status, WNOHANG) == -1 && errno == ECHILD;
}

}  // namespace korvane::testing
