// The AVX2 kernels: ASCII copied 32 elements at a time, every non-ASCII
// stretch handed to the one-element code, the rest left to the scalar loop.
// Each function is compiled for AVX2 on its own, so the rest of the library
// stays SSE2 and runs on any x86-64 processor; they are called only where the
// recorded processor features include AVX2. Values of 32 bytes never cross a
// call, so no 32-byte stack alignment is needed (which mingw-w64 cannot give).
#include "text/utf_kernels.h"

#if KORVANE_HAVE_AVX2

#include "text/utf_sequences.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <immintrin.h>

#define KORVANE_AVX2 __attribute__((target("avx2")))

namespace korvane::text::detail {
namespace {

constexpr std::ptrdiff_t kBlock = 32;

KORVANE_AVX2 inline __m256i Load(const void* source) {
  return _mm256_loadu_si256(static_cast<const __m256i*>(source));
}

KORVANE_AVX2 inline void Store(void* target, __m256i value) {
  _mm256_storeu_si256(static_cast<__m256i*>(target), value);
}

// Bit i is set when byte i is plain ASCII: neither non-ASCII nor the NUL.
KORVANE_AVX2 inline std::uint32_t PlainMask(__m256i bytes) {
  return static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpgt_epi8(bytes, _mm256_setzero_si256())));
}

// packus narrows each unit to a byte (ASCII units keep their value, every
// other unit becomes 0x80..0xFF or zero, which the plain test flags), within
// each 128-bit lane; the permute puts the four 8-byte quarters back in order.
KORVANE_AVX2 inline __m256i NarrowBlock(const char16_t* source) {
  return _mm256_permute4x64_epi64(_mm256_packus_epi16(Load(source), Load(source + 16)), 0xD8);
}

// Each half of the 32 bytes at `source`, zero-extended to 16 units: the
// output of a plain ASCII block.
KORVANE_AVX2 inline void StoreWidened(char16_t* target, const unsigned char* source) {
  Store(target, _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(source))));
  Store(target + 16, _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(source + 16))));
}

}  // namespace

KORVANE_AVX2 Converted<char16_t, char> Utf16ToUtf8Avx2(const char16_t* source, const char16_t* const end,
                                                       char* target) {
  const char16_t* plainEnd = nullptr;  // Where the last all-ASCII block ended.
  for (;;) {
    // Runs of plain ASCII, two blocks per step.
    while (end - source >= 2 * kBlock) {
      const __m256i first = NarrowBlock(source);
      const __m256i second = NarrowBlock(source + kBlock);
      if ((PlainMask(first) & PlainMask(second)) != 0xFFFFFFFFu) break;
      Store(target, first);
      Store(target + kBlock, second);
      source += 2 * kBlock;
      target += 2 * kBlock;
      plainEnd = source;
    }
    if (end - source < kBlock) break;
    // One block, stored whole: the ASCII prefix is right, and whatever lies
    // past it is overwritten by the output that follows or lies past the
    // final NUL, within the target's room.
    const __m256i bytes = NarrowBlock(source);
    Store(target, bytes);
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
  // Fewer than 32 units remain. After an all-ASCII block, the last 32 units
  // of the range can be taken as one block that overlaps it: the overlapped
  // units map one to one, so their bytes are simply written again.
  if (source == plainEnd && source != end) {
    const std::ptrdiff_t back = kBlock - (end - source);
    const __m256i bytes = NarrowBlock(end - kBlock);
    const int prefix = std::countr_zero(~PlainMask(bytes));
    if (prefix == kBlock || end[prefix - kBlock] == 0) {
      Store(target - back, bytes);
      return {end - kBlock + prefix, target + (prefix - back)};
    }
  }
  return {source, target};
}

KORVANE_AVX2 Converted<unsigned char, char16_t> Utf8ToUtf16Avx2(const unsigned char* source,
                                                                const unsigned char* const end, char16_t* target) {
  const unsigned char* plainEnd = nullptr;
  for (;;) {
    // Runs of plain ASCII, two blocks per step.
    while (end - source >= 2 * kBlock) {
      if ((PlainMask(Load(source)) & PlainMask(Load(source + kBlock))) != 0xFFFFFFFFu) break;
      StoreWidened(target, source);
      StoreWidened(target + kBlock, source + kBlock);
      source += 2 * kBlock;
      target += 2 * kBlock;
      plainEnd = source;
    }
    if (end - source < kBlock) break;
    const int prefix = std::countr_zero(~PlainMask(Load(source)));
    StoreWidened(target, source);
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
    const int prefix = std::countr_zero(~PlainMask(Load(end - kBlock)));
    if (prefix == kBlock || end[prefix - kBlock] == 0) {
      StoreWidened(target - back, end - kBlock);
      return {end - kBlock + prefix, target + (prefix - back)};
    }
  }
  return {source, target};
}

}  // namespace korvane::text::detail

#endif  // KORVANE_HAVE_AVX2
