// The exports that start and stop the daemon and fetch its error texts.
// Each makes one link for the call, with the module handle.
#include "korvane/korvane.h"

#include "api/export_guard.h"
#include "api/hand_out.h"
#include "link/daemon_link.h"
#include "runtime/module_handle.h"

using korvane::api::Guarded;
using korvane::link::CDaemonLink;
using korvane::runtime::ModuleHandle;

extern "C" KORVANE_API int32_t Korvane_StartDaemon(void) {
  return Guarded([] { return CDaemonLink(ModuleHandle()).StartDaemon(); });
}

extern "C" KORVANE_API int32_t Korvane_StopDaemon(void) {
  return Guarded([] { return CDaemonLink(ModuleHandle()).StopDaemon(); });
}

// The result is the daemon call's alone: a missing output address or a
// failed allocation does not change it.
extern "C" KORVANE_API int32_t Korvane_GetErrorText(const char* key, char** errorText) {
  return Guarded([&] {
    std::string text;
    CDaemonLink link(ModuleHandle());
    if (!link.GetErrorText(key != nullptr ? key : "", text)) return false;
    korvane::api::HandOutText(errorText, text);
    return true;
  });
}
