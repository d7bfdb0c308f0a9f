// The UTF-8 conversion calls, which the korvane tool converts its texts with:
// sizes asked first, the NUL counted when the length is -1, and no write
// into a buffer too small. What the text becomes is the converter's (tested
// on every path there); here, the calls' size and NUL contracts.
#include "platform/windows_api.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Utf8Calls, ConvertBothWaysSizeFirstCountingTheNul) {
  const std::string utf8 = "J\xC3\xB6rg \xF0\x9F\x98\x80";
  const std::u16string utf16 = u"J\u00F6rg \U0001F600";
  const int wideSize = static_cast<int>(utf16.size()) + 1, narrowSize = static_cast<int>(utf8.size()) + 1;
  std::u16string wide(utf16.size() + 1, u'x');
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0), wideSize);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide.data(), wideSize), wideSize);
  EXPECT_EQ(wide, utf16 + u'\0');
  std::string narrow(utf8.size() + 1, 'x');
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, utf16.c_str(), -1, nullptr, 0, nullptr, nullptr), narrowSize);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, utf16.c_str(), -1, narrow.data(), narrowSize, nullptr, nullptr),
            narrowSize);
  EXPECT_EQ(narrow, utf8 + '\0');
  char16_t empty = u'x';
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "", -1, &empty, 1), 1);
  EXPECT_EQ(empty, u'\0');
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
