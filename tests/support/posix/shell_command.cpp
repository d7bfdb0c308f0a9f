#include "support/shell_command.h"

#include <cstdlib>
#include <sys/wait.h>

namespace korvane::testing {

int RunShellCommand(const std::string& command) {
  const int status = std::system(command.c_str());
  return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ShellPath(const std::string& path) { return path; }

std::filesystem::path SharedTemporaryFolder() { return std::filesystem::temp_directory_path(); }

}  // namespace korvane::testing
