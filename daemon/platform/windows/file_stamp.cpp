#include "daemon/platform/file_stamp.h"

#include "daemon/base/windows/system_text.h"

namespace korvane::server {

namespace {

// 100-nanosecond ticks since 1601 to nanoseconds since 1970.
constexpr std::int64_t kEpochTicks = 116444736000000000LL;

std::int64_t Nanoseconds(const FILETIME& time) {
  const std::int64_t ticks = (static_cast<std::int64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  return (ticks - kEpochTicks) * 100;
}

// The entry itself: a link or junction is opened, not what it leads to.
HANDLE OpenEntry(const std::string& path, DWORD access) {
  return CreateFileW(windows::SystemPath(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

}  // namespace

std::optional<FileStamp> StampOf(const std::string& path) {
  HANDLE entry = OpenEntry(path, FILE_READ_ATTRIBUTES);
  if (entry == INVALID_HANDLE_VALUE) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION information{};
  const bool read = GetFileInformationByHandle(entry, &information);
  CloseHandle(entry);
  if (!read) return std::nullopt;
  FileStamp stamp;
  stamp.size = (static_cast<std::int64_t>(information.nFileSizeHigh) << 32) | information.nFileSizeLow;
  stamp.modified = Nanoseconds(information.ftLastWriteTime);
  stamp.identity = (static_cast<std::int64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
  return stamp;
}

std::int64_t FileClockNow() {
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);  // the clock NTFS stamps writes with
  return Nanoseconds(now);
}

void TouchNow(const std::string& path) {
  HANDLE entry = OpenEntry(path, FILE_WRITE_ATTRIBUTES);
  if (entry == INVALID_HANDLE_VALUE) return;
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  SetFileTime(entry, nullptr, &now, &now);
  CloseHandle(entry);
}

}  // namespace korvane::server
