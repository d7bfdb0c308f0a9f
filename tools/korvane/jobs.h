// The daemon's background work as it publishes it in the file "jobs" of its
// state folder (see daemon/store/job_board.h for the format): listing it,
// and waiting for one piece of work with its progress shown.
#pragma once

#include "report.h"

#include <cstdint>
#include <optional>
#include <string>

namespace korvane::cli {

// The board as the daemon last wrote it; nothing when there is none or it
// does not parse.
std::optional<Json> ReadJobs();
// The highest id on a board (0 for none): work begun later has a higher one.
std::uint64_t HighestJobId(const std::optional<Json>& board);

// korvane jobs: the board's work, for a person or as JSON under "jobs".
int ListJobs(Report& report);

// Waits for the work of operation on folder that a one-way command just
// asked for: the newest job for it above highestBefore, or the one still
// running that made the daemon ignore the command. Shows its progress on
// standard error, puts it under "job" and says how it ended. Succeeds when
// the work succeeded.
void WaitForJob(Report& report, const std::string& operation, const std::string& folder,
                std::uint64_t highestBefore);

}  // namespace korvane::cli
