// No pipe lives in the folder on Windows; it holds the test's files.
#include "support/runtime_folder.h"

#include "support/windows/windows_helpers.h"

#include "platform/windows_api.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace korvane::testing {

ScopedRuntimeFolder::ScopedRuntimeFolder() {
  const std::wstring folder = MakeFreshFolder(L"korvane-test-");
  // With "/" separators, as paths are on POSIX and in Subversion's
  // canonical form, so that tests can build and compare paths alike.
  path_ = Utf8(folder);
  std::replace(path_.begin(), path_.end(), '\\', '/');
  if (const wchar_t* previous = ::_wgetenv(L"XDG_RUNTIME_DIR")) previous_ = Utf8(previous);
  ::_wputenv_s(L"XDG_RUNTIME_DIR", folder.c_str());
}

ScopedRuntimeFolder::~ScopedRuntimeFolder() {
  ::_wputenv_s(L"XDG_RUNTIME_DIR", previous_ ? Wide(*previous_).c_str() : L"");
  std::error_code ignored;
  std::filesystem::remove_all(std::filesystem::path(Wide(path_)), ignored);
}

}  // namespace korvane::testing
