#include "text.h"

namespace korvane::cli {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// The code point at text[at], advancing at past it.
char32_t NextCodePoint(std::string_view text, std::size_t& at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  std::size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
  if (length == 0 || at + length > text.size()) {
    ++at;
    return kReplacement;
  }
  char32_t point = length == 1 ? lead : lead & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) {
      at += i;
      return kReplacement;
    }
    point = point << 6 | (byte(at + i) & 0x3F);
  }
  at += length;
  static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (point < kSmallest[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return kReplacement;
  return point;
}

}  // namespace

std::u16string Utf16(std::string_view utf8) {
  std::u16string wide;
  for (std::size_t at = 0; at < utf8.size();) {
    const char32_t point = NextCodePoint(utf8, at);
    if (point < 0x10000) {
      wide += static_cast<char16_t>(point);
    } else {
      wide += static_cast<char16_t>(0xD800 + ((point - 0x10000) >> 10));
      wide += static_cast<char16_t>(0xDC00 + ((point - 0x10000) & 0x3FF));
    }
  }
  return wide;
}

std::string Utf8(std::u16string_view utf16) {
  std::string narrow;
  for (std::size_t at = 0; at < utf16.size(); ++at) {
    char32_t point = utf16[at];
    if (point >= 0xD800 && point <= 0xDBFF && at + 1 < utf16.size() && utf16[at + 1] >= 0xDC00 &&
        utf16[at + 1] <= 0xDFFF) {
      point = 0x10000 + ((point - 0xD800) << 10) + (utf16[++at] - 0xDC00);
    } else if (point >= 0xD800 && point <= 0xDFFF) {
      point = kReplacement;
    }
    if (point < 0x80) {
      narrow += static_cast<char>(point);
    } else if (point < 0x800) {
      narrow += static_cast<char>(0xC0 | point >> 6);
      narrow += static_cast<char>(0x80 | (point & 0x3F));
    } else if (point < 0x10000) {
      narrow += static_cast<char>(0xE0 | point >> 12);
      narrow += static_cast<char>(0x80 | (point >> 6 & 0x3F));
      narrow += static_cast<char>(0x80 | (point & 0x3F));
    } else {
      narrow += static_cast<char>(0xF0 | point >> 18);
      narrow += static_cast<char>(0x80 | (point >> 12 & 0x3F));
      narrow += static_cast<char>(0x80 | (point >> 6 & 0x3F));
      narrow += static_cast<char>(0x80 | (point & 0x3F));
    }
  }
  return narrow;
}

}  // namespace korvane::cli
