#include "daemon/sync/left_out_entries.h"

#include "daemon/base/utf8_path.h"
#include "daemon/platform/entry_kind.h"

#include "names.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>


namespace korvane::server {

namespace {

namespace fs = std::filesystem;

constexpr std::array<std::string_view, 3> kClutter = {".DS_Store", "Thumbs.db", "desktop.ini"};

bool HasControlCharacter(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

}  // namespace

bool IsClutter(std::string_view name) {
  return std::any_of(kClutter.begin(), kClutter.end(), [&](std::string_view clutter) {
    return clutter.size() == name.size() &&
           std::equal(name.begin(), name.end(), clutter.begin(),
                      [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == std::tolower(b); });
  });
}

std::string WhyNotVersionable(const std::string& path) {
  const std::string name = TextOf(PathOf(path).filename());
  if (IsClutter(name)) return "it is system clutter, which is never synced";
  if (name == ".svn") return "the name .svn is Subversion's own";
  if (HasControlCharacter(name)) return "its name holds a line break or another control character";
  if (!names::IsUtf8(name)) return "its name is not UTF-8";
  if (path.size() > kLongestSyncedPath) return "its path is longer than " + std::to_string(kLongestSyncedPath) + " bytes";
  const EntryKind kind = KindOf(path);
  if (!kind.exists) return {};  // gone meanwhile: nothing to leave out
  if (!kind.problem.empty()) return kind.problem;
  if (kind.folder) {
    std::error_code error;
    if (fs::is_directory(fs::symlink_status(PathOf(path + "/.svn"), error))) return "it is a working copy of its own";
  }
  return {};
}

bool HoldsLeftOut(const std::string& folder) {
  std::error_code error;
  for (fs::recursive_directory_iterator walk(PathOf(folder), error), end; walk != end; walk.increment(error)) {
    if (error) return true;
    if (!WhyNotVersionable(TextOf(walk->path())).empty()) return true;
  }
  return static_cast<bool>(error);
}

std::vector<std::string> NamesNotUtf8(const std::string& folder) {
  std::vector<std::string> found;
  std::error_code error;
  for (fs::recursive_directory_iterator walk(PathOf(folder), fs::directory_options::skip_permission_denied, error), end;
       !error && walk != end; walk.increment(error)) {
    const std::string name = TextOf(walk->path().filename());
    if (name == ".svn") {
      walk.disable_recursion_pending();
      continue;
    }
    if (!names::IsUtf8(name)) {
      found.push_back(TextOf(walk->path()));
      walk.disable_recursion_pending();
    }
  }
  return found;
}

}  // namespace korvane::server
