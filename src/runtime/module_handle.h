// The library's module handle: recorded once by the module entry, read by
// everything that finds its own files or resources through it.
#pragma once

#include "platform/windows_api.h"

namespace korvane::runtime {

// The library's module handle; null before the module entry has run.
HMODULE ModuleHandle();

// Records the handle. Called by the module entry at process attach.
void RecordModuleHandle(HMODULE module);

}  // namespace korvane::runtime
