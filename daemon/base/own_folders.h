// The daemon's own folders (state, runtime, data) and the guard that keeps
// requests away from them. Paths are judged where they really lead: a
// symbolic link on the way to the state folder is the state folder, and on
// Windows so are a junction, a short 8.3 name, and any other case or
// separator (path_rules.h).
#pragma once

#include "daemon/base/path_rules.h"

#include <optional>
#include <string>
#include <vector>

namespace korvane::server {

// The path with every symbolic link resolved. A part that does not exist
// yet is appended as written to where its existing parent leads. path must
// be absolute without ".." parts.
std::string ResolvedPath(const std::string& path);

// What a request does to the path it names.
enum class Reach {
  Into,  // writes into the path (a checkout, a new repository)
  Move,  // moves or deletes the path with all it holds
};

// The own folder that a request on path would touch, resolved; nothing when
// it touches none. Writing into an own folder or anything inside it touches
// it; moving or deleting also touches every own folder the path holds.
std::optional<std::string> OwnFolderTouched(const std::vector<std::string>& ownFolders, const std::string& path,
                                            Reach reach);

// The same for own folders resolved already (ResolvedFolders): a daemon
// resolves its own once they exist, not on every request.
std::optional<std::string> ResolvedOwnFolderTouched(const std::vector<std::string>& resolvedOwnFolders,
                                                    const std::string& path, Reach reach);

// Each folder with ResolvedPath; empty ones stay empty.
std::vector<std::string> ResolvedFolders(const std::vector<std::string>& folders);

// Whether path is folder or lies inside it; both resolved already, compared
// by the system's rules (ComparablePath).
bool IsWithin(const std::string& path, const std::string& folder);

}  // namespace korvane::server
