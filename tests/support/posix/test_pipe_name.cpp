#include "support/test_pipe_name.h"

namespace korvane::testing {

std::string TestPipeName() { return kWellKnownPipeName; }

}  // namespace korvane::testing
