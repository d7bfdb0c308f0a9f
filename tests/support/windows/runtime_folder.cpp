// A fresh folder below the user's temporary folder (private to the user by
// the access rights it inherits from there). No pipe lives in it on Windows;
// it holds the test's files, and XDG_RUNTIME_DIR points at it as on POSIX.
#include "support/runtime_folder.h"

#include "platform/windows_api.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace korvane::testing {
namespace {

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int size =
      ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
  return bytes;
}

std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int size = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring text(static_cast<std::size_t>(size), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text.data(), size);
  return text;
}

// Names from the process id, a counter and the clock; CreateDirectoryW
// refuses a name that exists, so a clash only costs another try.
std::wstring MakeFreshFolder() {
  static std::atomic<unsigned> counter{0};
  std::wstring temp(MAX_PATH + 1, L'\0');
  const DWORD length = ::GetTempPathW(static_cast<DWORD>(temp.size()), temp.data());
  if (length == 0 || length > temp.size()) {
    throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(), "GetTempPathW");
  }
  temp.resize(length);  // ends with a backslash
  for (int attempt = 0;; ++attempt) {
    const std::wstring folder = temp + L"korvane-test-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                                std::to_wstring(counter++) + L"-" + std::to_wstring(::GetTickCount64() % 100000);
    if (::CreateDirectoryW(folder.c_str(), nullptr)) return folder;
    const DWORD error = ::GetLastError();
    if (error != ERROR_ALREADY_EXISTS || attempt == 100) {
      throw std::system_error(static_cast<int>(error), std::system_category(), "CreateDirectoryW " + Utf8(folder));
    }
  }
}

}  // namespace

ScopedRuntimeFolder::ScopedRuntimeFolder() {
  const std::wstring folder = MakeFreshFolder();
  path_ = Utf8(folder);
  if (const wchar_t* previous = ::_wgetenv(L"XDG_RUNTIME_DIR")) previous_ = Utf8(previous);
  ::_wputenv_s(L"XDG_RUNTIME_DIR", folder.c_str());
}

ScopedRuntimeFolder::~ScopedRuntimeFolder() {
  ::_wputenv_s(L"XDG_RUNTIME_DIR", previous_ ? Wide(*previous_).c_str() : L"");
  std::error_code ignored;
  std::filesystem::remove_all(std::filesystem::path(Wide(path_)), ignored);
}

}  // namespace korvane::testing
