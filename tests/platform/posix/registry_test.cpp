// The read-only registry over export-format files.
#include "platform/windows_api.h"

#include "support/scoped_settings.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <variant>
#include <vector>

namespace {

struct Stored {
  DWORD type;
  std::vector<BYTE> data;
  bool operator==(const Stored&) const = default;
};

void PrintTo(const Stored& stored, std::ostream* out) {
  *out << "type " << stored.type << ":";
  for (BYTE byte : stored.data) *out << " " << static_cast<int>(byte);
}

using Outcome = std::variant<LSTATUS, Stored>;
constexpr LSTATUS kNotFound = ERROR_FILE_NOT_FOUND;

// A value as the registry reports it, or the error of its key or value.
Outcome ReadValue(HKEY root, const char16_t* subKey, const char16_t* name) {
  HKEY key = nullptr;
  if (LSTATUS opened = RegOpenKeyExW(root, subKey, 0, KEY_QUERY_VALUE, &key); opened != 0) return opened;
  Stored stored{};
  DWORD size = 0;
  LSTATUS result = RegQueryValueExW(key, name, nullptr, &stored.type, nullptr, &size);
  stored.data.resize(size);
  if (result == 0) result = RegQueryValueExW(key, name, nullptr, nullptr, stored.data.data(), &size);
  EXPECT_EQ(RegCloseKey(key), 0);
  if (result != 0) return result;
  return stored;
}

// A REG_SZ value: UTF-16LE with its NUL.
Outcome Text(std::u16string_view text) {
  Stored stored{REG_SZ, {}};
  for (char16_t c : std::u16string(text) + u'\0') stored.data.insert(stored.data.end(), {BYTE(c), BYTE(c >> 8)});
  return stored;
}

Outcome Dword(BYTE low) { return Stored{REG_DWORD, {low, 0, 0, 0}}; }

TEST(RegistryFile, ReadsEveryKindOfValue) {
  korvane::testing::ScopedSettings folders;
  folders.User(
      "Windows Registry Editor Version 5.00\n\n; settings\n[HKEY_CURRENT_USER\\SOFTWARE\\Korvane]\n"
      "@=\"default\"\n\"Debug\"=dword:0000002a\n\"Dir\"=\"C:\\\\Tools \\\"x\\\"\"\n"
      "\"Big\"=hex(b):01,00,00,00,00,00,00,00\n\"Blob\"=hex:de,ad,\\\n  be,ef\n\"Expand\"=hex(2):25,00,00,00\n"
      "\"Multi\"=hex(7):61,00,00,00,00,00\n\"Nothing\"=hex:\n\"Name\"=\"\xC3\xBC\xE2\x82\xAC\"\n\"Name\"=\"later\"\n"
      "[HKEY_CURRENT_USER\\SOFTWARE\\Other]\n\"Debug\"=dword:00000009\n");
  const struct {
    const char16_t* name;
    Outcome expected;
  } cases[] = {
      {u"", Text(u"default")},
      {nullptr, Text(u"default")},
      {u"Debug", Dword(0x2a)},
      {u"Dir", Text(u"C:\\Tools \"x\"")},
      {u"Big", Stored{REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0}}},
      {u"Blob", Stored{REG_BINARY, {0xde, 0xad, 0xbe, 0xef}}},
      {u"Expand", Stored{REG_EXPAND_SZ, {0x25, 0, 0, 0}}},
      {u"Multi", Stored{REG_MULTI_SZ, {0x61, 0, 0, 0, 0, 0}}},
      {u"Nothing", Stored{REG_BINARY, {}}},
      {u"Name", Text(u"later")},
      {u"Missing", kNotFound},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, u"SOFTWARE\\Korvane", cases[i].name), cases[i].expected);
  }
}

TEST(RegistryFile, SkipsMalformedLinesAndReadsTheRest) {
  korvane::testing::ScopedSettings folders;
  folders.User(
      "[HKEY_CURRENT_USER\\SOFTWARE\\Korvane]\n\"A\"=dword:1\nnot a registry line\n\"NoValue\"\n"
      "\"Letters\"=dword:xyz\n\"TooLong\"=dword:123456789\n\"Open\"=\"abc\n\"Escape\"=\"a\\qb\"\n"
      "\"Stray\"=\"x\" y\n\"BadHex\"=hex:01,zz\n\"Trailing\"=hex:01,\n\"Deleted\"=-\n"
      "[HKEY_CURRENT_USER\\SOFTWARE\\Korvane\n\"Orphan\"=dword:5\n[HKEY_CURRENT_USER\\SOFTWARE\\Korvane]\n"
      "\"B\"=\"b\"\n\"Cut\"=hex:01,\\\n");
  EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, u"SOFTWARE\\Korvane", u"A"), Dword(1));
  EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, u"SOFTWARE\\Korvane", u"B"), Text(u"b"));
  for (const char16_t* bad : {u"NoValue", u"Letters", u"TooLong", u"Open", u"Escape", u"Stray", u"BadHex", u"Trailing",
                              u"Deleted", u"Orphan", u"Cut"}) {
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, u"SOFTWARE\\Korvane", bad), (Outcome(kNotFound)));
  }
}

TEST(RegistryFile, AcceptsUtf8AndUtf16LeWithOrWithoutMarks) {
  const std::string text = "[HKEY_CURRENT_USER\\Software\\Korvane]\r\n\"Dir\"=\"\xC3\xBC\"\r\n";
  std::string utf16 = "\xFF\xFE";
  for (char16_t c : u"[HKEY_CURRENT_USER\\Software\\Korvane]\r\n\"Dir\"=\"\u00FC\"\r\n") {
    if (c != 0) utf16 += {static_cast<char>(c), static_cast<char>(c >> 8)};
  }
  for (const std::string& file : {text, "\xEF\xBB\xBF" + text, utf16}) {
    korvane::testing::ScopedSettings folders;
    folders.User(file);
    EXPECT_EQ(ReadValue(HKEY_CURRENT_USER, u"SOFTWARE\\Korvane", u"dir"), Text(u"\u00FC"));
  }
}

TEST(RegistryOpen, FindsOnlyTheKeysOfItsOwnHive) {
  korvane::testing::ScopedSettings folders;
  folders.User("[HKEY_CURRENT_USER\\SOFTWARE\\Korvane\\Deep]\n\"V\"=dword:1\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Mixed]\n");
  folders.Write("none/korvane/other.reg", "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wrong]\n");
  folders.Machine("[hkey_local_machine\\software\\korvane]\n\"V\"=dword:2\n");
  const struct {
    HKEY root;
    const char16_t* subKey;
    LSTATUS expected;
  } cases[] = {
      {HKEY_CURRENT_USER, u"SOFTWARE\\Korvane\\Deep", 0},
      {HKEY_CURRENT_USER, u"software\\KORVANE", 0},
      {HKEY_CURRENT_USER, u"SOFTWARE", 0},
      {HKEY_CURRENT_USER, u"", 0},
      {HKEY_CURRENT_USER, u"SOFTWARE\\Korv", kNotFound},
      {HKEY_CURRENT_USER, u"SOFTWARE/Korvane", kNotFound},
      {HKEY_CURRENT_USER, u"SOFTWARE\\Mixed", kNotFound},
      {HKEY_CURRENT_USER, u"SOFTWARE\\Korvane\\", kNotFound},
      {HKEY_LOCAL_MACHINE, u"SOFTWARE\\Korvane", 0},
      {HKEY_LOCAL_MACHINE, u"SOFTWARE\\Wrong", kNotFound},
      {reinterpret_cast<HKEY>(&folders), u"SOFTWARE", ERROR_INVALID_HANDLE},
  };
  for (const auto& c : cases) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(c.root, c.subKey, 0, KEY_QUERY_VALUE, &key), c.expected);
    EXPECT_EQ(key != nullptr, c.expected == 0);
    if (key != nullptr) {
      EXPECT_EQ(RegCloseKey(key), 0);
    }
  }
  EXPECT_EQ(ReadValue(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Korvane", u"V"), Dword(2));
}

// The file is read again at each open, also below a key opened before it changed.
TEST(RegistryQuery, RereadsTheFileAndReportsSizesAsWindowsDoes) {
  korvane::testing::ScopedSettings folders;
  HKEY key = nullptr, software = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"SOFTWARE\\Korvane", 0, KEY_QUERY_VALUE, &key), kNotFound);
  folders.User("[HKEY_CURRENT_USER\\SOFTWARE\\Korvane]\n\"Dir\"=\"x\"\n");
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"SOFTWARE", 0, KEY_QUERY_VALUE, &software), 0);
  folders.User("[HKEY_CURRENT_USER\\SOFTWARE\\Korvane]\n\"Dir\"=\"abc\"\n");
  ASSERT_EQ(RegOpenKeyExW(software, u"Korvane", 0, KEY_QUERY_VALUE, &key), 0);
  EXPECT_EQ(RegCloseKey(software), 0);
  DWORD type = 0, size = 0;
  EXPECT_EQ(RegQueryValueExW(key, u"Dir", nullptr, &type, nullptr, &size), 0);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(size, 8u);  // three characters and the NUL
  char16_t text[4] = {u'x', u'x', u'x', u'x'};
  size = 6;
  EXPECT_EQ(RegQueryValueExW(key, u"Dir", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 8u);
  EXPECT_EQ(RegQueryValueExW(key, u"Dir", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size), 0);
  EXPECT_EQ(std::u16string(text, 4), std::u16string(u"abc", 4));
  EXPECT_EQ(RegQueryValueExW(key, u"Dir", nullptr, nullptr, reinterpret_cast<BYTE*>(text), nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegCloseKey(key), 0);
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegQueryValueExW(key, u"Dir", nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegQueryValueExW(nullptr, u"Dir", nullptr, nullptr, nullptr, &size), ERROR_INVALID_HANDLE);
}

}  // namespace
