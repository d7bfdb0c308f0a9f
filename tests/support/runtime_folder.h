// A private runtime folder for one test, so that each test's pipes and
// daemons are its own.
#pragma once

#include <optional>
#include <string>

namespace korvane::testing {

// Creates a fresh folder (mode 0700; on Windows below the user's temporary
// folder, whose access rights it inherits) and points XDG_RUNTIME_DIR at it
// for the helper's lifetime; afterwards restores the previous value and
// removes the folder with everything in it. Path() is UTF-8.
class ScopedRuntimeFolder {
 public:
  ScopedRuntimeFolder();  // throws std::system_error when it cannot
  ~ScopedRuntimeFolder();
  ScopedRuntimeFolder(const ScopedRuntimeFolder&) = delete;
  ScopedRuntimeFolder& operator=(const ScopedRuntimeFolder&) = delete;

  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  std::optional<std::string> previous_;
};

}  // namespace korvane::testing
