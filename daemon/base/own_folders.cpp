#include "daemon/base/own_folders.h"

namespace korvane::server {

namespace {

// Where the last separator after the root is; npos when there is none.
std::size_t LastSeparator(const std::string& path, std::size_t root) {
  for (std::size_t at = path.size(); at > root; --at) {
    if (IsPathSeparator(path[at - 1])) return at - 1;
  }
  return std::string::npos;
}

}  // namespace

std::string ResolvedPath(const std::string& path) {
  if (std::optional<std::string> real = RealPath(path)) return *real;
  const std::size_t root = RootLength(path);
  if (path.size() <= root) return path;
  const std::size_t separator = LastSeparator(path, root);
  if (separator == std::string::npos) {
    // A name right after the root: joined to the root as it resolves. A
    // relative path, or one relative to a drive ("C:x"), stays as it is.
    if (root == 0 || !IsPathSeparator(path[root - 1])) return path;
    const std::string resolvedRoot = ResolvedPath(path.substr(0, root));
    return resolvedRoot + (IsPathSeparator(resolvedRoot.back()) ? "" : path.substr(root - 1, 1)) + path.substr(root);
  }
  const std::string resolvedParent = ResolvedPath(path.substr(0, separator));
  if (IsPathSeparator(resolvedParent.back())) return resolvedParent + path.substr(separator + 1);
  return resolvedParent + path.substr(separator);
}

bool IsWithin(const std::string& path, const std::string& folder) {
  const std::string comparablePath = ComparablePath(path);
  const std::string comparableFolder = ComparablePath(folder);
  if (!comparablePath.starts_with(comparableFolder)) return false;
  if (comparablePath.size() == comparableFolder.size()) return true;
  return IsPathSeparator(comparablePath[comparableFolder.size()]) ||
         (RootLength(comparableFolder) == comparableFolder.size() && !comparableFolder.empty());
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
