// The SSE2 kernels: ASCII copied 16 elements at a time, every non-ASCII
// stretch handed to the one-element code, the rest left to the scalar loop.
#include "text/utf_kernels.h"

#if KORVANE_HAVE_SSE2

#include "text/utf_sequences.h"

#include <bit>
#include <cstddef>
#include <emmintrin.h>

namespace korvane::text::detail {
namespace {

constexpr std::ptrdiff_t kBlock = 16;

inline __m128i Load(const void* source) { return _mm_loadu_si128(static_cast<const __m128i*>(source)); }

// Bit i is set when byte i is plain ASCII: neither non-ASCII nor the NUL.
inline unsigned PlainMask(__m128i bytes) {
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpgt_epi8(bytes, _mm_setzero_si128())));
}

// packus narrows each unit to a byte: ASCII units keep their value, units
// 0x80..0x7FFF become 0x80..0xFF and units from 0x8000 become zero. So the
// narrowed block is the output of a plain ASCII block, and its signed
// "byte > 0" test flags every unit that is non-ASCII or the NUL.
inline __m128i NarrowBlock(const char16_t* source) { return _mm_packus_epi16(Load(source), Load(source + 8)); }

// Widening against zero gives each ASCII byte's unit.
inline void StoreWidened(char16_t* target, __m128i bytes) {
  const __m128i zero = _mm_setzero_si128();
  _mm_storeu_si128(reinterpret_cast<__m128i*>(target), _mm_unpacklo_epi8(bytes, zero));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(target + 8), _mm_unpackhi_epi8(bytes, zero));
}

}  // namespace

Converted<char16_t, char> Utf16ToUtf8Sse2(const char16_t* source, const char16_t* const end, char* target) {
  const char16_t* plainEnd = nullptr;  // Where the last all-ASCII block ended.
  for (;;) {
    // Runs of plain ASCII, two blocks per step.
    while (end - source >= 2 * kBlock) {
      const __m128i first = NarrowBlock(source);
      const __m128i second = NarrowBlock(source + kBlock);
      if ((PlainMask(first) & PlainMask(second)) != 0xFFFF) break;
      _mm_storeu_si128(reinterpret_cast<__m128i*>(target), first);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(target + kBlock), second);
      source += 2 * kBlock;
      target += 2 * kBlock;
      plainEnd = source;
    }
    if (end - source < kBlock) break;
    // One block, stored whole: its ASCII prefix is right, and whatever lies
    // past the prefix is overwritten by the output that follows or lies past
    // the final NUL, within the target's room.
    const __m128i bytes = NarrowBlock(source);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(target), bytes);
    const int prefix = std::countr_zero(~PlainMask(bytes));
    source += prefix;
    target += prefix;
    if (prefix == kBlock) {
      plainEnd = source;
      continue;
    }
    if (*source == 0) return {source, target};
    do {
      EncodeNonAscii(source, end, target);
    } while (source != end && *source >= 0x80);
  }
  // Fewer than 16 units remain. After an all-ASCII block, the last 16 units
  // of the range can be taken as one block that overlaps it: the overlapped
  // units map one to one, so their bytes are simply written again.
  if (source == plainEnd && source != end) {
    const std::ptrdiff_t back = kBlock - (end - source);
    const __m128i bytes = NarrowBlock(end - kBlock);
    const int prefix = std::countr_zero(~PlainMask(bytes));
    if (prefix == kBlock || end[prefix - kBlock] == 0) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(target - back), bytes);
      return {end - kBlock + prefix, target + (prefix - back)};
    }
  }
  return {source, target};
}

// The same shape as the UTF-16 kernel above.
Converted<unsigned char, char16_t> Utf8ToUtf16Sse2(const unsigned char* source, const unsigned char* const end,
                                                   char16_t* target) {
  const unsigned char* plainEnd = nullptr;
  for (;;) {
    while (end - source >= 2 * kBlock) {
      const __m128i first = Load(source);
      const __m128i second = Load(source + kBlock);
      if ((PlainMask(first) & PlainMask(second)) != 0xFFFF) break;
      StoreWidened(target, first);
      StoreWidened(target + kBlock, second);
      source += 2 * kBlock;
      target += 2 * kBlock;
      plainEnd = source;
    }
    if (end - source < kBlock) break;
    const __m128i bytes = Load(source);
    StoreWidened(target, bytes);
    const int prefix = std::countr_zero(~PlainMask(bytes));
    source += prefix;
    target += prefix;
    if (prefix == kBlock) {
      plainEnd = source;
      continue;
    }
    if (*source == 0) return {source, target};
    do {
      DecodeNonAscii(source, end, target);
    } while (source != end && *source >= 0x80);
  }
  if (source == plainEnd && source != end) {
    const std::ptrdiff_t back = kBlock - (end - source);
    const __m128i bytes = Load(end - kBlock);
    const int prefix = std::countr_zero(~PlainMask(bytes));
    if (prefix == kBlock || end[prefix - kBlock] == 0) {
      StoreWidened(target - back, bytes);
      return {end - kBlock + prefix, target + (prefix - back)};
    }
  }
  return {source, target};
}

}  // namespace korvane::text::detail

#endif  // KORVANE_HAVE_SSE2
