// The library's settings: a setting name becomes a registry location, read
// for the current user first and for the machine second.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace korvane::runtime {

// One setting: its name (a bare value name such as u"Debug", or a registry
// path such as u"SOFTWARE\\TortoiseSVN\\Directory") and its default, kept
// both as a number and as text.
struct SettingValue {
  // A number setting; the text default is the number in decimal.
  SettingValue(std::u16string settingName, std::int32_t defaultNumber);
  // A text setting; the number default is the text's leading integer (0
  // when it has none, clamped to the 32-bit range).
  SettingValue(std::u16string settingName, std::u16string defaultText);

  std::u16string name;
  bool isNumber;
  std::int32_t numberDefault;
  std::u16string textDefault;
};

// The registry key path of a setting name: "/" becomes "\", a bare name is a
// value of SOFTWARE\Korvane, and a path gets SOFTWARE\ in front unless it
// holds "SOFTWARE\" (case-sensitive) already.
std::u16string ComposeSettingPath(std::u16string_view name);

// The setting's value under HKEY_CURRENT_USER, else under HKEY_LOCAL_MACHINE,
// else its default. Every call reads the registry again. A text setting read
// as a number is its leading integer; a number setting read as text is its
// decimal text. Out of memory, the number is the default and the text empty.
std::int32_t ReadSettingNumber(const SettingValue& setting) noexcept;
std::u16string ReadSettingText(const SettingValue& setting) noexcept;

}  // namespace korvane::runtime
