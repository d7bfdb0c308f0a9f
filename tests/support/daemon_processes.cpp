// The daemon log, which both platforms read alike; starting and ending the
// processes is each platform's own.
#include "support/daemon_processes.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

namespace korvane::testing {

bool DaemonProcesses::WaitForLines(const std::string& word, std::size_t count) const {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (;;) {
    // From a u8string, so that Windows does not read the path in the ANSI
    // code page.
    std::ifstream log(std::filesystem::path(std::u8string(logPath_.begin(), logPath_.end())));
    std::size_t found = 0;
    for (std::string line; std::getline(log, line);) found += line.starts_with(word + " ") ? 1 : 0;
    if (found >= count) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace korvane::testing
