// The daemon pipe a test talks to. POSIX tests each have a runtime folder of
// their own, so the well-known name is already theirs; Windows has one pipe
// namespace, so there each test process serves and opens a name of its own.
#pragma once

#include "protocol/commands.h"

#include <string>

namespace korvane::testing {

inline constexpr const char* kWellKnownPipeName = protocol::kPipeName;

// The well-known name on POSIX; a name unique to this process on Windows.
std::string TestPipeName();

}  // namespace korvane::testing
