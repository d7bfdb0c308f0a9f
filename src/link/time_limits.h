// How long a replying command waits for the daemon's answer: the classes and
// their milliseconds are the protocol's (protocol/commands.h); the library
// lists them when it is loaded.
#pragma once

#include "platform/windows_api.h"
#include "protocol/commands.h"

namespace korvane::link {

using protocol::LimitOf;
using protocol::TimeLimitClass;

static_assert(protocol::kNoTimeLimit == INFINITE, "no limit is a wait with INFINITE");

// Writes the listing of the limits that the library shows when it is loaded:
// a header straight to the debugger output, then one trace line per limit.
void WriteTimeLimitListing();

}  // namespace korvane::link
