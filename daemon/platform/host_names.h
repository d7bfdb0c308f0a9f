#pragma once

#include <string>

namespace korvane::server {

// This computer's name without its domain, as people call it; "this
// computer" when the system gives none.
std::string HostName();

}  // namespace korvane::server
