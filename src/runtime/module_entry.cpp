// The module entry point and the load-time initialisation it follows.
#include "runtime/module_entry.h"

#include "daemon/time_limits.h"
#include "runtime/apr_runtime.h"

#include <atomic>

namespace korvane::runtime {
namespace {
std::atomic<HMODULE> moduleHandle{nullptr};
}

HMODULE ModuleHandle() { return moduleHandle.load(std::memory_order_acquire); }

void RunLoadTimeInitialisation() {
  daemon::WriteTimeLimitListing();
}

}  // namespace korvane::runtime

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
  using namespace korvane::runtime;
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      moduleHandle.store(module, std::memory_order_release);
      AprRuntime::Initialize();
      break;
    case DLL_PROCESS_DETACH:
      AprRuntime::Terminate();
      break;
    default:
      break;
  }
  return TRUE;
}
