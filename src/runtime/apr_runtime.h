// The Apache Portable Runtime, brought up once per process by the module
// entry and taken down when the module is unloaded.
#pragma once

namespace korvane::runtime {

class AprRuntime {
 public:
  AprRuntime() = delete;

  // Initialises APR unless this module already did; true if APR is up.
  static bool Initialize();
  // Terminates APR if this module initialised it.
  static void Terminate();
};

}  // namespace korvane::runtime
