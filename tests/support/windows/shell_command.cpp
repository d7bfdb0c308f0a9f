// Wine starts an ELF program given to CreateProcessW but hands back no
// process handle, so the command writes its exit status to a file when it
// ends, and the test waits for that file to appear.
#include "support/shell_command.h"

#include "platform/windows_api.h"
#include "support/windows/windows_helpers.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <random>
#include <thread>

namespace korvane::testing {
namespace {

namespace fs = std::filesystem;

bool StartShell(const std::string& script) {
  std::string quoted = "Z:\\bin\\sh -c \"";
  for (char c : script) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  std::wstring commandLine = Wide(quoted + '"');
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  const BOOL started = ::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                        &startup, &process);
  const UniqueHandle thread(process.hThread), child(process.hProcess);
  return started;
}

}  // namespace

int RunShellCommand(const std::string& command) {
  std::random_device seed;
  const fs::path status = SharedTemporaryFolder() / ("korvane-status-" + std::to_string(seed()) + "-" +
                                                     std::to_string(seed()));
  // The status file appears whole: written aside, then renamed. Its name is
  // letters, digits and dashes, which the shell takes as they are.
  const std::string written = ShellPath(status.generic_string()), aside = written + ".tmp";
  if (!StartShell("(" + command + "); echo $? >" + aside + " && mv " + aside + " " + written)) {
    return -1;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (std::chrono::steady_clock::now() < deadline) {
    std::ifstream file(status);
    int code = -1;
    if (file >> code) {
      file.close();
      std::error_code ignored;
      fs::remove(status, ignored);
      return code;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return -1;
}

std::string ShellPath(const std::string& path) {
  const bool onDriveZ = path.size() >= 2 && (path[0] == 'Z' || path[0] == 'z') && path[1] == ':';
  std::string unixPath = onDriveZ ? path.substr(2) : path;
  std::replace(unixPath.begin(), unixPath.end(), '\\', '/');
  return unixPath;
}

std::filesystem::path SharedTemporaryFolder() { return "Z:/tmp"; }

}  // namespace korvane::testing
