#include "names.h"

#include <utf8proc.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace korvane::names {

namespace {

using Mapped = std::unique_ptr<utf8proc_uint8_t, decltype(&std::free)>;

std::optional<std::string> Map(std::string_view text, int options) {
  utf8proc_uint8_t* result = nullptr;
  const utf8proc_ssize_t length =
      utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(text.data()), static_cast<utf8proc_ssize_t>(text.size()),
                   &result, static_cast<utf8proc_option_t>(options | UTF8PROC_STABLE | UTF8PROC_COMPOSE));
  if (length < 0) return std::nullopt;
  Mapped owned(result, &std::free);
  return std::string(reinterpret_cast<const char*>(result), static_cast<std::size_t>(length));
}

bool IsAsciiLetterOrDigit(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// The punctuation a space name may hold besides letters, marks, digits and
// inner blanks: what people put in folder names, none of it syntax of the
// access file's section headers or forbidden in Windows folder names.
constexpr std::string_view kSpacePunctuation = ".-_()&+,'!#@$%~;={}^";

bool IsAllowedInSpace(utf8proc_int32_t c) {
  if (c == ' ') return true;
  if (c < 0x80 && kSpacePunctuation.find(static_cast<char>(c)) != std::string_view::npos) return true;
  switch (utf8proc_category(c)) {
    case UTF8PROC_CATEGORY_LU: case UTF8PROC_CATEGORY_LL: case UTF8PROC_CATEGORY_LT: case UTF8PROC_CATEGORY_LM:
    case UTF8PROC_CATEGORY_LO: case UTF8PROC_CATEGORY_MN: case UTF8PROC_CATEGORY_MC: case UTF8PROC_CATEGORY_ME:
    case UTF8PROC_CATEGORY_ND: case UTF8PROC_CATEGORY_NL: case UTF8PROC_CATEGORY_NO:
      return true;
    default:
      return false;
  }
}

// CON, PRN, AUX, NUL, COM1..COM9, LPT1..LPT9, alone or before a dot.
bool IsWindowsDeviceName(std::string_view name) {
  std::string stem(name.substr(0, name.find('.')));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  for (char& c : stem) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  static constexpr std::array<std::string_view, 4> kDevices{"CON", "PRN", "AUX", "NUL"};
  if (std::find(kDevices.begin(), kDevices.end(), stem) != kDevices.end()) return true;
  return stem.size() == 4 && (stem.starts_with("COM") || stem.starts_with("LPT")) && stem[3] >= '1' && stem[3] <= '9';
}

std::string Describe(utf8proc_int32_t c) {
  if (c >= 0x20 && c < 0x7f) return std::string("\"") + static_cast<char>(c) + "\"";
  char code[16];
  std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
  return code;
}

}  // namespace

std::optional<std::string> UserNameProblem(std::string_view name) {
  if (name.empty()) return "a user name is empty";
  if (name.size() > kMaxUserBytes) return "a user name is at most " + std::to_string(kMaxUserBytes) + " characters";
  if (name.front() == '.' || name.front() == '-') return "a user name starts with a letter, a digit or \"_\"";
  for (char c : name) {
    if (!IsAsciiLetterOrDigit(c) && c != '.' && c != '_' && c != '-') {
      return "a user name holds only ASCII letters, digits, \".\", \"_\" and \"-\"";
    }
  }
  return std::nullopt;
}

bool IsUtf8(std::string_view text) {
  const auto* at = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
  for (utf8proc_ssize_t left = static_cast<utf8proc_ssize_t>(text.size()); left > 0;) {
    utf8proc_int32_t c = 0;
    const utf8proc_ssize_t used = utf8proc_iterate(at, left, &c);
    if (used <= 0) return false;
    at += used;
    left -= used;
  }
  return true;
}

std::optional<std::string> Normalised(std::string_view name) { return Map(name, 0); }

std::optional<std::string> SpaceNameProblem(std::string_view name) {
  const std::optional<std::string> normal = Normalised(name);
  if (!normal) return "a space name is UTF-8 text";
  if (*normal != name) return "a space name is in Unicode normal form C (NFC)";
  if (name.empty()) return "a space name is empty";
  if (name == "." || name == "..") return "a space is not named \".\" or \"..\"";
  std::size_t characters = 0;
  for (std::size_t at = 0; at < name.size();) {
    utf8proc_int32_t c = 0;
    const utf8proc_ssize_t length = utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(name.data() + at),
                                                     static_cast<utf8proc_ssize_t>(name.size() - at), &c);
    if (length <= 0) return "a space name is UTF-8 text";
    if (!IsAllowedInSpace(c)) return "a space name may not hold " + Describe(c);
    at += static_cast<std::size_t>(length);
    ++characters;
  }
  if (characters > kMaxSpaceCharacters) {
    return "a space name is at most " + std::to_string(kMaxSpaceCharacters) + " characters";
  }
  if (name.front() == ' ' || name.back() == ' ') return "a space name neither starts nor ends with a blank";
  if (name.back() == '.') return "a space name does not end with \".\" (Windows drops it)";
  if (name.front() == '#') return "a space name does not start with \"#\"";
  if (IsWindowsDeviceName(name)) return "\"" + std::string(name) + "\" names a device on Windows";
  return std::nullopt;
}

std::string Folded(std::string_view name) {
  return Map(name, UTF8PROC_CASEFOLD).value_or(std::string(name));
}

bool IsRole(std::string_view role) { return role == "owner" || role == "member" || role == "reader"; }

}  // namespace korvane::names
