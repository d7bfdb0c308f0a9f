#include "link/time_limits.h"

#include "runtime/debug_trace.h"

#include <cstdint>

namespace korvane::link {

void WriteTimeLimitListing() {
  OutputDebugStringA("Displaying NP timeouts (Release):");
  for (const protocol::TimeLimit& limit : protocol::kTimeLimits) {
    // INFINITE is shown as the signed number it is, -1.
    const long shown = static_cast<std::int32_t>(limit.milliseconds);
    if (limit.milliseconds == protocol::kNoTimeLimit) {
      KORVANE_TRACE("  %-32s = %ld (INFINITE)", limit.name, shown);
    } else {
      KORVANE_TRACE("  %-32s = %ld", limit.name, shown);
    }
  }
}

}  // namespace korvane::link
