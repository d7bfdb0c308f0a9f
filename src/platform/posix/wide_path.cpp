// UTF-8 <-> UTF-16 for paths. Ill-formed sequences become U+FFFD; such a
// path cannot name its file, but it never corrupts its neighbours.
#include "wide_path.h"

namespace korvane::posix {
namespace {

// Writes the code point's UTF-8 bytes at out; returns the end.
char* PutUtf8(char* out, char32_t cp) {
  if (cp < 0x80) {
    *out++ = static_cast<char>(cp);
  } else if (cp < 0x800) {
    *out++ = static_cast<char>(0xC0 | (cp >> 6));
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *out++ = static_cast<char>(0xE0 | (cp >> 12));
    *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | (cp >> 18));
    *out++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  }
  return out;
}

}  // namespace

std::size_t WideLength(const WCHAR* text) {
  std::size_t length = 0;
  while (text[length] != 0) ++length;
  return length;
}

// Paths are converted on every file call, so the output is sized once for
// the worst case (three bytes a unit) and written through a pointer.
std::string NarrowPath(const WCHAR* path) {
  const std::size_t length = WideLength(path);
  std::string out(3 * length, '\0');
  char* next = out.data();
  for (std::size_t i = 0; i < length; ++i) {
    char32_t unit = path[i];
    if (unit < 0x80) {
      *next++ = static_cast<char>(unit);
    } else if (unit >= 0xD800 && unit <= 0xDBFF && path[i + 1] >= 0xDC00 && path[i + 1] <= 0xDFFF) {
      next = PutUtf8(next, 0x10000 + ((unit - 0xD800) << 10) + (path[++i] - 0xDC00));
    } else {
      next = PutUtf8(next, (unit >= 0xD800 && unit <= 0xDFFF) ? 0xFFFD : unit);
    }
  }
  out.resize(static_cast<std::size_t>(next - out.data()));
  return out;
}

std::u16string WidePath(const std::string& path) {
  std::u16string out;
  std::size_t i = 0;
  while (i < path.size()) {
    auto byte = static_cast<unsigned char>(path[i]);
    int length = byte < 0x80 ? 1 : (byte >> 5) == 0x6 ? 2 : (byte >> 4) == 0xE ? 3 : (byte >> 3) == 0x1E ? 4 : 0;
    char32_t cp = length == 1 ? byte : length == 2 ? byte & 0x1F : length == 3 ? byte & 0x0F : byte & 0x07;
    bool valid = length > 0 && i + length <= path.size();
    for (int k = 1; valid && k < length; ++k) {
      auto next = static_cast<unsigned char>(path[i + k]);
      valid = (next & 0xC0) == 0x80;
      cp = (cp << 6) | (next & 0x3F);
    }
    constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (!valid || cp < kSmallest[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      out += u'\xFFFD';
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
    i += length;
  }
  return out;
}

}  // namespace korvane::posix
