// The working-copy queries on SVNPath. Each opens its own working-copy
// context in a scratch pool; only relative paths and the empty path are
// answered without one, since Subversion's working-copy calls require an
// absolute path.
#include "svn/hosting_url.h"
#include "svn/svn_error.h"
#include "svn/svn_path.h"
#include "svn/svn_pool.h"

#include <svn_dirent_uri.h>
#include <svn_error.h>
#include <svn_error_codes.h>
#include <svn_wc.h>

#include <cstring>

namespace korvane::svn {

WorkingCopyCalls& WorkingCopyCalls::Real() {
  static WorkingCopyCalls real;
  return real;
}

svn_error_t* WorkingCopyCalls::CreateContext(svn_wc_context_t** context, apr_pool_t* resultPool,
                                             apr_pool_t* scratchPool) {
  return svn_wc_context_create(context, nullptr, resultPool, scratchPool);
}

svn_error_t* WorkingCopyCalls::ReadKind(svn_node_kind_t* kind, svn_wc_context_t* context, const char* absolutePath,
                                        apr_pool_t* scratchPool) {
  return svn_wc_read_kind2(kind, context, absolutePath, TRUE, TRUE, scratchPool);
}

namespace {

// An error the operating system reported, passed on by Subversion. Windows
// system errors are offset to APR_OS_START_SYSERR and above; on POSIX, APR
// passes errno values through as they are, below APR_OS_START_ERROR.
bool IsSystemError(apr_status_t code) {
  return code >= APR_OS_START_SYSERR || (code > 0 && code < APR_OS_START_ERROR);
}

}  // namespace

bool IsVersionedKind(const KindRead& read) {
  if (!read.error) return read.kind != svn_node_none;
  switch (*read.error) {
    case SVN_ERR_WC_NOT_WORKING_COPY:
    case SVN_ERR_WC_NOT_FILE:
    case SVN_ERR_WC_PATH_NOT_FOUND:
      return false;
    default:
      return !IsSystemError(*read.error);
  }
}

namespace {

bool IsAbsolute(const std::string& path) { return !path.empty() && svn_dirent_is_absolute(path.c_str()); }

// Opens a context in pool and reads path's kind with it; nothing when no
// context could be opened.
std::optional<KindRead> ReadKindOf(WorkingCopyCalls& calls, const char* path, apr_pool_t* pool,
                                   svn_wc_context_t*& context) {
  if (svn_error_t* error = calls.CreateContext(&context, pool, pool)) {
    svn_error_clear(error);
    return std::nullopt;
  }
  KindRead read;
  svn_node_kind_t kind = svn_node_none;
  if (svn_error_t* error = calls.ReadKind(&kind, context, path, pool)) {
    read.error = SVNError(error).code;
  } else {
    read.kind = kind;
  }
  return read;
}

}  // namespace

bool SVNPath::IsVersioned(WorkingCopyCalls& calls) const {
  if (!IsAbsolute(path_)) return false;
  SVNPool pool;
  svn_wc_context_t* context = nullptr;
  const std::optional<KindRead> read = ReadKindOf(calls, path_.c_str(), pool, context);
  return read && IsVersionedKind(*read);
}

bool SVNPath::ReadStatus(SVNPool& resultPool, svn_wc_status3_t** status, WorkingCopyCalls& calls) const {
  if (status == nullptr || !IsAbsolute(path_)) return false;
  SVNPool pool;
  svn_wc_context_t* context = nullptr;
  const std::optional<KindRead> read = ReadKindOf(calls, path_.c_str(), pool, context);
  if (!read) return false;
  if (read->error) return IsVersionedKind(*read);
  if (read->kind == svn_node_file || read->kind == svn_node_dir) {
    svn_wc_status3_t* local = nullptr;
    if (svn_error_t* error = svn_wc_status3(&local, context, path_.c_str(), pool, pool)) {
      svn_error_clear(error);
    } else if (local != nullptr) {
      *status = svn_wc_dup_status3(local, resultPool);
    }
  }
  return read->kind != svn_node_none;
}

bool SVNPath::IsHalcyraWorkingCopy(WorkingCopyCalls& calls) const {
  SVNPool resultPool;
  svn_wc_status3_t* status = nullptr;
  return ReadStatus(resultPool, &status, calls) && status != nullptr && status->repos_root_url != nullptr &&
         std::strstr(status->repos_root_url, kHostingServiceFragment) != nullptr;
}

}  // namespace korvane::svn
