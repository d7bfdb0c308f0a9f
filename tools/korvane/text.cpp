// Through the system's UTF-8 conversion (on Linux the Windows API stand-in
// that the shipped library uses), so that the tool's texts are converted as
// the library's are and no converter of its own can disagree.
#include "text.h"

#include "platform/windows_api.h"

namespace korvane::cli {

std::u16string Utf16(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int length = static_cast<int>(utf8.size());
  std::u16string wide(static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0)), u'\0');
  wide.resize(static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length,
                                                           reinterpret_cast<LPWSTR>(wide.data()),
                                                           static_cast<int>(wide.size()))));
  return wide;
}

std::string Utf8(std::u16string_view utf16) {
  if (utf16.empty()) return {};
  const auto* units = reinterpret_cast<LPCWSTR>(utf16.data());
  const int length = static_cast<int>(utf16.size());
  std::string narrow(static_cast<std::size_t>(WideCharToMultiByte(CP_UTF8, 0, units, length, nullptr, 0, nullptr, nullptr)),
                     '\0');
  narrow.resize(static_cast<std::size_t>(
      WideCharToMultiByte(CP_UTF8, 0, units, length, narrow.data(), static_cast<int>(narrow.size()), nullptr, nullptr)));
  return narrow;
}

}  // namespace korvane::cli
