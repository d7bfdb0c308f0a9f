// UTF-16 <-> UTF-8 conversion: scalar loops that define the results, an SSE2
// fast path that copies ASCII 16 elements at a time and hands every non-ASCII
// stretch to the scalar code, and the string converters built on both.
#include "text/utf_convert.h"

#include "text/processor_features.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#define KORVANE_HAVE_SSE2 1
#include <emmintrin.h>
#else
#define KORVANE_HAVE_SSE2 0
#endif

// The wide-text length scan reads whole aligned 16-byte blocks, which may hold
// bytes past the terminator; they lie in the same page, so the read is safe,
// but AddressSanitizer would report it.
#if defined(__clang__) || defined(__GNUC__)
#define KORVANE_NO_ADDRESS_CHECK __attribute__((no_sanitize_address))
#else
#define KORVANE_NO_ADDRESS_CHECK
#endif

namespace korvane::text {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Elements of the stack buffer the string converters use when the worst case
// fits, which covers every Windows path of MAX_PATH length.
constexpr std::size_t kStackElements = 1024;

// ---- UTF-16 to UTF-8 ----

// Writes the UTF-8 form of the non-ASCII unit at `source`, or of the surrogate
// pair starting there, and moves both pointers past it. A surrogate that is not
// half of a pair within [source, end) becomes U+FFFD and consumes only itself,
// so the unit after it is read afresh.
inline void EncodeNonAscii(const char16_t*& source, const char16_t* end, char*& target) {
  char32_t c = *source++;
  if (c < 0x800) {
    target[0] = static_cast<char>(0xC0 | (c >> 6));
    target[1] = static_cast<char>(0x80 | (c & 0x3F));
    target += 2;
    return;
  }
  if ((c & 0xF800) == 0xD800) {
    if (c <= 0xDBFF && source != end && (*source & 0xFC00) == 0xDC00) {
      c = 0x10000 + ((c - 0xD800) << 10) + (*source++ - 0xDC00);
      target[0] = static_cast<char>(0xF0 | (c >> 18));
      target[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      target[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      target[3] = static_cast<char>(0x80 | (c & 0x3F));
      target += 4;
      return;
    }
    c = kReplacement;
  }
  target[0] = static_cast<char>(0xE0 | (c >> 12));
  target[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
  target[2] = static_cast<char>(0x80 | (c & 0x3F));
  target += 3;
}

#if KORVANE_HAVE_SSE2
// Bit i is set when byte i is plain ASCII: neither non-ASCII nor the NUL.
inline unsigned PlainMask(__m128i bytes) {
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpgt_epi8(bytes, _mm_setzero_si128())));
}

// packus narrows each unit to a byte: ASCII units keep their value, units
// 0x80..0x7FFF become 0x80..0xFF and units from 0x8000 become zero. So the
// narrowed block is the output of a plain ASCII block, and its signed
// "byte > 0" test flags every unit that is non-ASCII or the NUL.
inline __m128i NarrowBlock(const char16_t* source) {
  return _mm_packus_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(source)),
                          _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 8)));
}

char* Utf16ToUtf8Sse2(const char16_t* source, std::size_t count, char* target) {
  const char16_t* const end = source + count;
  const char16_t* plainEnd = nullptr;  // Where the last all-ASCII block ended.
  for (;;) {
    // Runs of plain ASCII, two blocks per step.
    while (end - source >= 32) {
      const __m128i first = NarrowBlock(source);
      const __m128i second = NarrowBlock(source + 16);
      if ((PlainMask(first) & PlainMask(second)) != 0xFFFF) break;
      _mm_storeu_si128(reinterpret_cast<__m128i*>(target), first);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(target + 16), second);
      source += 32;
      target += 32;
      plainEnd = source;
    }
    if (end - source < 16) break;
    // One block, stored whole: its ASCII prefix is right, and whatever lies
    // past the prefix is overwritten by the output that follows or lies past
    // the final NUL, within the target's room.
    const __m128i bytes = NarrowBlock(source);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(target), bytes);
    const int prefix = std::countr_zero(~PlainMask(bytes));
    if (prefix == 16) {
      source += 16;
      target += 16;
      plainEnd = source;
      continue;
    }
    if (source[prefix] == 0) {
      target[prefix] = '\0';
      return target + prefix;
    }
    // The non-ASCII stretch goes to the scalar code, then back to blocks.
    source += prefix;
    target += prefix;
    do {
      EncodeNonAscii(source, end, target);
    } while (source != end && *source >= 0x80);
  }
  // Fewer than 16 units remain. After an all-ASCII block, the last 16 units
  // of the range can be taken as one block that overlaps it: the overlapped
  // units map one to one, so their bytes are simply written again.
  if (source == plainEnd && source != end) {
    const std::ptrdiff_t back = 16 - (end - source);
    const __m128i bytes = NarrowBlock(end - 16);
    const int prefix = std::countr_zero(~PlainMask(bytes));
    if (prefix == 16 || end[prefix - 16] == 0) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(target - back), bytes);
      target += prefix - back;
      *target = '\0';
      return target;
    }
  }
  return detail::Utf16ToUtf8Scalar(source, static_cast<std::size_t>(end - source), target);
}
#endif

// ---- UTF-8 to UTF-16 ----

// Decodes the sequence whose non-ASCII lead byte is at `source`, writes its
// UTF-16 form and moves both pointers past it. An ill-formed sequence gives
// one U+FFFD for its maximal subpart: the lead and every following byte that
// still fits a well-formed sequence. The first byte that does not fit (or the
// end of the range) is left for the next step, so it is never swallowed.
inline void DecodeNonAscii(const unsigned char*& source, const unsigned char* end, char16_t*& target) {
  const unsigned lead = *source++;
  // The lead fixes how many continuation bytes follow and, for E0, ED, F0
  // and F4, a narrower range for the first of them: those ranges exclude
  // overlong forms, surrogates and code points above U+10FFFF.
  int trail;
  unsigned low = 0x80;
  unsigned high = 0xBF;
  char32_t c;
  if (lead < 0xC2) {  // A stray continuation byte, or an overlong lead C0 or C1.
    *target++ = static_cast<char16_t>(kReplacement);
    return;
  } else if (lead < 0xE0) {
    trail = 1;
    c = lead & 0x1F;
  } else if (lead < 0xF0) {
    trail = 2;
    c = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead < 0xF5) {
    trail = 3;
    c = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    *target++ = static_cast<char16_t>(kReplacement);
    return;
  }
  for (; trail > 0; --trail) {
    if (source == end || *source < low || *source > high) {
      *target++ = static_cast<char16_t>(kReplacement);
      return;
    }
    c = (c << 6) | (*source++ & 0x3F);
    low = 0x80;
    high = 0xBF;
  }
  if (c < 0x10000) {
    *target++ = static_cast<char16_t>(c);
  } else {
    c -= 0x10000;
    target[0] = static_cast<char16_t>(0xD800 | (c >> 10));
    target[1] = static_cast<char16_t>(0xDC00 | (c & 0x3FF));
    target += 2;
  }
}

// The scalar loop, reading the bytes as unsigned values.
char16_t* Utf8ToUtf16Bytes(const unsigned char* source, std::size_t count, char16_t* target) {
  const unsigned char* const end = source + count;
  while (source != end) {
    const unsigned char byte = *source;
    if (byte < 0x80) {
      if (byte == 0) break;
      *target++ = byte;
      ++source;
    } else {
      DecodeNonAscii(source, end, target);
    }
  }
  *target = u'\0';
  return target;
}

#if KORVANE_HAVE_SSE2
// Widening against zero gives each ASCII byte's unit.
inline void StoreWidened(char16_t* target, __m128i bytes) {
  const __m128i zero = _mm_setzero_si128();
  _mm_storeu_si128(reinterpret_cast<__m128i*>(target), _mm_unpacklo_epi8(bytes, zero));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(target + 8), _mm_unpackhi_epi8(bytes, zero));
}

inline __m128i LoadBlock(const unsigned char* source) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(source));
}

// The same shape as the UTF-16 fast path above.
char16_t* Utf8ToUtf16Sse2(const unsigned char* source, std::size_t count, char16_t* target) {
  const unsigned char* const end = source + count;
  const unsigned char* plainEnd = nullptr;
  for (;;) {
    while (end - source >= 32) {
      const __m128i first = LoadBlock(source);
      const __m128i second = LoadBlock(source + 16);
      if ((PlainMask(first) & PlainMask(second)) != 0xFFFF) break;
      StoreWidened(target, first);
      StoreWidened(target + 16, second);
      source += 32;
      target += 32;
      plainEnd = source;
    }
    if (end - source < 16) break;
    // Stored whole; the units past the ASCII prefix are overwritten by the
    // output that follows, or lie past the final NUL within the room.
    const __m128i bytes = LoadBlock(source);
    StoreWidened(target, bytes);
    const int prefix = std::countr_zero(~PlainMask(bytes));
    if (prefix == 16) {
      source += 16;
      target += 16;
      plainEnd = source;
      continue;
    }
    if (source[prefix] == 0) {
      target[prefix] = u'\0';
      return target + prefix;
    }
    source += prefix;
    target += prefix;
    do {
      DecodeNonAscii(source, end, target);
    } while (source != end && *source >= 0x80);
  }
  if (source == plainEnd && source != end) {
    const std::ptrdiff_t back = 16 - (end - source);
    const __m128i bytes = LoadBlock(end - 16);
    const int prefix = std::countr_zero(~PlainMask(bytes));
    if (prefix == 16 || end[prefix - 16] == 0) {
      StoreWidened(target - back, bytes);
      target += prefix - back;
      *target = u'\0';
      return target;
    }
  }
  return Utf8ToUtf16Bytes(source, static_cast<std::size_t>(end - source), target);
}
#endif

// ---- String converters ----

// Converts into a stack buffer when the worst case fits, otherwise into one
// heap buffer of the worst case, and builds the result from the exact output
// with a single allocation.
template <typename To, typename From, typename Convert>
std::basic_string<To> ConvertToString(std::basic_string_view<From> text, std::size_t perElement, Convert convert) {
  if (text.size() > (SIZE_MAX - 1) / perElement) throw std::length_error("text too long to convert");
  const std::size_t worst = perElement * text.size() + 1;
  if (worst <= kStackElements) {
    To buffer[kStackElements];
    const To* end = convert(text.data(), text.size(), buffer);
    return std::basic_string<To>(buffer, static_cast<std::size_t>(end - buffer));
  }
  const auto buffer = std::make_unique_for_overwrite<To[]>(worst);
  const To* end = convert(text.data(), text.size(), buffer.get());
  return std::basic_string<To>(buffer.get(), static_cast<std::size_t>(end - buffer.get()));
}

}  // namespace

namespace detail {

char* Utf16ToUtf8Scalar(const char16_t* source, std::size_t count, char* target) {
  const char16_t* const end = source + count;
  while (source != end) {
    const char16_t unit = *source;
    if (unit < 0x80) {
      if (unit == 0) break;
      *target++ = static_cast<char>(unit);
      ++source;
    } else {
      EncodeNonAscii(source, end, target);
    }
  }
  *target = '\0';
  return target;
}

char16_t* Utf8ToUtf16Scalar(const char* source, std::size_t count, char16_t* target) {
  return Utf8ToUtf16Bytes(reinterpret_cast<const unsigned char*>(source), count, target);
}

KORVANE_NO_ADDRESS_CHECK std::size_t WideLength(const char16_t* text) {
  const char16_t* p = text;
#if KORVANE_HAVE_SSE2
  if (ProcessorHasSse2()) {
    // Unit by unit up to a 16-byte boundary; from there each aligned load
    // stays inside one page, so reading past the terminator cannot fault.
    while (reinterpret_cast<std::uintptr_t>(p) % 16 != 0) {
      if (*p == 0) return static_cast<std::size_t>(p - text);
      ++p;
    }
    const __m128i zero = _mm_setzero_si128();
    for (;; p += 8) {
      const __m128i units = _mm_load_si128(reinterpret_cast<const __m128i*>(p));
      const unsigned nul = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(units, zero)));
      if (nul != 0) return static_cast<std::size_t>(p - text) + static_cast<std::size_t>(std::countr_zero(nul)) / 2;
    }
  }
#endif
  while (*p != 0) ++p;
  return static_cast<std::size_t>(p - text);
}

}  // namespace detail

char* Utf16ToUtf8(const char16_t* source, std::size_t count, char* target) {
#if KORVANE_HAVE_SSE2
  if (ProcessorHasSse2()) return Utf16ToUtf8Sse2(source, count, target);
#endif
  return detail::Utf16ToUtf8Scalar(source, count, target);
}

char16_t* Utf8ToUtf16(const char* source, std::size_t count, char16_t* target) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(source);
#if KORVANE_HAVE_SSE2
  if (ProcessorHasSse2()) return Utf8ToUtf16Sse2(bytes, count, target);
#endif
  return Utf8ToUtf16Bytes(bytes, count, target);
}

std::string WideToUtf8(std::u16string_view text) { return ConvertToString<char>(text, 3, Utf16ToUtf8); }

std::string WideToUtf8(const char16_t* text) {
  if (text == nullptr) return {};
  return WideToUtf8(std::u16string_view(text, detail::WideLength(text)));
}

std::u16string Utf8ToWide(std::string_view text) { return ConvertToString<char16_t>(text, 1, Utf8ToUtf16); }

std::u16string Utf8ToWide(const char* text) {
  if (text == nullptr) return {};
  return Utf8ToWide(std::string_view(text, std::strlen(text)));
}

}  // namespace korvane::text
