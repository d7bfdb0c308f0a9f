// The library's load-time initialisation on Windows: a static object, which
// the C runtime constructs before it calls DllMain. When the library's code
// is linked into a program instead (the tests), no loader calls DllMain, so
// the same object attaches and detaches the module itself, as the POSIX
// build does for every load.
#include "runtime/module_entry.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

HMODULE OwnModule() { return reinterpret_cast<HMODULE>(&__ImageBase); }

bool LinkedIntoProgram() { return ::GetModuleHandleW(nullptr) == OwnModule(); }

class LoadTimeInitialisation {
 public:
  LoadTimeInitialisation() {
    korvane::runtime::RunLoadTimeInitialisation();
    if (LinkedIntoProgram()) DllMain(OwnModule(), DLL_PROCESS_ATTACH, nullptr);
  }
  ~LoadTimeInitialisation() {
    if (LinkedIntoProgram()) DllMain(OwnModule(), DLL_PROCESS_DETACH, nullptr);
  }
  LoadTimeInitialisation(const LoadTimeInitialisation&) = delete;
  LoadTimeInitialisation& operator=(const LoadTimeInitialisation&) = delete;
};

const LoadTimeInitialisation loadTimeInitialisation;

}  // namespace
