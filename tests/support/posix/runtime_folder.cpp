#include "support/runtime_folder.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace korvane::testing {

ScopedRuntimeFolder::ScopedRuntimeFolder() {
  // Under /tmp rather than $TMPDIR: socket paths must stay within the
  // 108 bytes of sun_path.
  std::string name = "/tmp/korvane-test-XXXXXX";
  if (mkdtemp(name.data()) == nullptr) {
    throw std::system_error(errno, std::generic_category(), "mkdtemp");
  }
  path_ = std::move(name);
  if (const char* previous = std::getenv("XDG_RUNTIME_DIR")) previous_ = previous;
  setenv("XDG_RUNTIME_DIR", path_.c_str(), 1);
}

ScopedRuntimeFolder::~ScopedRuntimeFolder() {
  if (previous_) {
    setenv("XDG_RUNTIME_DIR", previous_->c_str(), 1);
  } else {
    unsetenv("XDG_RUNTIME_DIR");
  }
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace korvane::testing
