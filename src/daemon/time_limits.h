// How long a replying command waits for the daemon's answer, by the kind of
// work it asks for. The limits are constants; no setting changes them.
#pragma once

#include "platform/windows_api.h"

namespace korvane::daemon {

enum class TimeLimitClass {
  LocalCall,  // the daemon answers from what it knows
  FsCall,     // file-system work
  HttpCall,   // a call to the hosting service
  SvnCall,    // Subversion work: no limit
};

struct TimeLimit {
  TimeLimitClass limitClass;
  const char* name;
  DWORD milliseconds;
};

// In the order of the load-time listing.
inline constexpr TimeLimit kTimeLimits[] = {
    {TimeLimitClass::LocalCall, "PIPE_WAIT_EVENT_TIMEOUT_LOCALCALL", 10000},
    {TimeLimitClass::FsCall, "PIPE_WAIT_EVENT_TIMEOUT_FSCALL", 120000},
    {TimeLimitClass::HttpCall, "PIPE_WAIT_EVENT_TIMEOUT_HTTPCALL", 30000},
    {TimeLimitClass::SvnCall, "PIPE_WAIT_EVENT_TIMEOUT_SVNCALL", INFINITE},
};

constexpr DWORD LimitOf(TimeLimitClass limitClass) {
  for (const TimeLimit& limit : kTimeLimits) {
    if (limit.limitClass == limitClass) return limit.milliseconds;
  }
  return INFINITE;
}

// Writes the listing of the limits that the library shows when it is loaded:
// a header straight to the debugger output, then one trace line per limit.
void WriteTimeLimitListing();

}  // namespace korvane::daemon
