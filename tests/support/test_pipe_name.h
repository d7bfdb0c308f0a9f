// The daemon pipe a test talks to. POSIX tests each have a runtime folder of
// their own, so the well-known name is already theirs; Windows has one pipe
// namespace, so there each test process has a name of its own.
#pragma once

#include "protocol/commands.h"

#include <string>

namespace korvane::testing {

inline constexpr const char* kWellKnownPipeName = protocol::kPipeName;

std::string TestPipeName();

}  // namespace korvane::testing
