// Access for the daemon's user alone: the access list its own folders get
// (full control for the user, nothing inherited from the parent, nobody
// else), and whether a folder is the user's.
#pragma once

#include <windows.h>

#include <string>

namespace korvane::server::windows {

class PrivateAccess {
 public:
  PrivateAccess();  // Attributes() is null when the system gives no descriptor
  ~PrivateAccess();
  PrivateAccess(const PrivateAccess&) = delete;
  PrivateAccess& operator=(const PrivateAccess&) = delete;

  // For CreateDirectoryW and CreateFileW: what they make is private at once.
  SECURITY_ATTRIBUTES* Attributes() { return descriptor_ != nullptr ? &attributes_ : nullptr; }

  // Gives the existing path this access list alone; false, with the
  // system's error set, when it cannot.
  bool Apply(const std::wstring& path);

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
  SECURITY_ATTRIBUTES attributes_{};
};

// Whether path is owned by the account the daemon runs as.
bool OwnedByUser(const std::wstring& path);

}  // namespace korvane::server::windows
