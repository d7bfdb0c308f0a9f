// Small pieces the Windows test support files share: UTF-8 and UTF-16 text,
// an owner for kernel handles, errors from GetLastError, functions of ntdll
// that the SDK headers leave out, and fresh folders for a test's files.
#pragma once

#include "platform/windows_api.h"
#include "text/utf_convert.h"

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

namespace korvane::testing {

// wchar_t is UTF-16 on Windows.
inline std::wstring Wide(std::string_view utf8) {
  const std::u16string wide = text::Utf8ToWide(utf8);
  return {wide.begin(), wide.end()};
}

inline std::string Utf8(std::wstring_view wide) {
  return text::WideToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(wide.data()), wide.size()));
}

// Closes what Create* and Open* calls hand out; both of their failure
// values (NULL, INVALID_HANDLE_VALUE) are left alone.
struct HandleCloser {
  void operator()(HANDLE handle) const {
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
  }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

[[noreturn]] inline void ThrowLastError(const std::string& what) {
  throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(), what);
}

// Owns what a Create* call returned; throws when it returned NULL.
inline UniqueHandle Checked(HANDLE handle, const std::string& what) {
  if (handle == nullptr) ThrowLastError(what);
  return UniqueHandle(handle);
}

// A function that ntdll exports but the import libraries leave out, or
// nullptr.
template <typename Function>
Function NtFunction(const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), name)));
}

// A new folder below the user's temporary folder (private to the user by
// the access rights it inherits), named from the prefix, the process id and
// a counter; a name left by an earlier process only costs another try.
inline std::wstring MakeFreshFolder(std::wstring_view prefix) {
  static std::atomic<unsigned> counter{0};
  const std::filesystem::path temp = std::filesystem::temp_directory_path();
  const std::wstring stem = std::wstring(prefix) + std::to_wstring(::GetCurrentProcessId()) + L"-";
  for (;;) {
    const std::filesystem::path folder = temp / (stem + std::to_wstring(counter++));
    if (std::filesystem::create_directory(folder)) return folder.wstring();
  }
}

}  // namespace korvane::testing
