#include "daemon/conflicts/conflict_keeper.h"

#include "daemon/conflicts/conflict_names.h"
#include "daemon/platform/file_system.h"
#include "daemon/platform/calendar_time.h"
#include "daemon/platform/file_stamp.h"
#include "daemon/base/utf8_path.h"

#include <svn_dirent_uri.h>
#include <svn_checksum.h>
#include <svn_io.h>
#include <svn_pools.h>
#include <svn_wc.h>

#include <ctime>
#include <filesystem>
#include <map>
#include <optional>
#include <set>

namespace korvane::server {

namespace {

namespace fs = std::filesystem;


struct Conflicted {
  std::vector<std::string> paths;
};

svn_error_t* CollectConflicted(void* baton, const char* path, const svn_client_status_t* status, apr_pool_t*) {
  if (status->conflicted) static_cast<Conflicted*>(baton)->paths.emplace_back(path);
  return SVN_NO_ERROR;
}

struct Unversioned {
  bool unversioned = false;
};

svn_error_t* NoteUnversioned(void* baton, const char*, const svn_client_status_t* status, apr_pool_t*) {
  auto* state = static_cast<Unversioned*>(baton);
  state->unversioned = status->node_status == svn_wc_status_unversioned || status->node_status == svn_wc_status_none;
  return SVN_NO_ERROR;
}


std::string Now() {
  char stamp[32];
  const std::time_t now = std::time(nullptr);
  const std::tm parts = LocalTime(now);
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H.%M", &parts);
  return stamp;
}

// The local version of path as it is on disk, before anything is resolved.
// For a text conflict that is Subversion's copy of the local file (the file
// itself holds the merge with markers), or the file held aside before the
// update when a save landed in it after Subversion's copy was made (the copy
// may hold it half written); otherwise the path itself.
svn_error_t* LocalVersion(const std::string& path, const LocalVersions* held, std::string& local,
                          svn_client_ctx_t* client, apr_pool_t* pool) {
  local = path;
  svn_client_conflict_t* conflict = nullptr;
  SVN_ERR(svn_client_conflict_get(&conflict, path.c_str(), client, pool, pool));
  svn_boolean_t text = FALSE, tree = FALSE;
  apr_array_header_t* properties = nullptr;
  SVN_ERR(svn_client_conflict_get_conflicted(&text, &properties, &tree, conflict, pool, pool));
  if (text && !tree) {
    const char* base = nullptr;
    const char* working = nullptr;
    const char* incomingOld = nullptr;
    const char* incomingNew = nullptr;
    SVN_ERR(svn_client_conflict_text_get_contents(&base, &working, &incomingOld, &incomingNew, conflict, pool, pool));
    if (working != nullptr) local = working;
    const std::string aside = held != nullptr ? held->HeldVersion(path) : std::string();
    const std::optional<FileStamp> copied = StampOf(local), written = aside.empty() ? std::nullopt : StampOf(aside);
    if (written && (!copied || written->modified >= copied->modified)) local = aside;
  }
  return SVN_NO_ERROR;
}

// The files of a conflicted folder as they are locally, before anything is
// resolved: the SHA-1 of what each versioned file was when last updated,
// by its path relative to the folder, and the files that carry a local
// change (edited, added, or new and not yet scheduled).
struct FolderFiles {
  std::string top;
  svn_client_ctx_t* client = nullptr;
  std::map<std::string, std::string> pristine;
  std::vector<std::string> changed;
};

svn_error_t* NoteFile(void* baton, const char* path, const svn_client_status_t* status, apr_pool_t* scratch) {
  auto* files = static_cast<FolderFiles*>(baton);
  if (status->kind == svn_node_dir || std::string(path).size() <= files->top.size() + 1) return SVN_NO_ERROR;
  const svn_wc_status_kind node = status->node_status;
  if (node == svn_wc_status_ignored || node == svn_wc_status_deleted || node == svn_wc_status_missing ||
      node == svn_wc_status_none) {
    return SVN_NO_ERROR;
  }
  std::error_code error;
  if (!fs::is_regular_file(fs::symlink_status(PathOf(path), error))) return SVN_NO_ERROR;
  const std::string relative = std::string(path).substr(files->top.size() + 1);
  const bool added = node == svn_wc_status_added || node == svn_wc_status_replaced ||
                     node == svn_wc_status_unversioned;
  if (added || node == svn_wc_status_modified || node == svn_wc_status_conflicted ||
      status->text_status == svn_wc_status_modified) {
    files->changed.push_back(relative);
  }
  if (added) return SVN_NO_ERROR;
  svn_stream_t* contents = nullptr;
  svn_checksum_t* sum = nullptr;
  svn_error_t* failure = svn_wc_get_pristine_contents2(&contents, files->client->wc_ctx, path, scratch, scratch);
  if (failure == SVN_NO_ERROR && contents != nullptr) {
    failure = svn_stream_contents_checksum(&sum, contents, svn_checksum_sha1, scratch, scratch);
  }
  if (failure == SVN_NO_ERROR && sum != nullptr) files->pristine[relative] = svn_checksum_to_cstring(sum, scratch);
  svn_error_clear(failure);
  return SVN_NO_ERROR;
}

// Whether two files hold the same bytes; false when either cannot be read.
bool SameBytes(const std::string& one, const std::string& other) {
  apr_pool_t* pool = svn_pool_create(nullptr);
  svn_boolean_t same = FALSE;
  svn_error_t* error = svn_io_files_contents_same_p(&same, one.c_str(), other.c_str(), pool);
  svn_pool_destroy(pool);
  const bool read = error == SVN_NO_ERROR;
  svn_error_clear(error);
  return read && same;
}

// Where a folder the update took away went, when the other side renamed
// it: the one folder of the working copy, other than the old one and the
// copies kept aside, that holds the most of its files under the same
// relative names with the same bytes as they had before the local changes,
// more than half of them. Empty when there is none or no single best (the
// other side deleted the folder, or changed most of its files too).
std::string RenamedTo(const std::string& workingCopy, const std::string& old, const std::string& aside,
                      const std::map<std::string, std::string>& pristine, apr_pool_t* pool) {
  std::string best;
  std::size_t bestCount = 0;
  bool tie = false;
  apr_pool_t* each = svn_pool_create(pool);
  std::error_code error;
  for (fs::recursive_directory_iterator walk(PathOf(workingCopy), error), end; !error && walk != end; walk.increment(error)) {
    if (!walk->is_directory(error) || walk->is_symlink(error)) continue;
    const std::string candidate = TextOf(walk->path());
    if (walk->path().filename() == ".svn" || candidate == old || candidate == aside ||
        IsConflictCopyName(TextOf(walk->path().filename()))) {
      walk.disable_recursion_pending();
      continue;
    }
    std::size_t count = 0;
    for (const auto& [file, sum] : pristine) {
      const std::string there = candidate + "/" + file;
      std::error_code missing;
      if (!fs::is_regular_file(PathOf(there), missing)) continue;
      svn_pool_clear(each);
      svn_checksum_t* thereSum = nullptr;
      if (svn_error_t* failure = svn_io_file_checksum2(&thereSum, there.c_str(), svn_checksum_sha1, each)) {
        svn_error_clear(failure);
        continue;
      }
      if (sum == svn_checksum_to_cstring(thereSum, each)) ++count;
    }
    if (count > bestCount) {
      best = candidate;
      bestCount = count;
      tie = false;
    } else if (count == bestCount && count > 0) {
      tie = true;
    }
  }
  svn_pool_destroy(each);
  return !tie && bestCount * 2 > pristine.size() ? best : std::string();
}

// A file alone is linked aside where the file system allows: Subversion
// puts what it brings in place by a rename, so the link keeps the local
// version, and a save still being written into it lands whole in the copy
// instead of in a file nobody can reach.
bool CopyAside(const std::string& from, const std::string& to, bool link = true) {
  std::error_code error;
  const fs::file_status status = fs::symlink_status(PathOf(from), error);
  if (error || !fs::exists(status)) return false;
  if (link && fs::is_regular_file(status)) {
    fs::create_hard_link(PathOf(from), PathOf(to), error);
    if (!error) return true;
  }
  if (fs::is_directory(status)) {
    fs::create_directory(PathOf(to), error);
    for (const fs::directory_entry& entry : fs::directory_iterator(PathOf(from), error)) {
      if (entry.path().filename() == ".svn") continue;
      if (!CopyAside(TextOf(entry.path()), to + "/" + TextOf(entry.path().filename()), false)) return false;
    }
    return !error;
  }
  fs::copy(PathOf(from), PathOf(to), fs::copy_options::copy_symlinks, error);
  return !error;
}

}  // namespace


svn_error_t* SettleConflicts(const std::string& folder, const std::string& who, std::vector<KeptConflict>& kept,
                             svn_client_ctx_t* client, apr_pool_t* pool, const LocalVersions* held) {
  const svn_opt_revision_t working{svn_opt_revision_working, {}};
  Conflicted conflicted;
  SVN_ERR(svn_client_status6(nullptr, client, folder.c_str(), &working, svn_depth_infinity, FALSE, FALSE, TRUE, FALSE,
                             TRUE, FALSE, nullptr, CollectConflicted, &conflicted, pool));
  const std::string when = Now();
  apr_pool_t* each = svn_pool_create(pool);
  for (const std::string& path : conflicted.paths) {
    svn_pool_clear(each);
    std::string local;
    SVN_ERR(LocalVersion(path, held, local, client, each));
    KeptConflict record{path, {}};
    std::error_code error;
    const fs::file_status status = fs::symlink_status(PathOf(local), error);
    std::optional<FolderFiles> folderFiles;
    if (fs::is_directory(status)) {
      folderFiles.emplace();
      folderFiles->top = path;
      folderFiles->client = client;
      svn_error_clear(svn_client_status6(nullptr, client, path.c_str(), &working, svn_depth_infinity, TRUE, FALSE,
                                         TRUE, FALSE, TRUE, FALSE, nullptr, NoteFile, &*folderFiles, each));
    }
    if (fs::exists(status)) {
      record.kept = ConflictName(path, !fs::is_directory(status), who, when);
      if (!CopyAside(local, record.kept)) {
        return svn_error_createf(SVN_ERR_BASE, nullptr, "cannot keep the local version of %s beside it", path.c_str());
      }
    }
    // The local version is safe: the path takes what the update brought.
    SVN_ERR(svn_client_resolve(path.c_str(), svn_depth_infinity, svn_wc_conflict_choose_merged, client, each));
    apr_array_header_t* targets = apr_array_make(each, 1, sizeof(const char*));
    APR_ARRAY_PUSH(targets, const char*) = path.c_str();
    SVN_ERR(svn_client_revert4(targets, svn_depth_infinity, nullptr, FALSE, FALSE, TRUE, client, each));
    // What the update did not bring (an incoming delete) stays as an
    // unversioned leftover of the local version, which is kept aside.
    Unversioned state;
    svn_error_clear(svn_client_status6(nullptr, client, path.c_str(), &working, svn_depth_empty, TRUE, FALSE, TRUE,
                                       FALSE, TRUE, FALSE, nullptr, NoteUnversioned, &state, each));
    if (state.unversioned && !record.kept.empty()) fs::remove_all(PathOf(path), error);
    // A folder the other side renamed: the rename wins, and the local
    // changes of its files follow it, each beside the file it changes (or
    // in its place when the renamed folder lacks it or holds the same).
    const std::string renamed =
        state.unversioned && folderFiles ? RenamedTo(folder, path, record.kept, folderFiles->pristine, each) : std::string();
    if (!renamed.empty()) {
      bool placed = true;
      std::vector<KeptConflict> moved;
      for (const std::string& file : folderFiles->changed) {
        const std::string from = record.kept + "/" + file, there = renamed + "/" + file;
        if (!fs::exists(fs::symlink_status(PathOf(from), error))) continue;
        if (fs::exists(fs::symlink_status(PathOf(there), error))) {
          if (SameBytes(from, there)) continue;
          const std::string beside = ConflictName(there, true, who, when);
          placed = placed && CopyAside(from, beside);
          moved.push_back({there, beside});
        } else {
          fs::create_directories(PathOf(there).parent_path(), error);
          placed = placed && CopyAside(from, there);
          moved.push_back({path + "/" + file, there});
        }
      }
      // The copy of the old folder goes only once every change is placed.
      if (placed) {
        fs::remove_all(PathOf(record.kept), error);
        kept.insert(kept.end(), moved.begin(), moved.end());
        continue;
      }
    }
    kept.push_back(std::move(record));
  }
  svn_pool_destroy(each);
  return SVN_NO_ERROR;
}

namespace {

struct ChangedFiles {
  std::vector<std::string> paths;
};

svn_error_t* NoteChangedFile(void* baton, const char* path, const svn_client_status_t* status, apr_pool_t*) {
  if (status->kind == svn_node_file && status->versioned && !status->conflicted &&
      status->text_status == svn_wc_status_modified) {
    static_cast<ChangedFiles*>(baton)->paths.emplace_back(path);
  }
  return SVN_NO_ERROR;
}

}  // namespace

LocalVersions::~LocalVersions() {
  std::error_code error;
  if (!aside_.empty()) fs::remove_all(PathOf(aside_), error);
}

svn_error_t* LocallyChangedAmong(const std::vector<std::string>& paths, std::vector<std::string>& files,
                                 svn_client_ctx_t* client, apr_pool_t* pool) {
  ChangedFiles changed;
  const svn_opt_revision_t working{svn_opt_revision_working, {}};
  apr_pool_t* each = svn_pool_create(pool);
  for (const std::string& path : paths) {
    svn_pool_clear(each);
    SVN_ERR(svn_client_status6(nullptr, client, path.c_str(), &working, svn_depth_empty, FALSE, FALSE, TRUE, TRUE,
                               TRUE, FALSE, nullptr, NoteChangedFile, &changed, each));
  }
  svn_pool_destroy(each);
  files = std::move(changed.paths);
  return SVN_NO_ERROR;
}

svn_error_t* LocallyChangedFiles(const std::string& folder, std::vector<std::string>& files, svn_client_ctx_t* client,
                                 apr_pool_t* pool) {
  ChangedFiles changed;
  const svn_opt_revision_t working{svn_opt_revision_working, {}};
  SVN_ERR(svn_client_status6(nullptr, client, folder.c_str(), &working, svn_depth_infinity, FALSE, FALSE, TRUE, TRUE,
                             TRUE, FALSE, nullptr, NoteChangedFile, &changed, pool));
  files = std::move(changed.paths);
  return SVN_NO_ERROR;
}

std::string LocalVersions::Link(const std::string& path) {
  // Among or beside the working copy's own temporary files, on the same
  // file system.
  if (aside_.empty()) {
    std::string aside = folder_ + (across_ ? "/.svn/korvane-local-XXXXXX" : "/.svn/tmp/korvane-local-XXXXXX");
    if (MakeUniqueFolder(aside) != 0) return {};
    aside_ = aside;
  }
  const std::string copy = aside_ + "/" + std::to_string(++count_);
  std::error_code error;
  fs::create_hard_link(PathOf(path), PathOf(copy), error);
  if (error) fs::copy_file(PathOf(path), PathOf(copy), error);
  return error ? std::string() : copy;
}

svn_error_t* LocalVersions::Take(svn_client_ctx_t* client, apr_pool_t* pool) {
  std::vector<std::string> changed;
  SVN_ERR(LocallyChangedFiles(folder_, changed, client, pool));
  for (const std::string& path : changed) {
    std::string copy = Link(path);
    if (copy.empty()) {
      return svn_error_createf(SVN_ERR_BASE, nullptr, "cannot keep the local version of %s aside", path.c_str());
    }
    held_[path].copy = std::move(copy);
  }
  return SVN_NO_ERROR;
}

void LocalVersions::Hold(const std::string& path) {
  std::error_code error;
  if (held_.contains(path) || !fs::is_regular_file(fs::symlink_status(PathOf(path), error))) return;
  std::string copy = Link(path);
  const std::optional<FileStamp> stamp = copy.empty() ? std::nullopt : StampOf(copy);
  if (stamp) held_[path] = Held{std::move(copy), stamp->size, stamp->modified};
}

std::string LocalVersions::HeldVersion(const std::string& path) const {
  const auto held = held_.find(path);
  return held == held_.end() ? std::string() : held->second.copy;
}

svn_error_t* LocalVersions::KeepMerged(const std::vector<std::string>& merged, const std::string& who,
                                       std::vector<KeptConflict>& kept, svn_client_ctx_t* client, apr_pool_t* pool) {
  const std::string when = Now();
  apr_pool_t* each = svn_pool_create(pool);
  for (const std::string& path : merged) {
    const std::string copy = HeldVersion(path);
    if (copy.empty()) continue;
    svn_pool_clear(each);
    const std::string beside = ConflictName(path, true, who, when);
    if (!CopyAside(copy, beside)) {
      return svn_error_createf(SVN_ERR_BASE, nullptr, "cannot keep the local version of %s beside it", path.c_str());
    }
    // The local version is safe beside it: the name takes the other side's.
    apr_array_header_t* targets = apr_array_make(each, 1, sizeof(const char*));
    APR_ARRAY_PUSH(targets, const char*) = path.c_str();
    SVN_ERR(svn_client_revert4(targets, svn_depth_empty, nullptr, FALSE, FALSE, TRUE, client, each));
    kept.push_back({path, beside});
  }
  svn_pool_destroy(each);
  return SVN_NO_ERROR;
}

svn_error_t* LocalVersions::KeepWrittenDuring(std::int64_t since, const std::string& who,
                                              std::vector<KeptConflict>& kept) {
  const std::string when = Now();
  for (const auto& [path, held] : held_) {
    if (held.modified < 0) continue;  // taken before the update: KeepMerged and the conflicts keep those
    const std::optional<FileStamp> now = StampOf(held.copy);
    const bool written = now && (now->modified >= since || now->size != held.size || now->modified != held.modified);
    std::error_code error;
    if (!written || (fs::exists(fs::symlink_status(PathOf(path), error)) && SameBytes(held.copy, path))) continue;
    const std::string beside = ConflictName(path, true, who, when);
    if (!CopyAside(held.copy, beside)) {
      return svn_error_createf(SVN_ERR_BASE, nullptr, "cannot keep the local version of %s beside it", path.c_str());
    }
    kept.push_back({path, beside});
  }
  return SVN_NO_ERROR;
}

namespace {

struct FileState {
  bool modified = false;
  std::string author;
};

svn_error_t* NoteFileState(void* baton, const char*, const svn_client_status_t* status, apr_pool_t*) {
  auto* state = static_cast<FileState*>(baton);
  state->modified = status->kind == svn_node_file && status->versioned && !status->conflicted &&
                    status->text_status == svn_wc_status_modified;
  if (status->changed_author != nullptr) state->author = status->changed_author;
  return SVN_NO_ERROR;
}

}  // namespace

svn_error_t* KeepOverwritten(const std::string& path, std::vector<KeptConflict>& kept, svn_client_ctx_t* client,
                             apr_pool_t* pool) {
  FileState state;
  const svn_opt_revision_t working{svn_opt_revision_working, {}};
  SVN_ERR(svn_client_status6(nullptr, client, path.c_str(), &working, svn_depth_empty, TRUE, FALSE, TRUE, TRUE, TRUE,
                             FALSE, nullptr, NoteFileState, &state, pool));
  if (!state.modified) return SVN_NO_ERROR;
  svn_stream_t* incoming = nullptr;
  SVN_ERR(svn_wc_get_pristine_contents2(&incoming, client->wc_ctx, path.c_str(), pool, pool));
  if (incoming == nullptr) return SVN_NO_ERROR;
  char start[4096];
  apr_size_t length = sizeof start;
  SVN_ERR(svn_stream_read_full(incoming, start, &length));
  if (length == 0) return SVN_NO_ERROR;
  // The copy names who saved that version; the computer is not known here.
  const std::string beside = ConflictName(path, true, state.author.empty() ? "the other side" : state.author, Now());
  svn_stream_t* copy = nullptr;
  SVN_ERR(svn_stream_open_writable(&copy, beside.c_str(), pool, pool));
  SVN_ERR(svn_stream_write(copy, start, &length));
  SVN_ERR(svn_stream_copy3(incoming, copy, client->cancel_func, client->cancel_baton, pool));
  kept.push_back({path, beside, true});
  return SVN_NO_ERROR;
}

}  // namespace korvane::server
