// The well-known name with the process id after it: ctest runs tests side by
// side, one process each.
#include "support/test_pipe_name.h"

#include "platform/windows_api.h"

namespace korvane::testing {

std::string TestPipeName() {
  static const std::string name = std::string(kWellKnownPipeName) + "-" + std::to_string(::GetCurrentProcessId());
  return name;
}

}  // namespace korvane::testing
