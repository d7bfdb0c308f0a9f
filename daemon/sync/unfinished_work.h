// What an interrupted Subversion operation left to do in a working copy.
#pragma once

#include <optional>
#include <string>

#include "daemon/svn/svn_runtime.h"

namespace korvane::server {

// Runs a clean-up of the working copy at root: stale locks are broken and
// the last steps an interrupted commit or update queued in the working copy
// (installing files, setting their permissions and times) are finished.
//
// A queued step whose file the person removed meanwhile fails for good:
// Subversion cannot set the permissions of a file that is not there, so
// every clean-up stops at the same step and the folder would never sync
// again. Such a step is given an empty placeholder (and the folders it lies
// in) to finish on; whatever is still only a placeholder afterwards is
// removed again, so the removal stands and the next commit carries it. A
// placeholder Subversion filled with an arriving version is kept.
//
// A queued step of a commit records the committed file's size and time as
// the file is when the step runs: a file the person changed since (while
// the daemon was away) would pass for unchanged and never be committed.
// The files that differ from what the working copy holds are found before
// the clean-up and stamped anew after it, so Subversion reads them again.
std::optional<SvnFailure> FinishUnfinishedWork(const std::string& root, svn_client_ctx_t* client, apr_pool_t* pool);

}  // namespace korvane::server
