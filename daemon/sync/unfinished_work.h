// What an interrupted Subversion operation left to do in a working copy.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "daemon/conflicts/conflict_keeper.h"
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
//
// A queued step of an update puts the version it brought in place of the
// file, whatever the file holds then. Those of the changed files written
// after the working copy last recorded anything (so after the interrupted
// work queued its steps) are held aside across the clean-up; one that a
// step replaced is kept beside it as its conflict copy, naming who, and
// appended to kept.
std::optional<SvnFailure> FinishUnfinishedWork(const std::string& root, const std::string& who,
                                               std::vector<KeptConflict>& kept, svn_client_ctx_t* client,
                                               apr_pool_t* pool);

}  // namespace korvane::server
