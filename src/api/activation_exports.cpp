// The activation and status exports. A result of 1 from a one-way export
// means only that the command was written to the daemon's pipe.
#include "korvane/korvane.h"

#include "api/export_guard.h"
#include "api/hand_out.h"
#include "api/text_argument.h"
#include "link/daemon_link.h"
#include "runtime/module_handle.h"

using korvane::api::Delivered;
using korvane::api::Guarded;
using korvane::api::HandOutText;
using korvane::api::TextArgument;
using korvane::link::CDaemonLink;
using korvane::runtime::ModuleHandle;

extern "C" KORVANE_API int32_t Korvane_GetActivations(char** list) {
  return Guarded([&] {
    std::string text;
    if (!CDaemonLink(ModuleHandle()).GetActivations(text)) return false;
    return Delivered(HandOutText(list, text));
  });
}

extern "C" KORVANE_API int32_t Korvane_ActivatePath(const KorvaneChar* path, int32_t mode) {
  return Guarded([&] {
    if (path == nullptr || mode < 1 || mode > 3) return false;
    return CDaemonLink(ModuleHandle()).ActivatePath(TextArgument(path), mode);
  });
}

extern "C" KORVANE_API int32_t Korvane_DeactivatePath(const KorvaneChar* path) {
  return Guarded([&] {
    if (path == nullptr) return false;
    return CDaemonLink(ModuleHandle()).DeactivatePath(TextArgument(path));
  });
}

extern "C" KORVANE_API int32_t Korvane_Checkout(const KorvaneChar* url, const KorvaneChar* path, uint8_t mode) {
  return Guarded([&] {
    return CDaemonLink(ModuleHandle()).Checkout(TextArgument(url), TextArgument(path), static_cast<int32_t>(mode));
  });
}

// Hands out the whole status record, mode|text1|text2|text3|.
extern "C" KORVANE_API int32_t Korvane_GetStatus(const KorvaneChar* path, char** status) {
  return Guarded([&] {
    if (path == nullptr) return false;
    korvane::link::PathStatusInfo record;
    if (!CDaemonLink(ModuleHandle()).GetStatus(TextArgument(path), record)) return false;
    return Delivered(HandOutText(status, record.Text()));
  });
}
