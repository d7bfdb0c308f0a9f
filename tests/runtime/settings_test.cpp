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

// Section lines in the cases name keys below the hive's root: "[SOFTWARE\\Korvane]".
std::string UnderRoot(std::string body, const std::string& root) {
  for (std::size_t at = body.find('['); at != std::string::npos; at = body.find('[', at + 1)) {
    body.insert(at + 1, root + "\\");
  }
  return "Windows Registry Editor Version 5.00\n\n" + body;
}

void WriteHives(const testing::ScopedSettings& settings, const std::string& user, const std::string& machine) {
  settings.User(UnderRoot(user, "HKEY_CURRENT_USER"));
  settings.Machine(UnderRoot(machine, "HKEY_LOCAL_MACHINE"));
}

constexpr char kKorvane[] = "[SOFTWARE\\Korvane]\n";
constexpr char kTortoise[] = "[SOFTWARE\\TortoiseSVN]\n";

TEST(ReadSetting, TakesTheUserValueThenTheMachineValueThenTheDefault) {
  const struct {
    const char* label;
    std::string user;
    std::string machine;
    const SettingValue& setting;
    std::int32_t number;
    std::u16string text;
  } cases[] = {
      {"no value anywhere", "", "", kDebug, 2, u"2"},
      {"user zero wins", kKorvane + std::string("\"Debug\"=dword:00000000\n"),
       kKorvane + std::string("\"Debug\"=dword:5\n"), kDebug, 0, u"0"},
      {"only the machine", "", kKorvane + std::string("\"ContextMenuUsesTSVN\"=dword:1\n"), kContextMenu, 1, u"1"},
      {"user qword is absent", kKorvane + std::string("\"ContextMenuUsesTSVN\"=hex(b):07,00,00,00,00,00,00,00\n"),
       kKorvane + std::string("\"ContextMenuUsesTSVN\"=dword:3\n"), kContextMenu, 3, u"3"},
      {"qword and no machine value", kKorvane + std::string("\"ContextMenuUsesTSVN\"=hex(b):07,00,00,00,00,00,00,00\n"),
       "", kContextMenu, 0, u"0"},
      {"short data of any type", kKorvane + std::string("\"Debug\"=hex:05\n"), "", kDebug, 5, u"5"},
      {"all bits set", kKorvane + std::string("\"Debug\"=dword:ffffffff\n"), "", kDebug, -1, u"-1"},
      {"user empty text wins", kTortoise + std::string("\"Directory\"=\"\"\n"),
       kTortoise + std::string("\"Directory\"=\"C:\\\\TSVN\"\n"), kTortoiseDirectory, 0, u""},
      {"user text with no data", kTortoise + std::string("\"Directory\"=hex(1):\n"),
       kTortoise + std::string("\"Directory\"=\"C:\\\\TSVN\"\n"), kTortoiseDirectory, 0, u""},
      {"text from the machine", "",
       kTortoise + std::string("\"Directory\"=\"C:\\\\Program Files\\\\TortoiseSVN\\\\\"\n"), kTortoiseDirectory, 0,
       u"C:\\Program Files\\TortoiseSVN\\"},
      {"text read as number", kKorvane + std::string("\"Level\"=\" 12abc\"\n"), "", kLevelAsText, 12, u" 12abc"},
      {"text default", "", "", kLevelAsText, 4, u"4"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    korvane::testing::ScopedSettings folders;
    WriteHives(folders, c.user, c.machine);
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
    SettingValue setting(u"Name", text);
    EXPECT_FALSE(setting.isNumber);
    EXPECT_EQ(setting.numberDefault, number) << std::string(text.begin(), text.end());
  }
  SettingValue number(u"Debug", -12);
  EXPECT_TRUE(number.isNumber);
  EXPECT_EQ(number.textDefault, u"-12");
}

}  // namespace
}  // namespace korvane::runtime
