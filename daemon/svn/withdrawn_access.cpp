#include "daemon/svn/withdrawn_access.h"

#include "daemon/reply/results.h"
#include "daemon/svn/svn_runtime.h"

#include <svn_dirent_uri.h>
#include <svn_path.h>

#include <array>
#include <atomic>
#include <string_view>

namespace korvane::server {

bool IsAccessWithdrawn(const SvnFailure& failure) {
  // A path the authorization rules do not let us read or write; Apache's
  // 403 ("Access to '...' forbidden").
  static constexpr apr_status_t kRefusals[] = {SVN_ERR_AUTHZ_ROOT_UNREADABLE, SVN_ERR_AUTHZ_UNREADABLE,
                                               SVN_ERR_AUTHZ_PARTIALLY_READABLE, SVN_ERR_AUTHZ_UNWRITABLE,
                                               SVN_ERR_RA_DAV_FORBIDDEN};
  for (apr_status_t code : kRefusals) {
    if (failure.Has(code)) return true;
  }
  // svnserve sends SVN_ERR_RA_NOT_AUTHORIZED both for a wrong credential and
  // for a path its rules refuse ("Authorization failed", "Not authorized to
  // open root of edit operation"), and ra_serf reports some refusals as a
  // failed request ("403 Forbidden"): only the words tell these apart.
  if (!failure.Has(SVN_ERR_RA_NOT_AUTHORIZED) && !failure.Has(SVN_ERR_RA_DAV_REQUEST_FAILED)) return false;
  static constexpr std::array<std::string_view, 4> kMarks{"Authorization failed", "Not authorized to",
                                                          "403 Forbidden", "forbidden"};
  for (std::string_view mark : kMarks) {
    if (failure.message.find(mark) != std::string::npos) return true;
  }
  return false;
}

std::string SpaceOfWorkingCopy(const std::string& path) {
  const std::string fallback = path.substr(path.rfind('/') + 1);
  const std::atomic<bool> never{false};
  Pool pool;
  std::optional<SvnFailure> failure;
  svn_client_ctx_t* client = ClientContext(never, "", pool, failure);
  const char* url = nullptr;
  const char* root = nullptr;
  if (client == nullptr ||
      TakeError(svn_client_url_from_path2(&url, path.c_str(), client, pool, pool)) || url == nullptr ||
      TakeError(svn_client_get_repos_root(&root, nullptr, path.c_str(), client, pool, pool)) || root == nullptr) {
    return fallback;
  }
  const char* inside = svn_uri_skip_ancestor(root, url, pool);
  if (inside == nullptr || *inside == '\0') return fallback;
  const std::string relative = svn_path_uri_decode(inside, pool);
  return relative.substr(0, relative.find('/'));
}

void PauseForWithdrawnAccess(const std::string& path, int& failures, std::chrono::steady_clock::time_point& retryAt,
                             std::chrono::milliseconds wait, const DaemonLog& log, JobBoard& jobs) {
  retryAt = std::chrono::steady_clock::now() + wait;
  if (failures++ > 0) return;
  const std::string words = "you are no longer a member of " + SpaceOfWorkingCopy(path) + ": sync of " + path +
                            " pauses and its files stay as they are";
  log.Error(words);
  jobs.Record("automaticSync", path, static_cast<std::int32_t>(Result::NotAllowed), words);
}

}  // namespace korvane::server
