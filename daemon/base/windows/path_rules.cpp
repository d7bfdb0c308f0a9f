#include "daemon/base/path_rules.h"

#include "daemon/base/windows/system_text.h"

#include <cwctype>
#include <vector>

namespace korvane::server {

namespace {

constexpr std::wstring_view kVerbatimPrefix = L"\\\\?\\";
constexpr std::wstring_view kVerbatimSharePrefix = L"\\\\?\\UNC\\";

// The path the handle's file has now, links followed, in the names and case
// the file system keeps, with a drive letter; empty when the system cannot
// say.
std::wstring FinalPathOf(HANDLE file) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = GetFinalPathNameByHandleW(file, buffer.data(), static_cast<DWORD>(buffer.size()),
                                                   FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) return {};
    if (length < buffer.size()) return std::wstring(buffer.data(), length);
    buffer.resize(length + 1);
  }
}

// "\\?\C:\x" as "C:\x" and "\\?\UNC\server\share" as "\\server\share": the
// forms the rest of the daemon and its users write.
std::wstring WithoutVerbatimPrefix(std::wstring path) {
  if (path.starts_with(kVerbatimSharePrefix)) return L"\\\\" + path.substr(kVerbatimSharePrefix.size());
  if (path.starts_with(kVerbatimPrefix)) return path.substr(kVerbatimPrefix.size());
  return path;
}

// Every short 8.3 part of an existing path in its long form.
std::wstring LongPath(const std::wstring& path) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = GetLongPathNameW(path.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return path;
    if (length < buffer.size()) return std::wstring(buffer.data(), length);
    buffer.resize(length + 1);
  }
}

}  // namespace

// The file is opened for no access at all, which any reader is allowed and
// which does not hold it against others; a folder opens only with backup
// semantics.
std::optional<std::string> RealPath(const std::string& path) {
  if (path.empty()) return std::nullopt;
  const HANDLE file = CreateFileW(windows::SystemPath(path).c_str(), 0,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  const std::wstring final = FinalPathOf(file);
  CloseHandle(file);
  if (final.empty()) return std::nullopt;
  return windows::Narrow(LongPath(WithoutVerbatimPrefix(final)));
}

bool IsPathSeparator(char c) { return c == '/' || c == '\\'; }

std::size_t RootLength(std::string_view path) {
  const auto separatorAt = [&](std::size_t at) { return at < path.size() && IsPathSeparator(path[at]); };
  if (path.size() >= 2 && path[1] == ':' && std::iswalpha(static_cast<unsigned char>(path[0]))) {
    return separatorAt(2) ? 3 : 2;
  }
  if (!separatorAt(0) || !separatorAt(1)) return separatorAt(0) ? 1 : 0;
  // "\\?\C:\..." and "\\.\C:\...": the drive's root after the prefix.
  if (path.size() >= 4 && (path[2] == '?' || path[2] == '.') && separatorAt(3)) {
    const std::size_t inner = RootLength(path.substr(4));
    return inner > 1 ? 4 + inner : 4;
  }
  // "\\server\share\": the share is the root.
  std::size_t at = 2;
  for (int part = 0; part < 2; ++part) {
    while (at < path.size() && !IsPathSeparator(path[at])) ++at;
    if (at == path.size()) return at;
    ++at;
  }
  return at;
}

std::string ComparablePath(std::string_view path) {
  std::wstring wide = windows::SystemPath(path);
  if (wide.empty()) return {};
  std::wstring upper(wide.size(), L'\0');
  const int length = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.data(), static_cast<int>(wide.size()),
                                   upper.data(), static_cast<int>(upper.size()), nullptr, nullptr, 0);
  if (length == static_cast<int>(upper.size())) wide = std::move(upper);
  return windows::Narrow(wide);
}

}  // namespace korvane::server
