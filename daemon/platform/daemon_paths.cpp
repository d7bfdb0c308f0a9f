// What the daemon's folders mean to the guard on its own folders, the same
// on every system; where the folders are is in posix/ and windows/.
#include "daemon/platform/daemon_paths.h"

#include "daemon/base/own_folders.h"

namespace korvane::server {

void DaemonPaths::ResolveOwnFolders() { resolvedOwnFolders_ = ResolvedFolders(OwnFolders()); }

std::optional<std::string> DaemonPaths::OwnFolderTouchedBy(const std::string& path, bool moves) const {
  const Reach reach = moves ? Reach::Move : Reach::Into;
  if (resolvedOwnFolders_.empty()) return OwnFolderTouched(OwnFolders(), path, reach);
  return ResolvedOwnFolderTouched(resolvedOwnFolders_, path, reach);
}

}  // namespace korvane::server
