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

// Settles every conflict in the working copy at folder; what was kept is
// appended to kept, its copies naming who. An error ends the settling; what
// was kept stays kept.
svn_error_t* SettleConflicts(const std::string& folder, const std::string& who, std::vector<KeptConflict>& kept,
                             svn_client_ctx_t* client, apr_pool_t* pool);

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
// Nothing when path holds what the update brought.
svn_error_t* KeepOverwritten(const std::string& path, std::vector<KeptConflict>& kept, svn_client_ctx_t* client,
                             apr_pool_t* pool);

// The locally changed files of a working copy, held aside while an update
// runs: where the update merges the other side's change into one of them
// without a conflict (edits that do not overlap), the merge is undone and
// both saved versions stay as files, the other side's at the name and the
// local one as its conflict copy. Nobody gets a mixture nobody saved.
class LocalVersions {
 public:
  LocalVersions() = default;
  ~LocalVersions();  // lets go of what was held aside
  LocalVersions(const LocalVersions&) = delete;
  LocalVersions& operator=(const LocalVersions&) = delete;

  svn_error_t* Take(const std::string& folder, svn_client_ctx_t* client, apr_pool_t* pool);
  // For each merged path held aside: its local version becomes its conflict
  // copy and the path takes the other side's version; appended to kept.
  svn_error_t* KeepMerged(const std::vector<std::string>& merged, const std::string& who,
                          std::vector<KeptConflict>& kept, svn_client_ctx_t* client, apr_pool_t* pool);

 private:
  std::string aside_;
  std::map<std::string, std::string> copies_;  // path -> its local version aside
};

}  // namespace korvane::server
