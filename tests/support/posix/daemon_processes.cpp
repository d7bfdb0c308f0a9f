#include "support/daemon_processes.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <thread>

namespace korvane::testing {

DaemonProcesses::DaemonProcesses(const std::string& folder)
    : scriptPath_(folder + "/daemon.script"), logPath_(folder + "/daemon.log") {
  Script("");
  ::setenv("KORVANE_TEST_DAEMON_SCRIPT", scriptPath_.c_str(), 1);
  ::setenv("KORVANE_TEST_DAEMON_LOG", logPath_.c_str(), 1);
}

// Every daemon program this test let the library start carries the test's
// log path in its environment; any of them still running is ended, also one
// that had not yet logged its start when the test finished.
DaemonProcesses::~DaemonProcesses() {
  for (ProcessId pid : Started()) ::kill(static_cast<pid_t>(pid), SIGKILL);
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
  ::unsetenv("KORVANE_TEST_DAEMON_SCRIPT");
  ::unsetenv("KORVANE_TEST_DAEMON_LOG");
}

void DaemonProcesses::Script(const std::string& lines) { std::ofstream(scriptPath_, std::ios::trunc) << lines; }

std::vector<std::string> DaemonProcesses::LogLines() const {
  std::ifstream log(logPath_);
  std::vector<std::string> lines;
  for (std::string line; std::getline(log, line);) lines.push_back(line);
  return lines;
}

std::vector<ProcessId> DaemonProcesses::Started() const {
  std::vector<ProcessId> pids;
  for (const std::string& line : LogLines()) {
    std::istringstream words(line);
    std::string word;
    ProcessId pid = 0;
    if (words >> word >> pid && word == "start") pids.push_back(pid);
  }
  return pids;
}

bool DaemonProcesses::WaitForLines(const std::string& word, std::size_t count) const {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (;;) {
    std::size_t found = 0;
    for (const std::string& line : LogLines()) found += line.rfind(word + " ", 0) == 0 ? 1 : 0;
    if (found >= count) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

bool HasNoChildren() {
  int status = 0;
  return ::waitpid(-1, &status, WNOHANG) == -1 && errno == ECHILD;
}

}  // namespace korvane::testing
