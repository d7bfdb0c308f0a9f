// What the system loader does for a module: call its entry point with
// process attach once the module's static objects exist, and with process
// detach before they go. On Windows the loader calls a DLL's DllMain itself;
// when the same code is linked into a program instead (the tests), nobody
// would, so the module calls it. On POSIX no loader knows DllMain, so the
// module always calls it, from its load and unload.
//
// A module defines one object of this type at namespace scope, after its
// entry point: `const platform::ModuleLoader<&DllMain> loader;`.
#pragma once

#include "platform/windows_api.h"

#ifndef _WIN32
#include <dlfcn.h>
#else
extern "C" IMAGE_DOS_HEADER __ImageBase;
#endif

namespace korvane::platform {

using ModuleEntry = BOOL(WINAPI*)(HINSTANCE, DWORD, LPVOID);

template <ModuleEntry Entry>
class ModuleLoader {
 public:
  ModuleLoader() {
    if (LoaderCallsEntry()) return;
    Entry(OwnModule(), DLL_PROCESS_ATTACH, nullptr);
  }
  ~ModuleLoader() {
    if (LoaderCallsEntry()) return;
    Entry(OwnModule(), DLL_PROCESS_DETACH, nullptr);
  }
  ModuleLoader(const ModuleLoader&) = delete;
  ModuleLoader& operator=(const ModuleLoader&) = delete;

 private:
#ifdef _WIN32
  static HMODULE OwnModule() { return reinterpret_cast<HMODULE>(&__ImageBase); }
  static bool LoaderCallsEntry() { return ::GetModuleHandleW(nullptr) != OwnModule(); }
#else
  // The base address of the object file that holds the entry point: the
  // shared library, or the program it is linked into.
  static HMODULE OwnModule() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(Entry), &info) == 0) return nullptr;
    return info.dli_fbase;
  }
  static bool LoaderCallsEntry() { return false; }
#endif
};

}  // namespace korvane::platform
