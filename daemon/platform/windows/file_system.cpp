#include "daemon/platform/file_system.h"

#include "daemon/platform/windows/private_access.h"
#include "daemon/base/windows/system_text.h"

#include <cerrno>
#include <random>

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

// Six letters and digits from the system's random source, tried until one
// names no entry yet (a bounded number of times, as mkdtemp does).
int MakeUniqueFolder(std::string& pathTemplate) {
  constexpr std::string_view kLetters = "abcdefghijklmnopqrstuvwxyz0123456789";
  constexpr std::string_view kPlaceholder = "XXXXXX";
  if (!pathTemplate.ends_with(kPlaceholder)) {
    errno = EINVAL;
    return -1;
  }
  std::random_device random;
  std::uniform_int_distribution<std::size_t> pick(0, kLetters.size() - 1);
  const std::size_t start = pathTemplate.size() - kPlaceholder.size();
  for (int attempt = 0; attempt < 100; ++attempt) {
    for (std::size_t at = start; at < pathTemplate.size(); ++at) pathTemplate[at] = kLetters[pick(random)];
    if (MakePrivateFolder(pathTemplate) == 0) return 0;
    if (errno != EEXIST) return -1;
  }
  errno = EEXIST;
  return -1;
}

int ReadWholeFile(const std::string& path, std::string& text) {
  // Others may replace or delete the file while it is read.
  HANDLE file = CreateFileW(windows::SystemPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Failed();
  char buffer[8192];
  DWORD got = 0;
  for (;;) {
    if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
      const int failure = Failed();
      CloseHandle(file);
      return failure;
    }
    if (got == 0) break;
    text.append(buffer, got);
  }
  CloseHandle(file);
  return 0;
}

int RemoveFile(const std::string& path) { return DeleteFileW(windows::SystemPath(path).c_str()) ? 0 : Failed(); }

int RemoveEntry(const char* path) {
  const std::wstring entry = windows::SystemPath(path);
  const DWORD attributes = GetFileAttributesW(entry.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return Failed();
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    SetFileAttributesW(entry.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  }
  // A link to a folder is removed as a folder, without following it.
  const bool removed = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? RemoveDirectoryW(entry.c_str())
                                                                    : DeleteFileW(entry.c_str());
  if (removed) return 0;
  const int failure = Failed();
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) SetFileAttributesW(entry.c_str(), attributes);
  return failure;
}

std::string TemporaryFolder() {
  wchar_t folder[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
  if (length == 0 || length > MAX_PATH) return "C:\\Windows\\Temp";
  std::wstring path(folder, length);
  // Without its trailing separator, as every other folder the daemon names.
  while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
  return windows::Narrow(path);
}

}  // namespace korvane::server
