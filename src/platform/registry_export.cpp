#include "registry_export.h"

#include <optional>

namespace korvane::platform {
namespace {

// The value types of <windows.h>, which this file does without.
constexpr std::uint32_t kRegSz = 1;
constexpr std::uint32_t kRegBinary = 3;
constexpr std::uint32_t kRegDword = 4;

char16_t FoldCase(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; }

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r'; }

std::u16string_view Trim(std::u16string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// 1 to maxDigits hex digits and nothing else.
std::optional<std::uint32_t> ParseHex(std::u16string_view text, std::size_t maxDigits) {
  if (text.empty() || text.size() > maxDigits) return std::nullopt;
  std::uint32_t value = 0;
  for (char16_t c : text) {
    int digit = HexDigit(c);
    if (digit < 0) return std::nullopt;
    value = (value << 4) | static_cast<std::uint32_t>(digit);
  }
  return value;
}

// A quoted text at the start of `rest`, with \\ and \" escapes; `rest` moves
// past the closing quote.
std::optional<std::u16string> ParseQuoted(std::u16string_view& rest) {
  if (rest.empty() || rest.front() != u'"') return std::nullopt;
  std::u16string text;
  for (std::size_t i = 1; i < rest.size(); ++i) {
    char16_t c = rest[i];
    if (c == u'"') {
      rest.remove_prefix(i + 1);
      return text;
    }
    if (c == u'\\') {
      if (i + 1 >= rest.size() || (rest[i + 1] != u'\\' && rest[i + 1] != u'"')) return std::nullopt;
      c = rest[++i];
    }
    text += c;
  }
  return std::nullopt;
}

// Comma-separated bytes, each one or two hex digits; an empty list is no data.
std::optional<std::vector<std::uint8_t>> ParseByteList(std::u16string_view list) {
  std::vector<std::uint8_t> bytes;
  list = Trim(list);
  while (!list.empty()) {
    std::size_t comma = list.find(u',');
    auto byte = ParseHex(Trim(list.substr(0, comma)), 2);
    if (!byte) return std::nullopt;
    bytes.push_back(static_cast<std::uint8_t>(*byte));
    if (comma == std::u16string_view::npos) break;
    list.remove_prefix(comma + 1);
    if (Trim(list).empty()) return std::nullopt;  // a trailing comma leaves a byte missing
  }
  return bytes;
}

void AppendLittleEndian(std::vector<std::uint8_t>& bytes, std::uint32_t value, int count) {
  for (int i = 0; i < count; ++i) bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// The lines of the text, one at a time, trimmed.
class LineReader {
 public:
  explicit LineReader(std::u16string_view text) : rest_(text) {}

  bool Next(std::u16string_view& line) {
    if (done_) return false;
    std::size_t end = rest_.find(u'\n');
    line = Trim(rest_.substr(0, end));
    if (end == std::u16string_view::npos) {
      done_ = true;
    } else {
      rest_.remove_prefix(end + 1);
    }
    return true;
  }

 private:
  std::u16string_view rest_;
  bool done_ = false;
};

// The data of one value line: "text", dword:N, hex:..., hex(T):...
std::optional<RegistryExportValue> ParseValueData(std::u16string_view data, LineReader& lines) {
  RegistryExportValue value;
  if (!data.empty() && data.front() == u'"') {
    auto text = ParseQuoted(data);
    if (!text || !Trim(data).empty()) return std::nullopt;
    value.type = kRegSz;
    for (char16_t c : *text) AppendLittleEndian(value.data, c, 2);
    AppendLittleEndian(value.data, 0, 2);
    return value;
  }
  if (StartsWithRegistryName(data, u"dword:")) {
    auto number = ParseHex(data.substr(6), 8);
    if (!number) return std::nullopt;
    value.type = kRegDword;
    AppendLittleEndian(value.data, *number, 4);
    return value;
  }
  if (!StartsWithRegistryName(data, u"hex")) return std::nullopt;
  data.remove_prefix(3);
  value.type = kRegBinary;
  if (!data.empty() && data.front() == u'(') {
    std::size_t close = data.find(u')');
    if (close == std::u16string_view::npos) return std::nullopt;
    auto type = ParseHex(data.substr(1, close - 1), 8);
    if (!type) return std::nullopt;
    value.type = *type;
    data.remove_prefix(close + 1);
  }
  if (data.empty() || data.front() != u':') return std::nullopt;
  data.remove_prefix(1);
  std::u16string list(data);
  std::u16string_view more;
  while (!list.empty() && list.back() == u'\\') {
    list.pop_back();
    if (!lines.Next(more)) return std::nullopt;
    list += more;
  }
  auto bytes = ParseByteList(list);
  if (!bytes) return std::nullopt;
  value.data = std::move(*bytes);
  return value;
}

}  // namespace

bool SameRegistryName(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  }
  return true;
}

bool StartsWithRegistryName(std::u16string_view text, std::u16string_view prefix) {
  return text.size() >= prefix.size() && SameRegistryName(text.substr(0, prefix.size()), prefix);
}

bool IsRegistryKeyPath(std::u16string_view path) {
  if (path.empty()) return true;
  return path.front() != u'\\' && path.back() != u'\\' && path.find(u"\\\\") == std::u16string_view::npos;
}

void ReadRegistryExport(std::u16string_view text,
                        const std::function<bool(std::u16string_view root, std::u16string_view path)>& section,
                        const std::function<void(RegistryExportValue value)>& value) {
  bool wanted = false;
  LineReader lines(text);
  std::u16string_view line;
  while (lines.Next(line)) {
    if (line.empty() || line.front() == u';') continue;
    if (line.front() == u'[') {
      wanted = false;
      if (line.back() != u']') continue;
      std::u16string_view name = line.substr(1, line.size() - 2);
      std::size_t slash = name.find(u'\\');
      std::u16string_view path = slash == std::u16string_view::npos ? u"" : name.substr(slash + 1);
      if (IsRegistryKeyPath(path)) wanted = section(name.substr(0, slash), path);
      continue;
    }
    std::u16string_view rest = line;
    std::optional<std::u16string> name;
    if (rest.front() == u'@') {
      name.emplace();
      rest.remove_prefix(1);
    } else {
      name = ParseQuoted(rest);
    }
    rest = Trim(rest);
    if (!name || rest.empty() || rest.front() != u'=') continue;
    // Read even below a key nobody wants, so that a byte list's continuation
    // lines are never taken for lines of their own.
    auto data = ParseValueData(Trim(rest.substr(1)), lines);
    if (!wanted || !data) continue;
    data->name = std::move(*name);
    value(std::move(*data));
  }
}

}  // namespace korvane::platform
