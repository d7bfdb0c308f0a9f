// The module entry: what runs when a process loads and unloads the library.
#pragma once

#include "platform/windows_api.h"

namespace korvane::runtime {

// The library's module handle, recorded at process attach; null before.
HMODULE ModuleHandle();

// The library's load-time initialisation, which runs before the entry point:
// the processor-feature flag and the listing of the pipe time limits.
void RunLoadTimeInitialisation();

}  // namespace korvane::runtime

// The module entry point: records the module handle and brings APR up at
// process attach, takes APR down at process detach. TRUE in every case.
extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved);
