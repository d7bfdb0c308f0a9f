// The export that asks a working copy, not the daemon, about a path.
#include "korvane/korvane.h"

#include "api/export_guard.h"
#include "svn/svn_path.h"

using korvane::api::Guarded;
using korvane::svn::SVNPath;

extern "C" KORVANE_API int32_t Korvane_IsVersioned(const KorvaneChar* path) {
  // KorvaneChar is char16_t, or the 16-bit wchar_t on Windows.
  return Guarded([&] { return SVNPath(reinterpret_cast<const char16_t*>(path)).IsVersioned(); });
}
