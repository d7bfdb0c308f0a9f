#include "conflict_keeper.h"

#include <svn_dirent_uri.h>
#include <svn_pools.h>
#include <svn_wc.h>

#include <ctime>
#include <filesystem>
#include <set>

#include <unistd.h>

namespace korvane::server {

namespace {

namespace fs = std::filesystem;

constexpr int kMaxNameTries = 1000;

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

std::string HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "this computer";
  std::string host = name;
  return host.substr(0, host.find('.'));
}

std::string Now() {
  char stamp[32];
  const std::time_t now = std::time(nullptr);
  tm parts{};
  localtime_r(&now, &parts);
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H.%M", &parts);
  return stamp;
}

// The local version of path as it is on disk, before anything is resolved.
// For a text conflict that is Subversion's copy of the local file (the file
// itself holds the merge with markers); otherwise the path itself.
svn_error_t* LocalVersion(const std::string& path, std::string& local, svn_client_ctx_t* client, apr_pool_t* pool) {
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
  }
  return SVN_NO_ERROR;
}

bool CopyAside(const std::string& from, const std::string& to) {
  std::error_code error;
  const fs::file_status status = fs::symlink_status(from, error);
  if (error || !fs::exists(status)) return false;
  if (fs::is_directory(status)) {
    fs::create_directory(to, error);
    for (const fs::directory_entry& entry : fs::directory_iterator(from, error)) {
      if (entry.path().filename() == ".svn") continue;
      if (!CopyAside(entry.path().string(), to + "/" + entry.path().filename().string())) return false;
    }
    return !error;
  }
  fs::copy(from, to, fs::copy_options::copy_symlinks, error);
  return !error;
}

}  // namespace

std::string ConflictName(const std::string& path, bool isFile, const std::string& host, const std::string& when) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = path.substr(0, slash + 1);
  std::string stem = path.substr(slash + 1), extension;
  const std::size_t dot = stem.rfind('.');
  if (isFile && dot != std::string::npos && dot > 0) {
    extension = stem.substr(dot);
    stem.resize(dot);
  }
  std::string candidate;
  std::error_code error;
  for (int number = 1; number <= kMaxNameTries; ++number) {
    candidate = folder + stem + " (conflict, " + host + ", " + when + (number == 1 ? "" : " " + std::to_string(number)) +
                ")" + extension;
    if (!fs::exists(fs::symlink_status(candidate, error))) break;
  }
  return candidate;
}

svn_error_t* SettleConflicts(const std::string& folder, std::vector<KeptConflict>& kept, svn_client_ctx_t* client,
                             apr_pool_t* pool) {
  const svn_opt_revision_t working{svn_opt_revision_working, {}};
  Conflicted conflicted;
  SVN_ERR(svn_client_status6(nullptr, client, folder.c_str(), &working, svn_depth_infinity, FALSE, FALSE, TRUE, FALSE,
                             TRUE, FALSE, nullptr, CollectConflicted, &conflicted, pool));
  const std::string host = HostName();
  const std::string when = Now();
  apr_pool_t* each = svn_pool_create(pool);
  for (const std::string& path : conflicted.paths) {
    svn_pool_clear(each);
    std::string local;
    SVN_ERR(LocalVersion(path, local, client, each));
    KeptConflict record{path, {}};
    std::error_code error;
    const fs::file_status status = fs::symlink_status(local, error);
    if (fs::exists(status)) {
      record.kept = ConflictName(path, !fs::is_directory(status), host, when);
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
    if (state.unversioned && !record.kept.empty()) fs::remove_all(path, error);
    kept.push_back(std::move(record));
  }
  svn_pool_destroy(each);
  return SVN_NO_ERROR;
}

}  // namespace korvane::server
