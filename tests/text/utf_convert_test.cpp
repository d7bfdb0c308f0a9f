// The UTF-16 <-> UTF-8 converters, on every path the processor has (scalar,
// SSE2, AVX2): exact encodings around the 16- and 32-element blocks,
// ill-formed input, and each path against the scalar loop and an independent
// reference on seeded random text, ASCII runs across the blocks and a NUL at
// every offset. Every conversion reads from a heap copy of exactly `count`
// elements and writes into exactly the worst-case room, so sanitized builds
// catch any access outside either.
#include "text/processor_features.h"
#include "text/utf_convert.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>

namespace korvane::text {
namespace {

#define REPLACEMENT "\xEF\xBF\xBD"

// Converts `count` elements into a target of exactly the worst-case room and
// checks the NUL at the returned position.
template <typename From, typename To>
std::basic_string<To> Convert(To* (*convert)(const From*, std::size_t, To*), std::basic_string_view<From> text,
                              std::size_t count) {
  auto source = std::make_unique<From[]>(count);
  std::copy_n(text.data(), count, source.get());
  auto target = std::make_unique<To[]>(sizeof(To) == 1 ? Utf8Capacity(count) : Utf16Capacity(count));
  const To* end = convert(source.get(), count, target.get());
  EXPECT_EQ(*end, To(0));
  return std::basic_string<To>(target.get(), static_cast<std::size_t>(end - target.get()));
}
std::string ToUtf8(std::u16string_view text) { return Convert(Utf16ToUtf8, text, text.size()); }
std::u16string ToUtf16(std::string_view text) { return Convert(Utf8ToUtf16, text, text.size()); }

// ---- The reference: written from the encoding forms' definitions alone ----
void Append(std::u16string& out, char32_t c) {
  if (c < 0x10000) out += char16_t(c);
  else out += {char16_t(0xD800 + ((c - 0x10000) >> 10)), char16_t(0xDC00 + (c & 0x3FF))};
}
void Append(std::string& out, char32_t c) {
  const int n = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
  const unsigned tag[] = {0, 0, 0xC0, 0xE0, 0xF0};
  for (int i = 0; i < n; ++i)
    out += char((i == 0 ? tag[n] : 0x80) | ((c >> (6 * (n - 1 - i))) & (i == 0 ? 0x7F : 0x3F)));
}
std::string ReferenceUtf8(std::u16string_view in) {
  std::string out;
  auto inRange = [](char16_t u, char16_t low) { return u >= low && u < low + 0x400; };
  for (std::size_t i = 0; i < in.size() && in[i] != 0; ++i) {
    if (inRange(in[i], 0xD800) && i + 1 < in.size() && inRange(in[i + 1], 0xDC00)) {
      Append(out, 0x10000 + ((in[i] - 0xD800) << 10) + (in[i + 1] - 0xDC00));
      ++i;
    } else {
      Append(out, inRange(in[i], 0xD800) || inRange(in[i], 0xDC00) ? 0xFFFD : in[i]);
    }
  }
  return out;
}
// The code point b[0..n) carries as one well-formed sequence, or -1: decoded
// by bit pattern, then held to the range a sequence of that length may carry.
long Decode(const unsigned char* b, int n) {
  const unsigned mask[] = {0, 0x80, 0xE0, 0xF0, 0xF8}, tag[] = {0, 0, 0xC0, 0xE0, 0xF0};
  const long least[] = {0, 0, 0x80, 0x800, 0x10000};
  if ((b[0] & mask[n]) != tag[n]) return -1;
  long c = b[0] & ~mask[n];
  for (int i = 1; i < n; ++i) {
    if ((b[i] & 0xC0) != 0x80) return -1;
    c = (c << 6) | (b[i] & 0x3F);
  }
  return c >= least[n] && c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF) ? c : -1;
}
// One U+FFFD per maximal subpart: the longest start that some choice of the
// missing continuation bytes would complete into a well-formed sequence.
std::u16string ReferenceUtf16(std::string_view text) {
  const auto* b = reinterpret_cast<const unsigned char*>(text.data());
  std::u16string out;
  for (std::size_t i = 0, size = text.size(); i < size && b[i] != 0;) {
    long c = -1;
    int n = 0;
    while (c < 0 && n < 4 && i + n < size) c = Decode(b + i, ++n);
    if (c >= 0) {
      Append(out, char32_t(c));
      i += n;
      continue;
    }
    int part = 1;
    for (int m = 2; m < 4 && i + m <= size; ++m)
      for (unsigned fill = 0x80; fill <= 0xBF; ++fill) {
        unsigned char trial[4];
        std::memset(trial, int(fill), 4);
        std::memcpy(trial, b + i, m);
        for (int whole = m + 1; whole <= 4; ++whole)
          if (Decode(trial, whole) >= 0) part = m;
      }
    Append(out, 0xFFFD);
    i += part;
  }
  return out;
}

// Seeded random text: ASCII runs, letters of every length, random elements
// (some NUL) and letters missing an element.
template <typename String>
String RandomText(std::mt19937& rng, std::size_t most) {
  using C = typename String::value_type;
  String out;
  for (const std::size_t goal = rng() % most; out.size() < goal;) {
    const char32_t limits[] = {0x800, 0xD800, 0x110000};
    char32_t c = 0x80 + rng() % (limits[rng() % 3] - 0x80);
    if (c >= 0xD800 && c < 0xE000) c += 0x800;
    const std::size_t at = out.size();
    switch (rng() % 4) {
      case 0: for (auto n = rng() % 40; n > 0; --n) out += C(0x20 + rng() % 0x5F); break;
      case 1: Append(out, c); break;
      case 2: out += rng() % 16 == 0 ? C(0) : C(rng()); break;
      default: Append(out, c); out.erase(rng() % 2 ? out.size() - 1 : at, 1); break;
    }
  }
  return out;
}

template <typename C>
std::basic_string<C> Padded(std::basic_string_view<C> letter, std::size_t before, std::size_t after) {
  return std::basic_string<C>(before, C('-')) + std::basic_string<C>(letter) + std::basic_string<C>(after, C('z'));
}

// Every case runs once on each path; a path the processor lacks is skipped.
class UtfConvert : public ::testing::TestWithParam<VectorPath> {
 protected:
  void SetUp() override {
    if (GetParam() > DetectVectorPath()) GTEST_SKIP() << "the processor lacks this path";
    SetVectorPathForTesting(GetParam());
  }
  void TearDown() override { SetVectorPathForTesting(VectorPath::kScalar); }
};
std::string PathName(const ::testing::TestParamInfo<VectorPath>& path) {
  constexpr const char* kNames[] = {"Scalar", "Sse2", "Avx2"};
  return kNames[static_cast<int>(path.param)];
}
INSTANTIATE_TEST_SUITE_P(Paths, UtfConvert,
                         ::testing::Values(VectorPath::kScalar, VectorPath::kSse2, VectorPath::kAvx2), PathName);

TEST_P(UtfConvert, EncodesEachLengthAtEveryOffsetAroundTheBlock) {
  const struct { std::u16string_view wide; std::string_view narrow; } letters[] = {
      {u"\x7F", "\x7F"},           {u"\x80", "\xC2\x80"},         {u"\x7FF", "\xDF\xBF"},
      {u"\x800", "\xE0\xA0\x80"}, {u"\x20AC", "\xE2\x82\xAC"}, {u"\xFFFF", "\xEF\xBF\xBF"},
      {u"\xD83D\xDE00", "\xF0\x9F\x98\x80"}};
  for (const auto& [wide, narrow] : letters) {
    for (std::size_t total : {15, 16, 31, 32, 33, 63, 64, 65}) {
      SCOPED_TRACE(testing::Message() << narrow.size() << "-byte letter in " << total);
      for (std::size_t before = 0, after = total - narrow.size(); before <= total - narrow.size(); ++before, --after)
        EXPECT_EQ(ToUtf16(Padded(narrow, before, after)), Padded(wide, before, after)) << before;
      for (std::size_t before = 0, after = total - wide.size(); before <= total - wide.size(); ++before, --after)
        EXPECT_EQ(ToUtf8(Padded(wide, before, after)), Padded(narrow, before, after)) << before;
    }
  }
}

TEST_P(UtfConvert, IllFormedInputBecomesReplacementsWithoutSwallowingTheNextElement) {
  const struct { std::u16string_view source; std::string_view expected; } wide[] = {
      {u"\xD800" u"a", REPLACEMENT "a"}, {u"\xDC00" u"a", REPLACEMENT "a"},  // lone high, lone low
      {u"a\xD83D", "a" REPLACEMENT},                                          // high ends the count
      {std::u16string_view(u"\xD83D\0x", 3), REPLACEMENT},                    // high before the NUL
      {u"\xD83D\xD83D\xDE00", REPLACEMENT "\xF0\x9F\x98\x80"}, {u"\xDE00\xD83D", REPLACEMENT REPLACEMENT}};
  const struct { std::string_view source; std::u16string_view expected; } narrow[] = {
      {"\x80" "a", u"\xFFFD" u"a"}, {"\xBF\x80", u"\xFFFD\xFFFD"},                       // stray continuations
      {"\xC0\xAF", u"\xFFFD\xFFFD"}, {"\xE0\x80\xAF", u"\xFFFD\xFFFD\xFFFD"},            // overlong
      {"\xF0\x80\x80\xAF", u"\xFFFD\xFFFD\xFFFD\xFFFD"}, {"\xED\xA0\x80", u"\xFFFD\xFFFD\xFFFD"},  // surrogate
      {"\xF4\x90\x80\x80", u"\xFFFD\xFFFD\xFFFD\xFFFD"}, {"\xF5\x80" "a", u"\xFFFD\xFFFD" u"a"},  // > U+10FFFF
      {"\xE2\x82" "a", u"\xFFFD" u"a"}, {"\xE2\x82\xE2\x82\xAC", u"\xFFFD\x20AC"},          // truncated
      {"a\xF0\x9F\x98", u"a\xFFFD"}, {"\xF4\x8F", u"\xFFFD"},                              // cut by the count
      {std::string_view("\xF0\x9F\x98\0x", 5), u"\xFFFD"}};                                // cut by the NUL
  for (std::size_t before : {0, 13, 16, 31, 32, 61, 64}) {  // Also after ASCII that fills or crosses a block.
    for (const auto& [source, expected] : wide)
      EXPECT_EQ(ToUtf8(Padded(source, before, 0)), Padded(expected, before, 0)) << before;
    for (const auto& [source, expected] : narrow)
      EXPECT_EQ(ToUtf16(Padded(source, before, 0)), Padded(expected, before, 0)) << before;
  }
}

TEST_P(UtfConvert, NulOrCountEndsTheOutputAndNothingPastEitherIsRead) {
  const std::u16string wide = u"C:\\Users\\J\x00F6rg\\\xD83D\xDE00\\Documents\\report-\x20AC.txt\xD83D";
  const std::string narrow = ReferenceUtf8(wide) + "\xF0\x9F\x98";
  for (std::size_t count = 0; count <= wide.size(); ++count) {
    const std::string expected = ReferenceUtf8(wide.substr(0, count));
    EXPECT_EQ(Convert(Utf16ToUtf8, std::u16string_view(wide), count), expected);
    std::u16string cut = wide;
    if (count < cut.size()) cut[count] = 0;
    EXPECT_EQ(WideToUtf8(cut), expected);
    for (std::size_t offset = 0; offset < 8; ++offset) {  // The length scan, from every alignment.
      auto terminated = std::make_unique<char16_t[]>(offset + count + 1);
      std::copy_n(wide.data(), count, terminated.get() + offset);
      EXPECT_EQ(WideToUtf8(terminated.get() + offset), expected) << count << '+' << offset;
    }
  }
  for (std::size_t count = 0; count <= narrow.size(); ++count) {
    const std::u16string expected = ReferenceUtf16(narrow.substr(0, count));
    EXPECT_EQ(Convert(Utf8ToUtf16, std::string_view(narrow), count), expected);
    std::string cut = narrow;
    if (count < cut.size()) cut[count] = 0;
    EXPECT_EQ(Utf8ToWide(cut), expected);
    EXPECT_EQ(Utf8ToWide(cut.c_str()), expected);
  }
  EXPECT_EQ(WideToUtf8(static_cast<const char16_t*>(nullptr)), "");
  EXPECT_EQ(Utf8ToWide(static_cast<const char*>(nullptr)), u"");
}

// Letters to end ASCII runs with: well-formed in one to four bytes, and not.
constexpr std::u16string_view kWideLetters[] = {u"\x00E9", u"\x20AC", u"\xD83D\xDE00", u"\xD800", u"\xDC00", u"\x0416"};
constexpr std::string_view kNarrowLetters[] = {"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xED\xA0\x80",
                                               "\xE2\x82", "\x80", "\xF4\x90"};

// The path under test, the scalar loop, the string converters (through
// their stack buffer, or for long text the heap) and the reference on one
// text read both ways: as UTF-16 units and, separately, as UTF-8 bytes.
void ExpectAllAgree(const std::u16string& wide, const std::string& narrow) {
  const std::string fast8 = ToUtf8(wide);
  const std::u16string fast16 = ToUtf16(narrow);
  ASSERT_EQ(fast8, Convert(detail::Utf16ToUtf8Scalar, std::u16string_view(wide), wide.size()));
  ASSERT_EQ(fast16, Convert(detail::Utf8ToUtf16Scalar, std::string_view(narrow), narrow.size()));
  ASSERT_EQ(fast8, ReferenceUtf8(wide));
  ASSERT_EQ(fast16, ReferenceUtf16(narrow));
  ASSERT_EQ(WideToUtf8(wide), fast8);
  ASSERT_EQ(Utf8ToWide(narrow), fast16);
}

TEST_P(UtfConvert, PathScalarLoopAndReferenceAgree) {
  std::mt19937 rng(20240611);
  // Mixed scripts, surrogate pairs, lone surrogates, stray and cut sequences
  // and NULs, in random order; one text in 16 too long for the stack buffer.
  for (int i = 0; i < 3000 && !HasFatalFailure(); ++i) {
    SCOPED_TRACE(testing::Message() << "random text #" << i);
    const std::size_t most = i % 16 == 0 ? 3000 : 200;
    const std::u16string wide = RandomText<std::u16string>(rng, most);
    ExpectAllAgree(wide, RandomText<std::string>(rng, most));
  }
  // An ASCII run of every length up to four wide blocks, then a letter
  // (well-formed or not), then more ASCII: the run ends on, before and after
  // each block boundary, and the tail lands at every offset.
  for (std::size_t i = 0; i < 6 * 140 && !HasFatalFailure(); ++i) {
    SCOPED_TRACE(testing::Message() << "ASCII runs across the blocks #" << i);
    ExpectAllAgree(Padded(kWideLetters[i % 6], i / 6, i * 7 % 71), Padded(kNarrowLetters[i % 7], i / 6, i * 7 % 71));
  }
  // A NUL at every offset of 150 elements of ASCII with one letter.
  for (std::size_t i = 0; i < 150 && !HasFatalFailure(); ++i) {
    SCOPED_TRACE(testing::Message() << "a NUL at offset " << i);
    std::u16string wide = Padded(std::u16string_view(u"\x20AC"), 70, 79);
    std::string narrow = Padded(std::string_view("\xE2\x82\xAC"), 70, 77);
    wide[i] = 0;
    narrow[i] = 0;
    ExpectAllAgree(wide, narrow);
  }
}

}  // namespace
}  // namespace korvane::text
