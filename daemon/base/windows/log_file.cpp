#include "daemon/base/log_file.h"

#include "daemon/base/windows/system_text.h"

namespace korvane::server {

namespace {

HANDLE HandleOf(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// Append-only access makes every write land at the end; sharing deletion
// lets another daemon move the file to path.1 while this one holds it.
std::intptr_t Open(const std::string& path) {
  HANDLE file = CreateFileW(windows::SystemPath(path).c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  return file == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<std::intptr_t>(file);
}

}  // namespace

LogFile::LogFile(const std::string& path) : path_(path), handle_(Open(path)) {}

LogFile::~LogFile() {
  if (handle_ != -1) CloseHandle(HandleOf(handle_));
}

long long LogFile::Size() const {
  LARGE_INTEGER size{};
  if (handle_ == -1 || !GetFileSizeEx(HandleOf(handle_), &size)) return -1;
  return size.QuadPart;
}

void LogFile::Append(std::string_view line) const {
  HANDLE file = handle_ != -1 ? HandleOf(handle_) : GetStdHandle(STD_ERROR_HANDLE);
  DWORD written = 0;
  if (file != nullptr && file != INVALID_HANDLE_VALUE) {
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  }
}

void LogFile::Rotate() {
  MoveFileExW(windows::SystemPath(path_).c_str(), windows::SystemPath(path_ + ".1").c_str(),
              MOVEFILE_REPLACE_EXISTING);
  const std::intptr_t fresh = Open(path_);
  if (fresh == -1) return;
  if (handle_ != -1) CloseHandle(HandleOf(handle_));
  handle_ = fresh;
}

long LogFile::ProcessId() { return static_cast<long>(GetCurrentProcessId()); }

}  // namespace korvane::server
