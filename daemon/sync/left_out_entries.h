// What automatic sync leaves out of a shared folder, and why. Everything a
// person puts in the folder is synced, with two exceptions:
//   - system clutter that file managers leave everywhere (.DS_Store,
//     Thumbs.db, desktop.ini), never synced and shown once;
//   - entries Subversion cannot version: a named pipe, a socket or a device,
//     a name with a line break or another control character, a name that is
//     not UTF-8 (Subversion cannot work in a folder that holds one: the
//     folder waits, said once, until it is renamed), a file named .svn, a path longer than Subversion handles, a
//     file or folder that cannot be read, and a working copy of its own
//     inside the folder. Each is left out of the commit it would have
//     failed, reported once with the reason, and tried again when it
//     changes; the rest of the folder syncs on.
// Subversion's developer-oriented ignore patterns (*.o, *~, ...) do not
// apply to shared folders.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace korvane::server {

// The longest path automatic sync hands to Subversion.
inline constexpr std::size_t kLongestSyncedPath = 4000;

// Whether name is system clutter, which is never synced.
bool IsClutter(std::string_view name);

// Why the entry at path cannot be versioned; empty when it can. Looks at the
// entry without opening it (a named pipe opened would block).
std::string WhyNotVersionable(const std::string& path);

// Whether the tree at folder holds an entry that is left out (clutter
// included), so that it must be added entry by entry.
bool HoldsLeftOut(const std::string& folder);

// The entries below folder (not in .svn) whose names are not UTF-8.
// Subversion cannot list a folder that holds one, so no status, commit or
// update of that folder works until it is renamed.
std::vector<std::string> NamesNotUtf8(const std::string& folder);

}  // namespace korvane::server
