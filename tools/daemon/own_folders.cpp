#include "own_folders.h"

#include <cstdlib>

namespace korvane::server {

std::optional<std::string> RealPath(const std::string& path) {
  char* resolved = realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return std::nullopt;
  std::string text = resolved;
  std::free(resolved);
  return text;
}

std::string ResolvedPath(const std::string& path) {
  if (std::optional<std::string> real = RealPath(path)) return *real;
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos || path == "/") return path;
  const std::string parent = slash == 0 ? "/" : path.substr(0, slash);
  const std::string resolvedParent = ResolvedPath(parent);
  return (resolvedParent == "/" ? "" : resolvedParent) + path.substr(slash);
}

bool IsWithin(const std::string& path, const std::string& folder) {
  if (folder == "/") return true;
  return path == folder || (path.starts_with(folder) && path[folder.size()] == '/');
}

std::optional<std::string> OwnFolderTouched(const std::vector<std::string>& ownFolders, const std::string& path,
                                            Reach reach) {
  const std::string resolved = ResolvedPath(path);
  for (const std::string& own : ownFolders) {
    if (own.empty()) continue;
    const std::string folder = ResolvedPath(own);
    if (IsWithin(resolved, folder) || (reach == Reach::Move && IsWithin(folder, resolved))) return folder;
  }
  return std::nullopt;
}

}  // namespace korvane::server
