// The subset of the Windows API that the library is written against.
// On Windows this is <windows.h>; elsewhere posix/ implements each call with
// the Windows contract, so product code never needs to know which it got.
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>
// Older SDK and mingw-w64 headers lack the AVX2 feature number; the system
// has answered it since Windows 10.
#ifndef PF_AVX2_INSTRUCTIONS_AVAILABLE
#define PF_AVX2_INSTRUCTIONS_AVAILABLE 40
#endif
#else
#include "posix/win32_types.h"
#include "posix/win32_calls.h"
#include "posix/win32_registry.h"
#include "posix/win32_menus.h"
#include "posix/win32_shell.h"
#endif
