// Access for the daemon's user alone: who that user is, a security
// descriptor that lets nobody else in (the daemon's folders and its pipe get
// one each), and whether a folder is the user's.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace korvane::server::windows {

// The TOKEN_USER that a token holds, or nothing when it cannot be read.
std::vector<BYTE> UserOfToken(HANDLE token);

// The SID of the account the daemon runs as, read once from its token; null
// when it cannot be read.
PSID OwnUser();

class PrivateAccess {
 public:
  // Grants access to the daemon's user and nobody else, with nothing taken
  // from the parent; when inherited, files and folders made inside get the
  // same. Attributes() is null when the system gives no descriptor.
  explicit PrivateAccess(DWORD access = FILE_ALL_ACCESS, bool inherited = true);
  ~PrivateAccess();
  PrivateAccess(const PrivateAccess&) = delete;
  PrivateAccess& operator=(const PrivateAccess&) = delete;

  // For CreateDirectoryW, CreateFileW and CreateNamedPipeW: what they make is
  // private at once.
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
