// One non-ASCII element at a time: the encoder and decoder that the scalar
// loops run, and that the vector kernels run on the stretches they cannot
// take as blocks. Internal to the text layer.
#pragma once

#include <cstddef>

namespace korvane::text::detail {

inline constexpr char32_t kReplacement = 0xFFFD;

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

}  // namespace korvane::text::detail
