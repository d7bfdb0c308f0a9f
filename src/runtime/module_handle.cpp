// The module handle, set once at process attach and read from any thread.
#include "runtime/module_handle.h"

#include <atomic>

namespace korvane::runtime {
namespace {
std::atomic<HMODULE> moduleHandle{nullptr};
}

HMODULE ModuleHandle() { return moduleHandle.load(std::memory_order_acquire); }

void RecordModuleHandle(HMODULE module) { moduleHandle.store(module, std::memory_order_release); }

}  // namespace korvane::runtime
