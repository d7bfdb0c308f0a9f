// Conversion between the library's wide text (UTF-16 in char16_t) and its
// narrow text (UTF-8 in char), for buffers and for strings.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace korvane::text {

// Target sizes, in elements, that hold any conversion of `count` source
// elements with its terminating NUL: a UTF-16 unit never needs more than three
// bytes (a surrogate pair takes four bytes for two units), and a UTF-8 byte
// never yields more than one UTF-16 unit.
constexpr std::size_t Utf8Capacity(std::size_t units) { return 3 * units + 1; }
constexpr std::size_t Utf16Capacity(std::size_t bytes) { return bytes + 1; }

// Buffer converters. `count` is the number of source elements that may be
// read, including the terminating NUL when there is one in range; nothing at
// or past source + count is read. Output stops at the first NUL; a NUL is
// written after the output and its position returned, so (result - target) is
// the output length. The target must hold the capacity above: room is not
// checked, and elements past the returned NUL may have been overwritten.
//
// Ill-formed input never stops a conversion: each ill-formed unit or sequence
// becomes U+FFFD and never swallows the well-formed element that follows it.
// In UTF-16 that is any surrogate that is not half of a pair within range; in
// UTF-8 each maximal subpart of a sequence (the longest start of one that could
// still have been well-formed) is replaced, as WHATWG and ICU decoders do.
char* Utf16ToUtf8(const char16_t* source, std::size_t count, char* target);
char16_t* Utf8ToUtf16(const char* source, std::size_t count, char16_t* target);

// String converters with the same rules; an embedded NUL ends the result.
// The pointer forms take NUL-terminated text; a null pointer is empty text.
std::string WideToUtf8(std::u16string_view text);
std::string WideToUtf8(const char16_t* text);
std::u16string Utf8ToWide(std::string_view text);
std::u16string Utf8ToWide(const char* text);

namespace detail {

// The scalar loops on their own. They define the results: the public buffer
// converters run the vector kernel of the recorded path (SSE2 or AVX2) first,
// and every path gives the same output and the same returned pointer for
// every input.
char* Utf16ToUtf8Scalar(const char16_t* source, std::size_t count, char* target);
char16_t* Utf8ToUtf16Scalar(const char* source, std::size_t count, char16_t* target);

// The length of NUL-terminated UTF-16 text, scanned 16 bytes at a time on
// processors with SSE2.
std::size_t WideLength(const char16_t* text);

}  // namespace detail
}  // namespace korvane::text
