// What running a shell command takes the same on both platforms.
#include "support/shell_command.h"

namespace korvane::testing {

std::string ShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace korvane::testing
