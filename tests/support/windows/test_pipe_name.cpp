// Windows has one pipe namespace for every process, and ctest runs tests side
// by side, one process each: a test process serves and opens a name of its
// own, the well-known one with the process id after it.
#include "support/test_pipe_name.h"

#include "platform/windows_api.h"

namespace korvane::testing {

std::string TestPipeName() {
  static const std::string name = std::string(kWellKnownPipeName) + "-" + std::to_string(::GetCurrentProcessId());
  return name;
}

}  // namespace korvane::testing
