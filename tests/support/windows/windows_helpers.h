// Small pieces the Windows test support files share: UTF-8 and UTF-16 text,
// an owner for kernel handles, errors from GetLastError, functions of ntdll
// that the SDK headers leave out, and fresh folders for a test's files.
#pragma once

#include "platform/windows_api.h"

#include <atomic>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

namespace korvane::testing {

inline std::wstring Wide(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int size = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring text(static_cast<std::size_t>(size), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text.data(), size);
  return text;
}

inline std::string Utf8(std::wstring_view text) {
  if (text.empty()) return {};
  const int size =
      ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
  return bytes;
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

// A function that ntdll exports but the SDK's import libraries do not
// offer, or nullptr.
template <typename Function>
Function NtFunction(const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), name)));
}

// A new folder below the user's temporary folder (private to the user by
// the access rights it inherits from there), named from the prefix, the
// process id, a counter and the clock. CreateDirectoryW refuses a name that
// exists, so a clash only costs another try. Throws std::system_error.
inline std::wstring MakeFreshFolder(std::wstring_view prefix) {
  static std::atomic<unsigned> counter{0};
  std::wstring temp(MAX_PATH + 1, L'\0');
  const DWORD length = ::GetTempPathW(static_cast<DWORD>(temp.size()), temp.data());
  if (length == 0 || length > temp.size()) ThrowLastError("GetTempPathW");
  temp.resize(length);  // ends with a backslash
  for (int attempt = 0;; ++attempt) {
    const std::wstring folder = temp + std::wstring(prefix) + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                                std::to_wstring(counter++) + L"-" + std::to_wstring(::GetTickCount64() % 100000);
    if (::CreateDirectoryW(folder.c_str(), nullptr)) return folder;
    const DWORD error = ::GetLastError();
    if (error != ERROR_ALREADY_EXISTS || attempt == 100) {
      throw std::system_error(static_cast<int>(error), std::system_category(), "CreateDirectoryW " + Utf8(folder));
    }
  }
}

}  // namespace korvane::testing
