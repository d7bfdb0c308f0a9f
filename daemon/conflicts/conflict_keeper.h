// Settles the conflicts an update leaves in a working copy so that nothing
// a person wrote is lost and automatic sync can go on: the other side's
// version takes the name, and the local one is kept beside it under a name
// a person understands at a glance, "NAME (conflict, ann on vm, 2026-12-07
// 10.42).EXT", naming who kept it and on which computer (copies made before
// were "NAME (conflict, HOST, ...)", still known as conflict copies). Text and binary files, edit against edit, edit against
// delete, delete against edit, two adds of one name, and a folder renamed
// on one side while a file in it changes on the other all end the same
// way: the local version is copied aside (when there is one), the conflict
// is marked resolved, the path is reverted to what the update brought, and
// a local leftover that the update did not bring is removed (its copy
// stays). A folder the other side renamed (which reaches Subversion as a
// delete and an add) is found by its files' names and bytes, and the
// rename wins: each locally changed file of the old folder goes into the
// renamed one, beside the file it changes as its conflict copy (in its
// place when the file is not there), and no copy of the old folder is
// left. Subversion's
// conflict files go with the resolution, so they are never committed; the
// copies aside are new files, committed next.
#pragma once

#include "daemon/conflicts/conflict_names.h"

#include <svn_client.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace korvane::server {

struct KeptConflict {
  std::string path;  // the conflicted path, which now holds the other side's version
  std::string kept;  // where the local version is, empty when there was none (a local delete)
  // Turned round: path holds the local version, and kept the other side's,
  // which a local write replaced before anyone could have seen it.
  bool othersKept = false;
};

class LocalVersions;

// Settles every conflict in the working copy at folder; what was kept is
// appended to kept, its copies naming who. An error ends the settling; what
// was kept stays kept. A text conflict's local version is the one held
// aside, when held is given and its version was written after Subversion
// copied the file for the conflict.
svn_error_t* SettleConflicts(const std::string& folder, const std::string& who, std::vector<KeptConflict>& kept,
                             svn_client_ctx_t* client, apr_pool_t* pool, const LocalVersions* held = nullptr);

// Of the given files, those versioned whose text changed locally
// (conflicted ones aside): a few files looked at without walking the tree.
svn_error_t* LocallyChangedAmong(const std::vector<std::string>& paths, std::vector<std::string>& files,
                                 svn_client_ctx_t* client, apr_pool_t* pool);

// The versioned files of the working copy at folder whose text changed
// locally (conflicted ones aside).
svn_error_t* LocallyChangedFiles(const std::string& folder, std::vector<std::string>& files, svn_client_ctx_t* client,
                                 apr_pool_t* pool);

// The version an update brought to path, which a local write has replaced
// since, kept beside it under a conflict copy's name that names its author,
// so that the local write does not silently undo the other side's save.
// Nothing when path holds what the update brought, or that was empty: an
// empty version holds nothing anyone could lose (and a commit that read a
// file between its writer emptying and refilling it sends one).
svn_error_t* KeepOverwritten(const std::string& path, std::vector<KeptConflict>& kept, svn_client_ctx_t* client,
                             apr_pool_t* pool);

// Versions of files of a working copy held aside by hard links while an
// update runs (an update puts what it brings in place by a rename and never
// writes into the old file, so a link holds the old file at no cost, and a
// save still being written into it lands whole in what is held):
//   - the locally changed files, taken before the update: where it merges
//     the other side's change into one of them without a conflict (edits
//     that do not overlap), the merge is undone and both saved versions stay
//     as files, the other side's at the name and the local one as its
//     conflict copy. Nobody gets a mixture nobody saved;
//   - each file the update is about to replace or delete, held as the
//     update names it: a save that lands in the file after Subversion found
//     it unchanged, and before the update put its version in place, is kept
//     as a conflict copy instead of vanishing with the old file.
class LocalVersions {
 public:
  // Where the versions are held: among the working copy's temporary files,
  // which a clean-up empties, or beside them, for holding across one.
  enum class Aside { Temporary, AcrossCleanUp };

  explicit LocalVersions(std::string folder, Aside aside = Aside::Temporary)
      : folder_(std::move(folder)), across_(aside == Aside::AcrossCleanUp) {}
  ~LocalVersions();  // lets go of what was held aside
  LocalVersions(const LocalVersions&) = delete;
  LocalVersions& operator=(const LocalVersions&) = delete;

  // Holds every locally changed file of the working copy.
  svn_error_t* Take(svn_client_ctx_t* client, apr_pool_t* pool);
  // Holds the file at path as it is now, the update being about to replace
  // or delete it; what is not a file, or cannot be held, is not.
  void Hold(const std::string& path);
  // The version of path held aside; empty when none is.
  std::string HeldVersion(const std::string& path) const;
  // For each merged path held aside: its local version becomes its conflict
  // copy and the path takes the other side's version; appended to kept.
  svn_error_t* KeepMerged(const std::vector<std::string>& merged, const std::string& who,
                          std::vector<KeptConflict>& kept, svn_client_ctx_t* client, apr_pool_t* pool);
  // Each file held by Hold that was written since `since` (FileClockNow()
  // when the update began) and differs from what is at its name now: it is
  // kept beside it as its conflict copy; appended to kept.
  svn_error_t* KeepWrittenDuring(std::int64_t since, const std::string& who, std::vector<KeptConflict>& kept);

 private:
  struct Held {
    std::string copy;
    std::int64_t size = -1, modified = -1;  // when held by Hold; -1 when taken before the update
  };
  // Links path into the folder aside; the link, empty when it failed.
  std::string Link(const std::string& path);

  const std::string folder_;
  const bool across_;
  std::string aside_;
  int count_ = 0;
  std::map<std::string, Held> held_;
};

}  // namespace korvane::server
