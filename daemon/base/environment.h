// Limits and periods the environment may set (the tests shorten them this
// way), read the same way in every layer and on every system.
#pragma once

namespace korvane::server {

// The variable's positive decimal value, else fallback.
long NumberFromEnvironment(const char* name, long fallback);

}  // namespace korvane::server
