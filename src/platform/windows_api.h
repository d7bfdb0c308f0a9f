// The subset of the Windows API that the library is written against.
// On Windows this is <windows.h>; elsewhere posix/ implements each call with
// the Windows contract, so product code never needs to know which it got.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include "posix/win32_types.h"
#include "posix/win32_calls.h"
#endif
