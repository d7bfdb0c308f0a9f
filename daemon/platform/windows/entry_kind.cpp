#include "daemon/platform/entry_kind.h"

#include "daemon/base/windows/system_text.h"

namespace korvane::server {

namespace {

// Whether the entry can be opened for reading its content (a file) or
// listing it (a folder).
bool Readable(const std::wstring& path, bool folder, DWORD& error) {
  HANDLE entry = CreateFileW(path.c_str(), folder ? FILE_LIST_DIRECTORY : GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (entry == INVALID_HANDLE_VALUE) {
    error = GetLastError();
    return false;
  }
  CloseHandle(entry);
  return true;
}

}  // namespace

// Links (IO_REPARSE_TAG_SYMLINK) and folder junctions (mount points) are
// what Subversion keeps as links or folders; any other reparse point (a
// cloud placeholder, a deduplicated file, a socket of WSL) is the system's.
EntryKind KindOf(const std::string& path) {
  EntryKind kind;
  const std::wstring system = windows::SystemPath(path);
  WIN32_FIND_DATAW found{};
  HANDLE search = FindFirstFileW(system.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return kind;
  FindClose(search);
  kind.exists = true;
  const DWORD attributes = found.dwFileAttributes;
  kind.folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  if ((attributes & FILE_ATTRIBUTE_DEVICE) != 0) {
    kind.problem = "it is a device";
    return kind;
  }
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    if (found.dwReserved0 != IO_REPARSE_TAG_SYMLINK && found.dwReserved0 != IO_REPARSE_TAG_MOUNT_POINT) {
      kind.problem = "it is a reparse point of the system's";
    }
    return kind;
  }
  DWORD error = 0;
  if (!Readable(system, kind.folder, error)) kind.problem = "it cannot be read: " + windows::SystemMessage(error);
  return kind;
}

}  // namespace korvane::server
