// The one place where POSIX errno values become Windows error numbers.
#pragma once

#include "win32_types.h"

namespace korvane::posix {

DWORD Win32ErrorFromErrno(int error);

// Sets the calling thread's last error from errno and returns FALSE, the
// shape of every failing BOOL call.
BOOL FailWithErrno(int error);

// Sets the calling thread's last error and returns FALSE.
BOOL Fail(DWORD win32Error);

}  // namespace korvane::posix
