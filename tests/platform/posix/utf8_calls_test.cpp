// The UTF-8 conversion calls, which the korvane tool converts its texts with:
// sizes asked first, the NUL counted when the length is -1, and no write
// into a buffer too small.
#include "platform/windows_api.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Size first, then the text; the counted NUL is dropped.
std::u16string Wide(const std::string& utf8) {
  std::u16string wide(static_cast<std::size_t>(MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0)), u'x');
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide.data(), static_cast<int>(wide.size())),
            static_cast<int>(wide.size()));
  EXPECT_EQ(wide.back(), u'\0');
  wide.pop_back();
  return wide;
}

std::string Narrow(const std::u16string& utf16) {
  std::string narrow(
      static_cast<std::size_t>(WideCharToMultiByte(CP_UTF8, 0, utf16.c_str(), -1, nullptr, 0, nullptr, nullptr)), 'x');
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, utf16.c_str(), -1, narrow.data(), static_cast<int>(narrow.size()), nullptr,
                                nullptr),
            static_cast<int>(narrow.size()));
  EXPECT_EQ(narrow.back(), '\0');
  narrow.pop_back();
  return narrow;
}

// What the text becomes is the converter's (tested on every path there);
// here, the calls' size and NUL contracts.
TEST(Utf8Calls, ConvertBothWaysSizeFirst) {
  EXPECT_EQ(Wide("J\xC3\xB6rg \xF0\x9F\x98\x80"), u"J\u00F6rg \U0001F600");
  EXPECT_EQ(Narrow(u"J\u00F6rg \U0001F600"), "J\xC3\xB6rg \xF0\x9F\x98\x80");
  EXPECT_EQ(Wide(""), u"");
}

TEST(Utf8Calls, RefuseABufferTooSmallAndOtherCodePages) {
  char16_t wide[4] = {u'x', u'x', u'x', u'x'};
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abcd", 4, wide, 3), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(wide[0], u'x');
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abcd", 4, wide, 4), 4);  // no NUL without -1
  EXPECT_EQ(std::u16string(wide, 4), u"abcd");
  EXPECT_EQ(MultiByteToWideChar(1252, 0, "abcd", 4, wide, 4), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

}  // namespace
