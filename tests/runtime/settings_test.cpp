// Settings: the user's value before the machine's, then the default.
#include "runtime/settings.h"

#include "support/scoped_settings.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace korvane::runtime {
namespace {

const SettingValue kDebug(u"Debug", 2);
const SettingValue kContextMenu(u"ContextMenuUsesTSVN", 0);
const SettingValue kTortoiseDirectory(u"SOFTWARE\\TortoiseSVN\\Directory", u"");
const SettingValue kLevelAsText(u"SOFTWARE\\Korvane\\Level", u"4");

// One value line under the key, in a hive file; none when the line is empty.
std::string Hive(const char* root, const char* key, const std::string& line) {
  if (line.empty()) return "";
  return std::string("Windows Registry Editor Version 5.00\n\n[") + root + "\\SOFTWARE\\" + key + "]\n" + line + "\n";
}

TEST(ReadSetting, TakesTheUserValueThenTheMachineValueThenTheDefault) {
  const struct {
    const char* label;
    const char* key;
    std::string user;
    std::string machine;
    const SettingValue& setting;
    std::int32_t number;
    std::u16string text;
  } cases[] = {
      {"no value anywhere", "Korvane", "", "", kDebug, 2, u"2"},
      {"user zero wins", "Korvane", "\"Debug\"=dword:00000000", "\"Debug\"=dword:5", kDebug, 0, u"0"},
      {"only the machine", "Korvane", "", "\"ContextMenuUsesTSVN\"=dword:1", kContextMenu, 1, u"1"},
      {"user qword is absent", "Korvane", "\"ContextMenuUsesTSVN\"=hex(b):07,00,00,00,00,00,00,00",
       "\"ContextMenuUsesTSVN\"=dword:3", kContextMenu, 3, u"3"},
      {"qword and no machine value", "Korvane", "\"ContextMenuUsesTSVN\"=hex(b):07,00,00,00,00,00,00,00", "",
       kContextMenu, 0, u"0"},
      {"short data of any type", "Korvane", "\"Debug\"=hex:05", "", kDebug, 5, u"5"},
      {"all bits set", "Korvane", "\"Debug\"=dword:ffffffff", "", kDebug, -1, u"-1"},
      {"user empty text wins", "TortoiseSVN", "\"Directory\"=\"\"", "\"Directory\"=\"C:\\\\TSVN\"",
       kTortoiseDirectory, 0, u""},
      {"user text with no data", "TortoiseSVN", "\"Directory\"=hex(1):", "\"Directory\"=\"C:\\\\TSVN\"",
       kTortoiseDirectory, 0, u""},
      {"text from the machine", "TortoiseSVN", "", "\"Directory\"=\"C:\\\\Program Files\\\\TortoiseSVN\\\\\"",
       kTortoiseDirectory, 0, u"C:\\Program Files\\TortoiseSVN\\"},
      {"text read as number", "Korvane", "\"Level\"=\" 12abc\"", "", kLevelAsText, 12, u" 12abc"},
      {"text default", "Korvane", "", "", kLevelAsText, 4, u"4"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    korvane::testing::ScopedSettings folders;
    folders.User(Hive("HKEY_CURRENT_USER", c.key, c.user));
    folders.Machine(Hive("HKEY_LOCAL_MACHINE", c.key, c.machine));
    EXPECT_EQ(ReadSettingNumber(c.setting), c.number);
    EXPECT_EQ(ReadSettingText(c.setting), c.text);
  }
}

TEST(ComposeSettingPath, PutsBareNamesUnderTheProductKey) {
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"Debug", u"SOFTWARE\\Korvane\\Debug"},
      {u"SOFTWARE\\TortoiseSVN\\Directory", u"SOFTWARE\\TortoiseSVN\\Directory"},
      {u"SOFTWARE/TortoiseSVN/Directory", u"SOFTWARE\\TortoiseSVN\\Directory"},
      {u"Vendor\\Value", u"SOFTWARE\\Vendor\\Value"},
      {u"software\\Vendor\\Value", u"SOFTWARE\\software\\Vendor\\Value"},
      {u"Policies\\SOFTWARE\\Value", u"Policies\\SOFTWARE\\Value"},
      {u"", u"SOFTWARE\\Korvane\\"},
  };
  for (const auto& [name, path] : cases) EXPECT_EQ(ComposeSettingPath(name), path);
}

TEST(SettingValue, KeepsTheDefaultAsNumberAndText) {
  const std::pair<std::u16string, std::int32_t> cases[] = {
      {u"42", 42},
      {u" \t-7x", -7},
      {u"+3", 3},
      {u"abc", 0},
      {u"", 0},
      {u"- 5", 0},
      {u"99999999999", INT_MAX},
      {u"-2147483648", INT_MIN},
      {u"-99999999999", INT_MIN},
  };
  for (const auto& [text, number] : cases) {
    EXPECT_EQ(SettingValue(u"Name", text).numberDefault, number) << std::string(text.begin(), text.end());
  }
  EXPECT_EQ(SettingValue(u"Debug", -12).textDefault, u"-12");
}

}  // namespace
}  // namespace korvane::runtime
