#include "daemon/base/own_folders.h"

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

std::vector<std::string> ResolvedFolders(const std::vector<std::string>& folders) {
  std::vector<std::string> resolved;
  resolved.reserve(folders.size());
  for (const std::string& folder : folders) resolved.push_back(folder.empty() ? folder : ResolvedPath(folder));
  return resolved;
}

std::optional<std::string> ResolvedOwnFolderTouched(const std::vector<std::string>& resolvedOwnFolders,
                                                    const std::string& path, Reach reach) {
  const std::string resolved = ResolvedPath(path);
  for (const std::string& folder : resolvedOwnFolders) {
    if (folder.empty()) continue;
    if (IsWithin(resolved, folder) || (reach == Reach::Move && IsWithin(folder, resolved))) return folder;
  }
  return std::nullopt;
}

std::optional<std::string> OwnFolderTouched(const std::vector<std::string>& ownFolders, const std::string& path,
                                            Reach reach) {
  return ResolvedOwnFolderTouched(ResolvedFolders(ownFolders), path, reach);
}

}  // namespace korvane::server
