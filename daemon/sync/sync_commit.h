// One automatic commit of a shared folder: what is new is scheduled for
// addition (leaving out what cannot be versioned, what is still being
// written and the daemon's own folders), what is gone for deletion (a
// missing tree once, at its top), a path whose kind changed is replaced,
// and what has rested is committed.
#pragma once

#include "daemon/conflicts/conflict_keeper.h"
#include "daemon/svn/svn_runtime.h"

#include <svn_client.h>

#include <atomic>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace korvane::server {

// One commit's view of the folder: what it must not touch.
struct CommitScope {
  std::function<bool(const std::string&)> isOwn;
  std::vector<std::string> ownFolders;
  std::set<std::string> busy;                  // written files that have not rested yet
  std::map<std::string, std::string> leftOut;  // found: path -> why it cannot be versioned
  std::set<std::string> unseen;                // arrived versions a local write replaced
};

// Schedules what is new or gone, then commits what has rested; the new
// revision, or an invalid one when nothing changed. Conflicts left from
// before are settled first (their copies naming who), so Subversion's
// conflict files are never scheduled; a version that a local write
// replaced unseen is kept beside it.
svn_error_t* CommitAll(const std::string& folder, const std::string& who, CommitScope& scope, svn_client_ctx_t* client,
                       svn_revnum_t& revision, std::vector<KeptConflict>& kept, apr_pool_t* pool);

// Commits only the given files, each written since the last commit, of a
// folder whose last whole walk left nothing else to do: a new one is
// scheduled for addition (or left out, as the walk would leave it out), a
// changed one is committed, and nothing else of the tree is looked at, so a
// change deep in a large tree costs no walk of it. handled is false when a
// file is in a state only the whole walk settles (gone, no longer a plain
// file, in a folder not versioned yet); nothing was changed then.
svn_error_t* CommitWritten(const std::vector<std::string>& files, CommitScope& scope, svn_client_ctx_t* client,
                           svn_revnum_t& revision, bool& handled, apr_pool_t* pool);

// A client context for shared folders: Subversion's developer-oriented
// global-ignores (*.o, *~, ...) do not apply to people's files.
svn_client_ctx_t* SyncContext(const std::atomic<bool>& stopping, apr_pool_t* pool, std::optional<SvnFailure>& failure);

// paths as a Subversion target array in pool.
apr_array_header_t* Targets(const std::vector<std::string>& paths, apr_pool_t* pool);

// The topmost of paths: a path below another one of them is left out.
std::vector<std::string> Topmost(std::vector<std::string> paths);

}  // namespace korvane::server
