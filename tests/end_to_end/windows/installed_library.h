// The installed korvane.dll, loaded by path as the product's own programs
// load it, for the few exports the end-to-end run calls besides the menu.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace korvane::end_to_end {

class InstalledLibrary {
 public:
  // Throws std::runtime_error when the library or an export is missing.
  explicit InstalledLibrary(const std::wstring& path);
  ~InstalledLibrary();
  InstalledLibrary(const InstalledLibrary&) = delete;
  InstalledLibrary& operator=(const InstalledLibrary&) = delete;

  // The whole status record ("3|root|activated|asked|"); starts the daemon
  // when none runs, as Korvane_GetStatus does. Empty when it failed.
  std::optional<std::string> Status(const std::wstring& folder) const;
  // True when the stop request was delivered.
  bool StopDaemon() const;
  // The spaces the daemon lists (its second field), or nothing when it
  // could not be asked. Never starts a daemon.
  std::optional<std::string> Spaces() const;

 private:
  using StatusCall = int32_t (*)(const wchar_t*, char**);
  using StopCall = int32_t (*)();
  using ListCall = int32_t (*)(const wchar_t*, const wchar_t*, char**, char**, char**);

  void* Export(const char* name) const;

  HMODULE module_ = nullptr;
  StatusCall status_ = nullptr;
  StopCall stop_ = nullptr;
  ListCall list_ = nullptr;
};

}  // namespace korvane::end_to_end
