#include "daemon/base/own_folders.h"

#include <filesystem>

namespace korvane::server {

// Paths are UTF-8 text, which std::filesystem takes as such only as char8_t
// (a char string is the system's code page on Windows).
std::optional<std::string> RealPath(const std::string& path) {
  std::error_code error;
  const std::filesystem::path real =
      std::filesystem::canonical(std::filesystem::path(std::u8string(path.begin(), path.end())), error);
  if (error) return std::nullopt;
  const std::u8string text = real.u8string();
  return std::string(text.begin(), text.end());
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
