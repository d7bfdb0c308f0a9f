// The library's load and unload hooks, which play the part of the Windows
// loader: load-time initialisation first, then the entry point with process
// attach; process detach at unload, before static objects are destroyed.
#include "runtime/module_entry.h"
#include "shell/resources.h"

#include <dlfcn.h>

namespace {

// The module handle of this library: the base address of the object file
// that holds this code (the shared library, or the program it is linked into).
HMODULE OwnModule() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&OwnModule), &info) == 0) return nullptr;
  return info.dli_fbase;
}

__attribute__((constructor)) void OnLoad() {
  korvane::runtime::RunLoadTimeInitialisation();
  DllMain(OwnModule(), DLL_PROCESS_ATTACH, nullptr);
  korvane::shell::RegisterResources(OwnModule());  // moves to the library's load-time list
}

__attribute__((destructor)) void OnUnload() {
  korvane::shell::UnregisterResources(OwnModule());  // moves to the library's load-time list
  DllMain(OwnModule(), DLL_PROCESS_DETACH, nullptr);
}

}  // namespace
