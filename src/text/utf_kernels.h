// The vector kernels of the converters, one set per instruction set, behind
// one contract. Internal to the text layer: utf_convert.cpp picks a kernel by
// the recorded path and finishes with the scalar loop.
//
// A kernel converts a prefix of [source, end) while whole blocks of its width
// remain, handing each non-ASCII stretch to the one-element code of
// utf_sequences.h, and returns (next input, next output): the output for
// [source, next) is in [target, out). It stops early at a NUL (next then
// points at it) and when fewer than a block remain; the scalar loop converts
// the rest and writes the terminating NUL. Elements at and past `out` may
// have been written, but never beyond the room that the worst case of
// [source, end) needs.
#pragma once

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#define KORVANE_HAVE_SSE2 1
#else
#define KORVANE_HAVE_SSE2 0
#endif

// AVX2 code is compiled per function (the base build stays SSE2), which needs
// the target attribute of gcc and clang.
#if KORVANE_HAVE_SSE2 && (defined(__GNUC__) || defined(__clang__))
#define KORVANE_HAVE_AVX2 1
#else
#define KORVANE_HAVE_AVX2 0
#endif

namespace korvane::text::detail {

template <typename From, typename To>
struct Converted {
  const From* next;
  To* out;
};

using Utf16ToUtf8Kernel = Converted<char16_t, char> (*)(const char16_t* source, const char16_t* end, char* target);
using Utf8ToUtf16Kernel = Converted<unsigned char, char16_t> (*)(const unsigned char* source,
                                                                 const unsigned char* end, char16_t* target);

#if KORVANE_HAVE_SSE2
// 16 elements a block.
Converted<char16_t, char> Utf16ToUtf8Sse2(const char16_t* source, const char16_t* end, char* target);
Converted<unsigned char, char16_t> Utf8ToUtf16Sse2(const unsigned char* source, const unsigned char* end,
                                                   char16_t* target);
#endif

#if KORVANE_HAVE_AVX2
// 32 elements a block; call only where the processor has AVX2.
Converted<char16_t, char> Utf16ToUtf8Avx2(const char16_t* source, const char16_t* end, char* target);
Converted<unsigned char, char16_t> Utf8ToUtf16Avx2(const unsigned char* source, const unsigned char* end,
                                                   char16_t* target);
#endif

}  // namespace korvane::text::detail
