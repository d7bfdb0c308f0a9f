#pragma once

#include <optional>
#include <string>

namespace korvane::testing {

// A private runtime folder for one test, so that its pipes and daemons are
// its own: a fresh folder (mode 0700; on Windows below the user's temporary
// folder, whose access rights it inherits) that XDG_RUNTIME_DIR points at for
// the helper's lifetime. Removed with everything in it at the end. Path() is
// UTF-8.
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
