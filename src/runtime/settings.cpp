// Reading the library's settings from the registry.
#include "runtime/settings.h"

#include "runtime/registry_value.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <new>
#include <string>
#include <utility>

namespace korvane::runtime {
namespace {

// _wtoi: blanks, a sign and decimal digits; no digits is 0, and a number out
// of range is clamped rather than wrapped.
std::int32_t LeadingInteger(std::u16string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == u' ' || (text[i] >= u'\t' && text[i] <= u'\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  std::int64_t magnitude = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
    magnitude = std::min(magnitude * 10 + (text[i] - u'0'), kLimit);
  }
  std::int64_t value = negative ? -magnitude : std::min(magnitude, kLimit - 1);
  return static_cast<std::int32_t>(value);
}

std::u16string DecimalText(std::int32_t number) {
  std::string digits = std::to_string(number);
  return std::u16string(digits.begin(), digits.end());
}

// The user's value if there is one, else the machine's, else the default.
template <typename T, typename Read>
T ReadFromHives(Read read, const std::u16string& keyPath, const T& defaultValue) {
  if (auto user = read(HKEY_CURRENT_USER, keyPath)) return *std::move(user);
  return read(HKEY_LOCAL_MACHINE, keyPath).value_or(defaultValue);
}

}  // namespace

SettingValue::SettingValue(std::u16string settingName, std::int32_t defaultNumber)
    : name(std::move(settingName)),
      isNumber(true),
      numberDefault(defaultNumber),
      textDefault(DecimalText(defaultNumber)) {}

SettingValue::SettingValue(std::u16string settingName, std::u16string defaultText)
    : name(std::move(settingName)),
      isNumber(false),
      numberDefault(LeadingInteger(defaultText)),
      textDefault(std::move(defaultText)) {}

std::u16string ComposeSettingPath(std::u16string_view name) {
  std::u16string path(name);
  for (char16_t& c : path) {
    if (c == u'/') c = u'\\';
  }
  if (path.find(u'\\') == std::u16string::npos) path.insert(0, u"SOFTWARE\\Korvane\\");
  if (path.find(u"SOFTWARE\\") == std::u16string::npos) path.insert(0, u"SOFTWARE\\");
  return path;
}

std::int32_t ReadSettingNumber(const SettingValue& setting) noexcept {
  try {
    if (!setting.isNumber) return LeadingInteger(ReadSettingText(setting));
    // The registry holds a DWORD; the setting is its signed reading.
    auto number =
        ReadFromHives(ReadNumberValue, ComposeSettingPath(setting.name), static_cast<DWORD>(setting.numberDefault));
    return static_cast<std::int32_t>(number);
  } catch (const std::bad_alloc&) {
    return setting.numberDefault;
  }
}

std::u16string ReadSettingText(const SettingValue& setting) noexcept {
  try {
    if (setting.isNumber) return DecimalText(ReadSettingNumber(setting));
    return ReadFromHives(ReadTextValue, ComposeSettingPath(setting.name), setting.textDefault);
  } catch (const std::bad_alloc&) {
    return std::u16string();
  }
}

}  // namespace korvane::runtime
