#pragma once

#include <string>

namespace korvane::server {

// This computer's name without its domain, as people call it; "this
// computer" when the system gives none.
std::string HostName();

// The name of the account the daemon runs as (its effective user), from the
// password database, else $USER; empty when neither gives one.
std::string UserName();

// This process's id, as the log and the job board name the daemon.
long ProcessId();

}  // namespace korvane::server
