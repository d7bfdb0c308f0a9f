// The one place where POSIX errno values become Windows error numbers.
#pragma once

#include "win32_types.h"

#include <exception>

namespace korvane::posix {

DWORD Win32ErrorFromErrno(int error);

// Sets the calling thread's last error from errno and returns FALSE, the
// shape of every failing BOOL call.
BOOL FailWithErrno(int error);

// Sets the calling thread's last error and returns FALSE.
BOOL Fail(DWORD win32Error);

// Runs a call that may allocate; running out of memory fails the call with
// ERROR_NOT_ENOUGH_MEMORY instead of unwinding into the host.
template <typename Result, typename Call>
Result Guarded(Result failure, Call call) noexcept {
  try {
    return call();
  } catch (const std::exception&) {
    Fail(ERROR_NOT_ENOUGH_MEMORY);
    return failure;
  }
}

}  // namespace korvane::posix
