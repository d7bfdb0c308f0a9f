// Moving a folder that the user asked to put aside or bring back. Within one
// file system that is a rename. Across file systems it is a copy, a check
// that the copy matches the source, and only then the removal of the
// source; when the removal fails part way, what was removed is copied back
// and the copy goes. At no moment is the only complete copy deleted.
#pragma once

#include <string>

namespace korvane::server {

// The calls a move makes on the file system, so that tests can make them
// fail half way (a rename across file systems, a file that will not go).
struct MoveCalls {
  // Renames without replacing, as renameat2 with RENAME_NOREPLACE.
  int (*rename)(const char* from, const char* to);
  // Removes one file, link or empty folder.
  int (*remove)(const char* path);
};

const MoveCalls& SystemMoveCalls();

struct MoveResult {
  bool moved = false;
  int error = 0;            // errno of what failed
  std::string problem;      // what failed, for the verdict and the log
  // After a failure: whether a complete copy was left at the destination
  // because the source could not be made whole again. The caller must keep
  // it.
  bool destinationKept = false;
};

// Moves from to to, which must not exist yet.
MoveResult MoveFolder(const std::string& from, const std::string& to, const MoveCalls& calls = SystemMoveCalls());

// Whether two trees hold the same entries: the same kinds, the same file
// contents and the same link targets.
bool SameTree(const std::string& left, const std::string& right);

}  // namespace korvane::server
