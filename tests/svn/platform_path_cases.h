// Paths whose canonical and local forms belong to one platform: its own
// separator and drive rules.
#pragma once

#include <vector>

namespace korvane::svn {

struct PlatformPathCase {
  const char16_t* input;
  const char* internal;
  const char16_t* local;
};

const std::vector<PlatformPathCase>& PlatformPathCases();

}  // namespace korvane::svn
