#include "daemon/platform/file_system.h"

#include "daemon/platform/windows/private_access.h"
#include "daemon/base/windows/system_text.h"

#include <cerrno>

namespace korvane::server {

namespace {

// The errno a POSIX caller expects for the system's error.
int ErrnoOf(DWORD error) {
  switch (error) {
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
      return EEXIST;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return ENOENT;
    case ERROR_NOT_SAME_DEVICE:
      return EXDEV;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EACCES;
    case ERROR_DISK_FULL:
      return ENOSPC;
    case ERROR_DIR_NOT_EMPTY:
      return ENOTEMPTY;
    default:
      return EIO;
  }
}

int Failed() {
  errno = ErrnoOf(GetLastError());
  return -1;
}

}  // namespace

// Without MOVEFILE_REPLACE_EXISTING the move never replaces, and without
// MOVEFILE_COPY_ALLOWED it never copies: another volume fails with EXDEV.
int RenameNoReplace(const char* from, const char* to) {
  if (MoveFileExW(windows::SystemPath(from).c_str(), windows::SystemPath(to).c_str(), 0)) return 0;
  return Failed();
}

int MakePrivateFolder(const std::string& path) {
  windows::PrivateAccess access;
  if (CreateDirectoryW(windows::SystemPath(path).c_str(), access.Attributes())) return 0;
  return Failed();
}

}  // namespace korvane::server
