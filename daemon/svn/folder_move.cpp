#include "daemon/svn/folder_move.h"

#include "daemon/base/utf8_path.h"
#include "daemon/platform/file_system.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>

namespace korvane::server {

namespace {

namespace fs = std::filesystem;


bool SameContent(const fs::path& left, const fs::path& right) {
  std::ifstream a(left, std::ios::binary);
  std::ifstream b(right, std::ios::binary);
  if (!a || !b) return false;
  char bufferA[65536];
  char bufferB[65536];
  for (;;) {
    a.read(bufferA, sizeof bufferA);
    b.read(bufferB, sizeof bufferB);
    if (a.gcount() != b.gcount() || std::memcmp(bufferA, bufferB, static_cast<std::size_t>(a.gcount())) != 0) {
      return false;
    }
    if (!a || !b) return !a && !b;
  }
}

bool SameEntry(const fs::path& left, const fs::path& right) {
  std::error_code error;
  const fs::file_status a = fs::symlink_status(left, error);
  if (error) return false;
  const fs::file_status b = fs::symlink_status(right, error);
  if (error || a.type() != b.type()) return false;
  if (a.type() != fs::file_type::symlink && a.permissions() != b.permissions()) return false;
  switch (a.type()) {
    case fs::file_type::symlink:
      return fs::read_symlink(left, error) == fs::read_symlink(right, error) && !error;
    case fs::file_type::regular:
      return fs::file_size(left, error) == fs::file_size(right, error) && !error && SameContent(left, right);
    case fs::file_type::directory:
      return SameTree(TextOf(left), TextOf(right));
    default:
      return true;  // fs::copy refuses other kinds, so none is ever copied
  }
}

std::set<std::string> Names(const fs::path& folder, std::error_code& error) {
  std::set<std::string> names;
  for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
    names.insert(TextOf(entry->path().filename()));
  }
  return names;
}

// Removes the tree depth first, one entry at a time; stops at the first
// entry that will not go.
bool RemoveTree(const fs::path& path, const MoveCalls& calls, int& failedErrno, std::string& failedPath) {
  std::error_code error;
  if (fs::symlink_status(path, error).type() == fs::file_type::directory) {
    const std::set<std::string> names = Names(path, error);
    if (error) {
      failedErrno = error.value();
      failedPath = TextOf(path);
      return false;
    }
    for (const std::string& name : names) {
      if (!RemoveTree(path / PathOf(name), calls, failedErrno, failedPath)) return false;
    }
  }
  if (calls.remove(TextOf(path).c_str()) != 0) {
    failedErrno = errno;
    failedPath = TextOf(path);
    return false;
  }
  return true;
}

// Removes a copy this move made, whatever its entries' permissions.
void RemoveCopy(const std::string& to) {
  int ignoredErrno = 0;
  std::string ignoredPath;
  RemoveTree(PathOf(to), SystemMoveCalls(), ignoredErrno, ignoredPath);
}

constexpr fs::copy_options kCopyTree = fs::copy_options::recursive | fs::copy_options::copy_symlinks;

void KeepPermissions(const fs::path& source, const fs::path& target, std::error_code& error) {
  const fs::file_status status = fs::symlink_status(source, error);
  if (!error && status.type() != fs::file_type::symlink) fs::permissions(target, status.permissions(), error);
}

// Copies the tree with the permissions of every entry; the daemon's own
// umask must not narrow what the user's files allowed.
void CopyTree(const fs::path& from, const fs::path& to, std::error_code& error) {
  fs::copy(from, to, kCopyTree, error);
  if (error) return;
  for (fs::recursive_directory_iterator walk(from, error), end; !error && walk != end; walk.increment(error)) {
    KeepPermissions(walk->path(), to / walk->path().lexically_relative(from), error);
  }
  if (!error) KeepPermissions(from, to, error);
}

// Copies back into folder every entry of copy that folder lacks, leaving
// alone what is still there.
void RestoreMissing(const fs::path& copy, const fs::path& folder, std::error_code& error) {
  if (!fs::exists(fs::symlink_status(folder, error))) fs::create_directory(folder, error);
  for (fs::recursive_directory_iterator walk(copy, error), end; !error && walk != end; walk.increment(error)) {
    const fs::path target = folder / walk->path().lexically_relative(copy);
    if (fs::exists(fs::symlink_status(target, error))) continue;
    const fs::file_status status = walk->symlink_status(error);
    if (status.type() == fs::file_type::symlink) {
      fs::copy_symlink(walk->path(), target, error);
    } else if (status.type() == fs::file_type::directory) {
      fs::create_directory(target, error);
    } else {
      fs::copy_file(walk->path(), target, error);
    }
    if (!error) KeepPermissions(walk->path(), target, error);
  }
  if (!error) KeepPermissions(copy, folder, error);
}

}  // namespace

const MoveCalls& SystemMoveCalls() {
  static constexpr MoveCalls calls{RenameNoReplace, RemoveEntry};
  return calls;
}

bool SameTree(const std::string& left, const std::string& right) {
  std::error_code error;
  const std::set<std::string> names = Names(PathOf(left), error);
  if (error) return false;
  if (Names(PathOf(right), error) != names || error) return false;
  for (const std::string& name : names) {
    if (!SameEntry(PathOf(left) / PathOf(name), PathOf(right) / PathOf(name))) return false;
  }
  return true;
}

MoveResult MoveFolder(const std::string& from, const std::string& to, const MoveCalls& calls) {
  MoveResult result;
  const auto fail = [&](int error, const std::string& what) {
    result.error = error;
    result.problem = what + ": " + std::strerror(error);
    return result;
  };
  if (calls.rename(from.c_str(), to.c_str()) == 0) {
    result.moved = true;
    return result;
  }
  if (errno != EXDEV) return fail(errno, "cannot move " + from + " to " + to);

  // Across file systems: copy, and keep the source until the copy is known
  // to match it.
  std::error_code error;
  if (fs::exists(fs::symlink_status(PathOf(to), error))) return fail(EEXIST, "cannot move " + from + " to " + to);
  std::error_code ignored;
  CopyTree(PathOf(from), PathOf(to), error);
  if (error) {
    RemoveCopy(to);
    return fail(error.value(), "cannot copy " + from + " to " + to);
  }
  if (!SameTree(from, to)) {
    RemoveCopy(to);
    return fail(EIO, "the copy of " + from + " in " + to + " does not match it");
  }
  int removeErrno = 0;
  std::string removePath;
  if (RemoveTree(PathOf(from), calls, removeErrno, removePath)) {
    result.moved = true;
    return result;
  }
  // Part of the source is gone: bring it back from the copy, and let the
  // copy go only once the source is whole again.
  RestoreMissing(PathOf(to), PathOf(from), ignored);
  fail(removeErrno, "cannot remove " + removePath + " after copying " + from + " to " + to);
  if (SameTree(from, to)) {
    RemoveCopy(to);
    result.problem += "; " + from + " was made whole again";
  } else {
    result.destinationKept = true;
    result.problem += "; " + from + " could not be made whole again, the complete copy stays in " + to;
  }
  return result;
}

}  // namespace korvane::server
