// The server no longer letting this user read a synced folder: the user
// was removed from the space (or the space was deleted). That is no wrong
// credential and no passing trouble: sync of the folder pauses, its files
// stay on disk as they are, and the person is told in plain words.
#pragma once

#include "daemon/base/daemon_log.h"
#include "daemon/store/job_board.h"
#include "daemon/svn/svn_runtime.h"

#include <chrono>
#include <string>

namespace korvane::server {

// Whether a Subversion failure is the server refusing access to the path
// (authorization), not refusing who we are (authentication).
bool IsAccessWithdrawn(const SvnFailure& failure);

// The space a working copy path belongs to on the team service (the first
// component of its path in the repository); the folder's name when unknown.
std::string SpaceOfWorkingCopy(const std::string& path);

// Pauses sync of path for wait (retryAt), says why once (the first of the
// failures in a row): "you are no longer a member of plans".
void PauseForWithdrawnAccess(const std::string& path, int& failures, std::chrono::steady_clock::time_point& retryAt,
                             std::chrono::milliseconds wait, const DaemonLog& log, JobBoard& jobs);

}  // namespace korvane::server
