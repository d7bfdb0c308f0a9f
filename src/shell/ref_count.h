// The module's count of live COM objects and server locks, which decides
// whether the shell may unload the library.
#pragma once

#include <cstdint>

namespace korvane::shell {

class RefCount {
 public:
  RefCount() = delete;
  static void Inc();
  static void Dec();
  static bool IsRefZero();
};

}  // namespace korvane::shell
