// The Subversion libraries as the daemon uses them: set up once before any
// thread starts, one pool per piece of work, client contexts that give up
// when the daemon stops, and error chains turned into values at once.
#pragma once

#include <apr_pools.h>
#include <svn_client.h>
#include <svn_error.h>

#include <atomic>
#include <optional>
#include <string>
#include <vector>

namespace korvane::server {

// Starts APR and the Subversion libraries; false, with why, when that
// fails. The daemon's paths are UTF-8 whatever the locale says.
bool StartSubversion(std::string& problem);
void EndSubversion();

// The folder whose Subversion configuration and credential store client
// contexts use (empty: the user's ~/.subversion). Set before threads start.
void SetSubversionConfigFolder(const std::string& folder);

// A top-level pool for one piece of work.
class Pool {
 public:
  Pool();
  ~Pool();
  Pool(const Pool&) = delete;
  Pool& operator=(const Pool&) = delete;
  operator apr_pool_t*() const { return pool_; }

 private:
  apr_pool_t* pool_;
};

// What the commit callback of the client calls, RecordRevision, takes: the
// new revision and, for a commit from a working copy, its client. Once the
// server has the commit, what is left of the call (recording the commit in
// the working copy) is no longer cancelled: a stop that cancelled it would
// leave those steps queued until the next clean-up, which records each
// committed file as it is then, so that a file changed meanwhile would pass
// for unchanged and never be committed.
struct CommitRecord {
  svn_revnum_t revision = SVN_INVALID_REVNUM;
  svn_client_ctx_t* workingCopyClient = nullptr;
};
svn_error_t* RecordRevision(const svn_commit_info_t* info, void* baton, apr_pool_t* pool);

// A Subversion error chain, taken over and cleared. Unlike the library's
// SVNError (the deepest message only) it keeps every message, for the log.
struct SvnFailure {
  apr_status_t code = 0;               // the outermost error's
  std::string message;                 // every message of the chain, outermost first
  std::vector<apr_status_t> codes{};   // every code of the chain, outermost first

  // Whether code is anywhere in the chain, as svn_error_find_cause finds it.
  bool Has(apr_status_t wanted) const;
};
std::optional<SvnFailure> TakeError(svn_error_t* error);

// Whether a failure is the server refusing who we are (a wrong or expired
// credential, or none): trying again at once cannot help.
bool IsCredentialFailure(const SvnFailure& failure);

// The time-out of a network call that gets no answer (HTTP and HTTPS).
inline constexpr int kNetworkTimeoutSeconds = 30;

// A client context in pool, without prompts, with the network time-out, whose work is cancelled once
// stopping turns true; commits it makes carry logMessage.
svn_client_ctx_t* ClientContext(const std::atomic<bool>& stopping, const char* logMessage, apr_pool_t* pool,
                                std::optional<SvnFailure>& failure);

// The repository root URL of the working copy that holds path (the path
// itself, or the working copy it lies in when it is not versioned itself);
// empty when there is none.
std::string RepositoryRootOf(const std::string& path, const std::atomic<bool>& stopping);

}  // namespace korvane::server
