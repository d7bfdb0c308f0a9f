#include "daemon/sync/sync_commit.h"

#include "daemon/sync/left_out_entries.h"
#include "daemon/base/own_folders.h"
#include "daemon/base/utf8_path.h"

#include <svn_config.h>
#include <svn_hash.h>
#include <svn_wc.h>

#include <algorithm>
#include <filesystem>

namespace korvane::server {

namespace {

namespace fs = std::filesystem;

constexpr char kLogMessage[] = "Committed automatically by Korvane";

// What a status walk finds to schedule and to commit.
struct Pending {
  std::vector<std::string> unversioned;
  std::vector<std::string> missing;
  std::vector<std::string> replaced;  // a versioned file now a folder, or the other way round
  std::vector<std::string> changed;   // every path with something to commit
  bool conflicted = false;            // a conflict is left from before
  bool Empty() const { return unversioned.empty() && missing.empty() && replaced.empty() && changed.empty(); }
};

svn_error_t* Collect(void* baton, const char* path, const svn_client_status_t* status, apr_pool_t*) {
  Pending& pending = *static_cast<Pending*>(baton);
  const svn_wc_status_kind node = status->node_status;
  if (status->conflicted) pending.conflicted = true;
  if (node == svn_wc_status_unversioned) pending.unversioned.emplace_back(path);
  if (node == svn_wc_status_missing) pending.missing.emplace_back(path);
  if (node == svn_wc_status_obstructed) pending.replaced.emplace_back(path);
  if (node != svn_wc_status_unversioned && node != svn_wc_status_missing && node != svn_wc_status_obstructed && node != svn_wc_status_normal &&
      node != svn_wc_status_none && node != svn_wc_status_ignored && node != svn_wc_status_external) {
    pending.changed.emplace_back(path);
  }
  return SVN_NO_ERROR;
}

svn_error_t* StatusOf(const std::string& folder, Pending& pending, svn_client_ctx_t* client, apr_pool_t* pool) {
  const svn_opt_revision_t working{svn_opt_revision_working, {}};
  // no_ignore: every file a person puts in a shared folder counts.
  return svn_client_status6(nullptr, client, folder.c_str(), &working, svn_depth_infinity, FALSE, FALSE, TRUE, TRUE,
                            TRUE, FALSE, nullptr, Collect, &pending, pool);
}

// Schedules path for addition, leaving out what lies in an own folder, what
// cannot be versioned and what is still being written: a folder that holds
// any of these is added alone and its entries one by one.
svn_error_t* AddLeavingOut(const std::string& path, CommitScope& scope, svn_client_ctx_t* client, apr_pool_t* pool) {
  if (scope.busy.contains(path)) return SVN_NO_ERROR;
  if (std::string why = WhyNotVersionable(path); !why.empty()) {
    scope.leftOut[path] = std::move(why);
    return SVN_NO_ERROR;
  }
  const std::string resolved = ResolvedPath(path);
  if (scope.isOwn(resolved)) return SVN_NO_ERROR;
  std::error_code error;
  const bool folder = fs::is_directory(fs::symlink_status(PathOf(path), error));
  const bool holdsBusy = std::any_of(scope.busy.begin(), scope.busy.end(),
                                     [&](const std::string& busy) { return IsWithin(busy, path); });
  const bool holdsOwn = std::any_of(scope.ownFolders.begin(), scope.ownFolders.end(),
                                    [&](const std::string& own) { return IsWithin(own, resolved); });
  const bool whole = !folder || (!holdsOwn && !holdsBusy && !HoldsLeftOut(path));
  if (whole) return svn_client_add5(path.c_str(), svn_depth_infinity, FALSE, TRUE, FALSE, FALSE, client, pool);
  SVN_ERR(svn_client_add5(path.c_str(), svn_depth_empty, FALSE, TRUE, FALSE, FALSE, client, pool));
  for (const fs::directory_entry& entry : fs::directory_iterator(PathOf(path), error)) {
    SVN_ERR(AddLeavingOut(TextOf(entry.path()), scope, client, pool));
  }
  return SVN_NO_ERROR;
}

// Commits targets to depth; revision takes the new revision (invalid when
// nothing was committed).
svn_error_t* Commit(apr_array_header_t* targets, svn_depth_t depth, svn_client_ctx_t* client, svn_revnum_t& revision,
                    apr_pool_t* pool) {
  const svn_cancel_func_t cancel = client->cancel_func;
  CommitRecord record{SVN_INVALID_REVNUM, client};
  svn_error_t* error = svn_client_commit6(targets, depth, FALSE, FALSE, TRUE, FALSE, FALSE, nullptr, nullptr,
                                          RecordRevision, &record, client, pool);
  client->cancel_func = cancel;
  revision = record.revision;
  return error;
}

}  // namespace

apr_array_header_t* Targets(const std::vector<std::string>& paths, apr_pool_t* pool) {
  apr_array_header_t* targets = apr_array_make(pool, static_cast<int>(paths.size()), sizeof(const char*));
  for (const std::string& path : paths) APR_ARRAY_PUSH(targets, const char*) = path.c_str();
  return targets;
}

// The topmost of paths (sorted): a path below another one is left out, so
// that a missing tree is deleted once, at its top.
std::vector<std::string> Topmost(std::vector<std::string> paths) {
  std::sort(paths.begin(), paths.end());
  std::vector<std::string> top;
  for (const std::string& path : paths) {
    if (top.empty() || !(path.size() > top.back().size() && path.compare(0, top.back().size(), top.back()) == 0 &&
                         path[top.back().size()] == '/')) {
      top.push_back(path);
    }
  }
  return top;
}


// Schedules what is new or gone, then commits what has rested; the new
// revision, or an invalid one when nothing changed. Conflicts left from
// before are settled first, so Subversion's conflict files are never
// scheduled. When a file that is still being written is versioned already,
// the commit names each changed path but that one.
svn_error_t* CommitAll(const std::string& folder, const std::string& who, CommitScope& scope, svn_client_ctx_t* client,
                       svn_revnum_t& revision, std::vector<KeptConflict>& kept, apr_pool_t* pool) {
  // One walk of the tree finds what to schedule and whether a conflict is
  // left; only when one is, or a version must be kept aside, does the walk
  // run again after settling them.
  const bool keepsOverwritten = std::any_of(scope.unseen.begin(), scope.unseen.end(),
                                            [&](const std::string& path) { return !scope.busy.contains(path); });
  Pending pending;
  SVN_ERR(StatusOf(folder, pending, client, pool));
  if (pending.conflicted || keepsOverwritten) {
    SVN_ERR(SettleConflicts(folder, who, kept, client, pool));
    for (const std::string& path : scope.unseen) {
      if (!scope.busy.contains(path)) SVN_ERR(KeepOverwritten(path, kept, client, pool));
    }
    pending = Pending{};
    SVN_ERR(StatusOf(folder, pending, client, pool));
  }
  // Nothing new, gone or changed: no commit, whose own walk of the tree
  // would find nothing either.
  if (pending.Empty()) return SVN_NO_ERROR;
  for (const std::string& path : pending.unversioned) SVN_ERR(AddLeavingOut(path, scope, client, pool));
  // A path whose kind changed: the old node goes, what is there now is added
  // in its place (keep_local leaves it on disk).
  for (const std::string& path : Topmost(pending.replaced)) {
    SVN_ERR(svn_client_delete4(Targets({path}, pool), TRUE, TRUE, nullptr, nullptr, nullptr, client, pool));
    SVN_ERR(AddLeavingOut(path, scope, client, pool));
  }
  if (!pending.missing.empty()) {
    SVN_ERR(svn_client_delete4(Targets(Topmost(pending.missing), pool), TRUE, FALSE, nullptr, nullptr, nullptr, client,
                               pool));
  }
  const bool holdsBusy = std::any_of(pending.changed.begin(), pending.changed.end(),
                                     [&](const std::string& path) { return scope.busy.contains(path); });
  if (!holdsBusy) {
    return Commit(Targets({folder}, pool), svn_depth_infinity, client, revision, pool);
  }
  Pending scheduled;
  SVN_ERR(StatusOf(folder, scheduled, client, pool));
  std::vector<std::string> targets;
  for (const std::string& path : scheduled.changed) {
    if (!scope.busy.contains(path) && path != folder) targets.push_back(path);
  }
  if (targets.empty()) return SVN_NO_ERROR;
  return Commit(Targets(targets, pool), svn_depth_empty, client, revision, pool);
}

namespace {

// The node kind the working copy records at path (none when unversioned).
svn_error_t* RecordedKind(const std::string& path, svn_node_kind_t& kind, svn_client_ctx_t* client, apr_pool_t* pool) {
  return svn_wc_read_kind2(&kind, client->wc_ctx, path.c_str(), FALSE, FALSE, pool);
}

}  // namespace

svn_error_t* CommitWritten(const std::vector<std::string>& files, CommitScope& scope, svn_client_ctx_t* client,
                           svn_revnum_t& revision, bool& handled, apr_pool_t* pool) {
  handled = false;
  std::vector<std::string> targets, fresh;  // versioned already; new
  for (const std::string& file : files) {
    std::error_code error;
    if (!fs::is_regular_file(fs::symlink_status(PathOf(file), error))) return SVN_NO_ERROR;
    svn_node_kind_t kind = svn_node_none;
    SVN_ERR(RecordedKind(TextOf(PathOf(file).parent_path()), kind, client, pool));
    if (kind != svn_node_dir) return SVN_NO_ERROR;
    SVN_ERR(RecordedKind(file, kind, client, pool));
    if (kind == svn_node_none) {
      fresh.push_back(file);
    } else if (kind == svn_node_file) {
      targets.push_back(file);
    } else {
      return SVN_NO_ERROR;
    }
  }
  handled = true;
  for (const std::string& file : fresh) {
    SVN_ERR(AddLeavingOut(file, scope, client, pool));
    svn_node_kind_t kind = svn_node_none;
    SVN_ERR(RecordedKind(file, kind, client, pool));
    if (kind == svn_node_file) targets.push_back(file);  // what was left out is not
  }
  if (targets.empty()) return SVN_NO_ERROR;
  return Commit(Targets(targets, pool), svn_depth_empty, client, revision, pool);
}

// A client context for shared folders: Subversion's developer-oriented
// global-ignores (*.o, *~, ...) do not apply to people's files.
svn_client_ctx_t* SyncContext(const std::atomic<bool>& stopping, apr_pool_t* pool, std::optional<SvnFailure>& failure) {
  svn_client_ctx_t* client = ClientContext(stopping, kLogMessage, pool, failure);
  if (client == nullptr) return nullptr;
  if (auto* config = static_cast<svn_config_t*>(svn_hash_gets(client->config, SVN_CONFIG_CATEGORY_CONFIG))) {
    svn_config_set(config, SVN_CONFIG_SECTION_MISCELLANY, SVN_CONFIG_OPTION_GLOBAL_IGNORES, "");
  }
  return client;
}

}  // namespace korvane::server
