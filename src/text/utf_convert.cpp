// UTF-16 <-> UTF-8 conversion: the scalar loops that define the results, the
// dispatch that runs the vector kernel of the recorded path first and the
// scalar loop on what it leaves, and the string converters built on both.
#include "text/utf_convert.h"

#include "text/processor_features.h"
#include "text/utf_kernels.h"
#include "text/utf_sequences.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>

#if KORVANE_HAVE_SSE2
#include <emmintrin.h>
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

using detail::DecodeNonAscii;
using detail::EncodeNonAscii;

// Elements of the stack buffer the string converters use when the worst case
// fits, which covers every Windows path of MAX_PATH length.
constexpr std::size_t kStackElements = 1024;

// The scalar loops, between pointers.
char* Utf16ToUtf8Loop(const char16_t* source, const char16_t* const end, char* target) {
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

char16_t* Utf8ToUtf16Loop(const unsigned char* source, const unsigned char* const end, char16_t* target) {
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
  return Utf16ToUtf8Loop(source, source + count, target);
}

char16_t* Utf8ToUtf16Scalar(const char* source, std::size_t count, char16_t* target) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(source);
  return Utf8ToUtf16Loop(bytes, bytes + count, target);
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

// Each path's kernel converts what it can; the scalar loop finishes. AVX2
// takes both directions: measured on ASCII paths and mebibytes, it is ahead
// of SSE2 in each.
char* Utf16ToUtf8(const char16_t* source, std::size_t count, char* target) {
  const char16_t* const end = source + count;
  detail::Converted<char16_t, char> done{source, target};
  switch (RecordedVectorPath()) {
#if KORVANE_HAVE_AVX2
    case VectorPath::kAvx2: done = detail::Utf16ToUtf8Avx2(source, end, target); break;
#endif
#if KORVANE_HAVE_SSE2
    case VectorPath::kSse2: done = detail::Utf16ToUtf8Sse2(source, end, target); break;
#endif
    default: break;
  }
  return Utf16ToUtf8Loop(done.next, end, done.out);
}

char16_t* Utf8ToUtf16(const char* source, std::size_t count, char16_t* target) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(source);
  const unsigned char* const end = bytes + count;
  detail::Converted<unsigned char, char16_t> done{bytes, target};
  switch (RecordedVectorPath()) {
#if KORVANE_HAVE_AVX2
    case VectorPath::kAvx2: done = detail::Utf8ToUtf16Avx2(bytes, end, target); break;
#endif
#if KORVANE_HAVE_SSE2
    case VectorPath::kSse2: done = detail::Utf8ToUtf16Sse2(bytes, end, target); break;
#endif
    default: break;
  }
  return Utf8ToUtf16Loop(done.next, end, done.out);
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
