// The log of the daemon processes, which both platforms read alike; starting and ending the processes is each
// platform's own.
#include "support/daemon_processes.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace korvane::testing {
namespace {

// The file a UTF-8 path names, on Windows too, where a narrow path would be
// read in the ANSI code page.
std::filesystem::path FilePath(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

}  // namespace

std::vector<std::string> DaemonProcesses::LogLines() const {
  std::ifstream log(FilePath(logPath_));
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

}  // namespace korvane::testing
