// Each POSIX test has a runtime folder of its own, so the well-known name
// already leads to a socket of its own.
#include "support/test_pipe_name.h"

namespace korvane::testing {

std::string TestPipeName() { return kWellKnownPipeName; }

}  // namespace korvane::testing
