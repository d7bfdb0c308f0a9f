// libFuzzer target for the UTF-16 <-> UTF-8 converters. Each input is read
// both as UTF-16 units and as UTF-8 bytes; for each, every vector path the
// processor has (SSE2, AVX2) and the scalar loop must agree, neither may touch memory outside the source's count
// or the target's worst-case room, and text round-trips as the rules say.
#include "text/processor_features.h"
#include "text/utf_convert.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

using namespace korvane::text;

void Require(bool condition) {
  if (!condition) std::abort();
}

// Converts `count` elements from an exact-size heap copy into an exact-size
// target, on the scalar loop and on each vector path the processor has, and
// returns the output once every path is shown to match it element for element.
template <typename From, typename To>
std::basic_string<To> ConvertBoth(To* (*dispatching)(const From*, std::size_t, To*),
                                  To* (*scalar)(const From*, std::size_t, To*), const From* text, std::size_t count,
                                  std::size_t room) {
  const auto source = std::make_unique<From[]>(count);
  if (count != 0) std::memcpy(source.get(), text, count * sizeof(From));
  const auto slow = std::make_unique<To[]>(room);
  const To* slowEnd = scalar(source.get(), count, slow.get());
  Require(*slowEnd == To(0));
  const std::size_t length = static_cast<std::size_t>(slowEnd - slow.get());
  for (const VectorPath path : {VectorPath::kSse2, VectorPath::kAvx2}) {
    if (path > DetectVectorPath()) break;
    const auto fast = std::make_unique<To[]>(room);
    SetVectorPathForTesting(path);
    const To* fastEnd = dispatching(source.get(), count, fast.get());
    Require(static_cast<std::size_t>(fastEnd - fast.get()) == length && *fastEnd == To(0));
    Require(std::memcmp(fast.get(), slow.get(), length * sizeof(To)) == 0);
  }
  return std::basic_string<To>(slow.get(), length);
}

std::string ToUtf8(const char16_t* text, std::size_t count) {
  return ConvertBoth(Utf16ToUtf8, detail::Utf16ToUtf8Scalar, text, count, Utf8Capacity(count));
}

std::u16string ToUtf16(const char* text, std::size_t count) {
  return ConvertBoth(Utf8ToUtf16, detail::Utf8ToUtf16Scalar, text, count, Utf16Capacity(count));
}

bool IsHigh(char16_t unit) { return unit >= 0xD800 && unit < 0xDC00; }
bool IsLow(char16_t unit) { return unit >= 0xDC00 && unit < 0xE000; }

// The text up to its first NUL with every surrogate that is not half of a
// pair replaced by U+FFFD: what a UTF-16 -> UTF-8 -> UTF-16 trip must give.
std::u16string Repaired(const char16_t* text, std::size_t count) {
  std::u16string out;
  for (std::size_t i = 0; i < count && text[i] != 0; ++i) {
    if (IsHigh(text[i]) && i + 1 < count && IsLow(text[i + 1])) {
      out += text[i];
      out += text[++i];
    } else {
      out += IsHigh(text[i]) || IsLow(text[i]) ? u'\xFFFD' : text[i];
    }
  }
  return out;
}

void CheckUtf16Source(const char16_t* units, std::size_t count) {
  const std::string narrow = ToUtf8(units, count);
  // Every lone surrogate became U+FFFD; everything else comes back unchanged.
  Require(ToUtf16(narrow.data(), narrow.size()) == Repaired(units, count));
  // The NUL-terminated form finds the same end.
  auto terminated = std::make_unique<char16_t[]>(count + 1);
  std::memcpy(terminated.get(), units, count * sizeof(char16_t));
  terminated[count] = 0;
  Require(WideToUtf8(terminated.get()) == narrow);
}

void CheckUtf8Source(const char* bytes, std::size_t count) {
  const std::u16string wide = ToUtf16(bytes, count);
  // The decoder's output is well-formed UTF-16, so it survives a round trip.
  Require(Repaired(wide.data(), wide.size()) == wide);
  const std::string again = ToUtf8(wide.data(), wide.size());
  Require(ToUtf16(again.data(), again.size()) == wide);
  // Input that decoded without a replacement was well-formed, so re-encoding
  // gives back exactly the bytes before the first NUL.
  if (wide.find(u'\xFFFD') == std::u16string::npos) Require(again == std::string(bytes, strnlen(bytes, count)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CheckUtf8Source(reinterpret_cast<const char*>(data), size);
  // The same bytes as UTF-16 units, copied for alignment.
  const std::size_t units = size / sizeof(char16_t);
  auto wide = std::make_unique<char16_t[]>(units);
  if (units != 0) std::memcpy(wide.get(), data, units * sizeof(char16_t));
  CheckUtf16Source(wide.get(), units);
  return 0;
}
