// The UTF-16 <-> UTF-8 converters beside their memcpy floor and beside glibc's
// iconv (opened once), on Windows-path-sized text and on a mebibyte of text.
// bytes_per_second counts the source's bytes; the "written" rate counts the
// bytes each row writes. "library" is the public converter with the path that
// the library's load-time list recorded when this program loaded the
// library's code (AVX2 or SSE2, by the processor), "sse2" the same call with
// the SSE2 path forced, "scalar" the plain loop. Each direction's memcpy
// copies as many bytes as its conversion of an ASCII text writes: the UTF-16
// text's bytes, which for Utf16ToUtf8 is its source and for Utf8ToUtf16 twice
// its source (the floor is a copy of the output, not of the input).
#include "text/processor_features.h"
#include "text/utf_convert.h"

#include <benchmark/benchmark.h>
#include <iconv.h>

#include <cstdint>
#include <cstring>
#include <iterator>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace korvane::text;

// A path of `units` UTF-16 units made of ordinary ASCII folder names, with
// `letters` written in from unit `at` on, one letter every 40 units.
std::u16string Path(std::size_t units, std::u16string_view letters = {}, std::size_t at = 0) {
  static constexpr std::u16string_view kFolders[] = {u"Users\\", u"builder\\", u"Projects\\", u"korvane-client\\",
                                                     u"src\\", u"working copies\\", u"release-notes_2024\\"};
  std::u16string path = u"C:\\";
  for (std::size_t i = 0; path.size() < units; ++i) path += kFolders[i % std::size(kFolders)];
  path.resize(units);
  for (std::size_t i = 0; i < letters.size() && at + 40 * i < units; ++i) path[at + 40 * i] = letters[i];
  return path;
}

// About `units` UTF-16 units of prose in several scripts: Latin with and
// without accents, Cyrillic, Greek, CJK and emoji.
std::u16string MixedText(std::size_t units) {
  static constexpr std::u16string_view kFragments[] = {
      u"The working copy is up to date. ", u"Die \x00C4nderungen wurden \x00FC" u"bernommen. ",
      u"\x0420\x0430\x0431\x043E\x0447\x0430\x044F \x043A\x043E\x043F\x0438\x044F. ",
      u"\x0391\x03C1\x03C7\x03B5\x03AF\x03BF. ", u"\x4F5C\x696D\x526F\x672C\x3002",
      u"Conflicts: 0 \xD83D\xDE00 ", u"r1024 committed by jane.doe@example.org\n"};
  std::u16string text;
  for (std::size_t i = 0; text.size() < units; ++i) text += kFragments[(i * 5) % std::size(kFragments)];
  return text;
}

struct Text {
  std::string name;
  std::u16string wide;
  std::string narrow;
};

const std::vector<Text>& Texts() {
  static const std::vector<Text> texts = [] {
    std::vector<Text> made;
    auto add = [&made](std::string name, std::u16string wide) {
      std::string narrow = WideToUtf8(wide);
      made.push_back({std::move(name), std::move(wide), std::move(narrow)});
    };
    add("ascii_path_40", Path(40));
    add("ascii_path_260", Path(260));
    add("path_260_four_letters", Path(260, u"\x00E9\x00F6\x00DF\x00C5", 30));
    // The large texts hold 1 Mi UTF-16 units: 1 MiB of ASCII as UTF-8.
    add("mixed_1MiB", MixedText(1024 * 1024));
    add("ascii_1MiB", Path(1024 * 1024));
    return made;
  }();
  return texts;
}

// An iconv descriptor opened once per benchmark and closed at its end.
class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv_open failed");
  }
  ~Iconv() { iconv_close(cd_); }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;

  // Converts `bytes` bytes into `out`; returns the number of bytes written.
  std::size_t Convert(const void* in, std::size_t bytes, void* out, std::size_t room) {
    char* inPtr = static_cast<char*>(const_cast<void*>(in));
    char* outPtr = static_cast<char*>(out);
    std::size_t outLeft = room;
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    iconv(cd_, &inPtr, &bytes, &outPtr, &outLeft);
    return room - outLeft;
  }

 private:
  iconv_t cd_;
};

template <typename Function>
void Run(benchmark::State& state, std::size_t sourceBytes, std::size_t writtenBytes, Function&& function) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(function());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * sourceBytes));
  state.counters["written"] = benchmark::Counter(static_cast<double>(state.iterations() * writtenBytes),
                                                 benchmark::Counter::kIsRate, benchmark::Counter::kIs1024);
}

// Runs `function` with the SSE2 path forced, then restores the recorded path.
template <typename Function>
void RunSse2(benchmark::State& state, std::size_t sourceBytes, std::size_t writtenBytes, Function&& function) {
  const VectorPath recorded = RecordedVectorPath();
  if (recorded < VectorPath::kSse2) {
    state.SkipWithError("the processor has no SSE2");
    return;
  }
  SetVectorPathForTesting(VectorPath::kSse2);
  Run(state, sourceBytes, writtenBytes, function);
  SetVectorPathForTesting(recorded);
}

// The buffer converters on each text, with their baselines, in one table.
void RegisterBufferBenchmarks() {
  for (const Text& text : Texts()) {
    const std::u16string& wide = text.wide;
    const std::string& narrow = text.narrow;
    const std::size_t wideBytes = wide.size() * sizeof(char16_t);
    auto add = [&text](const char* what, auto function) {
      benchmark::RegisterBenchmark((std::string(what) + "/" + text.name).c_str(), function);
    };
    add("Utf16ToUtf8/memcpy", [&wide, wideBytes](benchmark::State& state) {
      std::vector<char> out(wideBytes);
      Run(state, wideBytes, wideBytes, [&] { return std::memcpy(out.data(), wide.data(), wideBytes); });
    });
    add("Utf16ToUtf8/library", [&wide, wideBytes, &narrow](benchmark::State& state) {
      std::vector<char> out(Utf8Capacity(wide.size()));
      Run(state, wideBytes, narrow.size(), [&] { return Utf16ToUtf8(wide.data(), wide.size(), out.data()); });
    });
    add("Utf16ToUtf8/sse2", [&wide, wideBytes, &narrow](benchmark::State& state) {
      std::vector<char> out(Utf8Capacity(wide.size()));
      RunSse2(state, wideBytes, narrow.size(), [&] { return Utf16ToUtf8(wide.data(), wide.size(), out.data()); });
    });
    add("Utf16ToUtf8/scalar", [&wide, wideBytes, &narrow](benchmark::State& state) {
      std::vector<char> out(Utf8Capacity(wide.size()));
      Run(state, wideBytes, narrow.size(),
          [&] { return detail::Utf16ToUtf8Scalar(wide.data(), wide.size(), out.data()); });
    });
    add("Utf16ToUtf8/iconv", [&wide, wideBytes, &narrow](benchmark::State& state) {
      Iconv converter("UTF-8", "UTF-16LE");
      std::vector<char> out(Utf8Capacity(wide.size()));
      Run(state, wideBytes, narrow.size(),
          [&] { return converter.Convert(wide.data(), wideBytes, out.data(), out.size()); });
    });
    // The floor: a copy of as many bytes as the conversion writes.
    add("Utf8ToUtf16/memcpy", [&wide, wideBytes](benchmark::State& state) {
      std::vector<char> out(wideBytes);
      Run(state, wideBytes, wideBytes, [&] { return std::memcpy(out.data(), wide.data(), wideBytes); });
    });
    add("Utf8ToUtf16/library", [&narrow, wideBytes](benchmark::State& state) {
      std::vector<char16_t> out(Utf16Capacity(narrow.size()));
      Run(state, narrow.size(), wideBytes, [&] { return Utf8ToUtf16(narrow.data(), narrow.size(), out.data()); });
    });
    add("Utf8ToUtf16/sse2", [&narrow, wideBytes](benchmark::State& state) {
      std::vector<char16_t> out(Utf16Capacity(narrow.size()));
      RunSse2(state, narrow.size(), wideBytes,
              [&] { return Utf8ToUtf16(narrow.data(), narrow.size(), out.data()); });
    });
    add("Utf8ToUtf16/scalar", [&narrow, wideBytes](benchmark::State& state) {
      std::vector<char16_t> out(Utf16Capacity(narrow.size()));
      Run(state, narrow.size(), wideBytes,
          [&] { return detail::Utf8ToUtf16Scalar(narrow.data(), narrow.size(), out.data()); });
    });
    add("Utf8ToUtf16/iconv", [&narrow, wideBytes](benchmark::State& state) {
      Iconv converter("UTF-16LE", "UTF-8");
      std::vector<char16_t> out(Utf16Capacity(narrow.size()));
      Run(state, narrow.size(), wideBytes,
          [&] { return converter.Convert(narrow.data(), narrow.size(), out.data(), out.size() * sizeof(char16_t)); });
    });
  }
}

// The string converters on NUL-terminated paths, beside the same job done
// with iconv: find the length, convert, build the result string.
void RegisterStringBenchmarks() {
  static const std::vector<Text> paths = [] {
    std::vector<Text> made;
    for (auto [name, wide] : {std::pair("ascii_path_40", Path(40)), std::pair("ascii_path_260", Path(260)),
                              std::pair("path_260_one_letter", Path(260, u"\x00E9", 12))})
      made.push_back({name, wide, WideToUtf8(wide)});
    return made;
  }();
  for (const Text& path : paths) {
    const char16_t* wide = path.wide.c_str();
    const char* narrow = path.narrow.c_str();
    const std::size_t wideBytes = path.wide.size() * sizeof(char16_t);
    const std::size_t narrowBytes = path.narrow.size();
    benchmark::RegisterBenchmark(("WideToUtf8/library/" + path.name).c_str(), [=](benchmark::State& state) {
      Run(state, wideBytes, narrowBytes, [&] { return WideToUtf8(wide); });
    });
    benchmark::RegisterBenchmark(("WideToUtf8/iconv/" + path.name).c_str(), [=](benchmark::State& state) {
      Iconv converter("UTF-8", "UTF-16LE");
      Run(state, wideBytes, narrowBytes, [&] {
        const std::size_t units = std::char_traits<char16_t>::length(wide);
        char buffer[1024];
        return std::string(buffer, converter.Convert(wide, units * sizeof(char16_t), buffer, sizeof buffer));
      });
    });
    benchmark::RegisterBenchmark(("Utf8ToWide/library/" + path.name).c_str(), [=](benchmark::State& state) {
      Run(state, narrowBytes, wideBytes, [&] { return Utf8ToWide(narrow); });
    });
    benchmark::RegisterBenchmark(("Utf8ToWide/iconv/" + path.name).c_str(), [=](benchmark::State& state) {
      Iconv converter("UTF-16LE", "UTF-8");
      Run(state, narrowBytes, wideBytes, [&] {
        char16_t buffer[1024];
        const std::size_t bytes = converter.Convert(narrow, std::strlen(narrow), buffer, sizeof buffer);
        return std::u16string(buffer, bytes / sizeof(char16_t));
      });
    });
  }
}

// The fast path is whatever the library's load-time list chose when this
// program loaded the library's code; nothing here asks the processor.
const bool registered = [] {
  RegisterBufferBenchmarks();
  RegisterStringBenchmarks();
  return true;
}();

}  // namespace
