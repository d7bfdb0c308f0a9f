// The registry, read only, over files in the text format of registry exports.
// HKEY_CURRENT_USER is $XDG_CONFIG_HOME/korvane/user.reg (by default
// $HOME/.config/korvane/user.reg); HKEY_LOCAL_MACHINE is korvane/machine.reg
// in the first folder of $XDG_CONFIG_DIRS (by default /etc/xdg) that has one.
// Every open reads the file again, and the handle keeps the values of its key
// as they were then. A missing or unreadable file is an empty hive; a line
// that cannot be understood is skipped. Key and value names compare with
// ASCII case folding, which covers every name the library uses.
#include "win32_registry.h"

#include "user_folders.h"
#include "wide_path.h"
#include "win32_calls.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace korvane::posix {
namespace {

// Larger files are not registry exports anyone wrote for this library; they
// count as unreadable rather than filling the host's memory.
constexpr std::size_t kMaxHiveFileBytes = 16u << 20;

enum class Hive { CurrentUser, LocalMachine };

struct RegistryValue {
  std::u16string name;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

// What an HKEY points at. Open keys form a list, so that a handle is checked
// against it before it is used: a stale or made-up handle is an error, never
// a wild read.
struct RegistryKey {
  Hive hive = Hive::CurrentUser;
  std::u16string path;  // below the root, components separated by '\'
  std::vector<RegistryValue> values;
  RegistryKey* previous = nullptr;
  RegistryKey* next = nullptr;
};

std::mutex openKeysLock;
RegistryKey* openKeys = nullptr;

// ---- Names ----

char16_t FoldCase(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; }

bool SameName(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  }
  return true;
}

bool StartsWithName(std::u16string_view text, std::u16string_view prefix) {
  return text.size() >= prefix.size() && SameName(text.substr(0, prefix.size()), prefix);
}

// A key path names a key when none of its components is empty.
bool IsKeyPath(std::u16string_view path) {
  if (path.empty()) return true;
  return path.front() != u'\\' && path.back() != u'\\' && path.find(u"\\\\") == std::u16string_view::npos;
}

std::u16string_view RootName(Hive hive) {
  return hive == Hive::CurrentUser ? u"HKEY_CURRENT_USER" : u"HKEY_LOCAL_MACHINE";
}

// ---- Where the hives are ----

bool IsAbsolute(const char* path) { return path != nullptr && path[0] == '/'; }

// Relative folders in the XDG variables are ignored, as the XDG rules ask.
std::optional<std::string> HivePath(Hive hive) {
  if (hive == Hive::CurrentUser) {
    std::optional<std::string> config = ProductFolder(UserFolder::Config);
    if (!config) return std::nullopt;
    return *config + "/user.reg";
  }
  const char* dirs = std::getenv("XDG_CONFIG_DIRS");
  std::string_view list = dirs != nullptr && dirs[0] != '\0' ? dirs : "/etc/xdg";
  while (!list.empty()) {
    std::size_t colon = list.find(':');
    std::string folder(list.substr(0, colon));
    list = colon == std::string_view::npos ? std::string_view() : list.substr(colon + 1);
    if (!IsAbsolute(folder.c_str())) continue;
    std::string candidate = folder + "/korvane/machine.reg";
    struct stat info {};
    if (::stat(candidate.c_str(), &info) == 0) return candidate;
  }
  return std::nullopt;
}

// The file's bytes, or nothing when it cannot be read. Non-blocking open, so
// that a FIFO put in the file's place cannot hang the host.
std::optional<std::string> ReadHiveFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  std::optional<std::string> bytes;
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    bytes.emplace();
    char chunk[8192];
    for (;;) {
      ssize_t got = ::read(fd, chunk, sizeof chunk);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0 || bytes->size() + static_cast<std::size_t>(got) > kMaxHiveFileBytes) {
        bytes.reset();
        break;
      }
      if (got == 0) break;
      bytes->append(chunk, static_cast<std::size_t>(got));
    }
  }
  ::close(fd);
  return bytes;
}

// UTF-16LE after its BOM (what regedit writes), else UTF-8 with or without BOM.
std::u16string DecodeHiveText(const std::string& bytes) {
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    std::u16string text;
    text.reserve(bytes.size() / 2);
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
      text +=
          static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8));
    }
    return text;
  }
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return WidePath(bytes.substr(3));
  return WidePath(bytes);
}

// ---- The file format ----

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

std::u16string_view Trim(std::u16string_view text) {
  while (!text.empty() && (IsBlank(text.front()) || text.front() == u'\r')) text.remove_prefix(1);
  while (!text.empty() && (IsBlank(text.back()) || text.back() == u'\r')) text.remove_suffix(1);
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
std::optional<std::vector<BYTE>> ParseByteList(std::u16string_view list) {
  std::vector<BYTE> bytes;
  list = Trim(list);
  while (!list.empty()) {
    std::size_t comma = list.find(u',');
    auto byte = ParseHex(Trim(list.substr(0, comma)), 2);
    if (!byte) return std::nullopt;
    bytes.push_back(static_cast<BYTE>(*byte));
    if (comma == std::u16string_view::npos) break;
    list.remove_prefix(comma + 1);
    if (Trim(list).empty()) return std::nullopt;  // a trailing comma leaves a byte missing
  }
  return bytes;
}

void AppendLittleEndian(std::vector<BYTE>& bytes, std::uint32_t value, int count) {
  for (int i = 0; i < count; ++i) bytes.push_back(static_cast<BYTE>(value >> (8 * i)));
}

// The lines of a hive file, one at a time; a hex list may continue on the
// next line after a trailing backslash.
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
std::optional<RegistryValue> ParseValueData(std::u16string_view data, LineReader& lines) {
  RegistryValue value;
  if (!data.empty() && data.front() == u'"') {
    auto text = ParseQuoted(data);
    if (!text || !Trim(data).empty()) return std::nullopt;
    value.type = REG_SZ;
    for (char16_t c : *text) AppendLittleEndian(value.data, c, 2);
    AppendLittleEndian(value.data, 0, 2);
    return value;
  }
  if (StartsWithName(data, u"dword:")) {
    auto number = ParseHex(data.substr(6), 8);
    if (!number) return std::nullopt;
    value.type = REG_DWORD;
    AppendLittleEndian(value.data, *number, 4);
    return value;
  }
  if (!StartsWithName(data, u"hex")) return std::nullopt;
  data.remove_prefix(3);
  value.type = REG_BINARY;
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

// The values of root\path in a hive file's text, in file order. False when the file does not have the key: no section names
// it or a key below it.
bool ParseKey(std::u16string_view text, Hive hive, std::u16string_view path, std::vector<RegistryValue>& values) {
  bool keyExists = path.empty();
  bool inKey = false;
  LineReader lines(text);
  std::u16string_view line;
  while (lines.Next(line)) {
    if (line.empty() || line.front() == u';') continue;
    if (line.front() == u'[') {
      inKey = false;
      if (line.back() != u']') continue;
      std::u16string_view section = line.substr(1, line.size() - 2);
      std::size_t slash = section.find(u'\\');
      std::u16string_view sectionPath = slash == std::u16string_view::npos ? u"" : section.substr(slash + 1);
      if (!SameName(section.substr(0, slash), RootName(hive)) || !IsKeyPath(sectionPath)) continue;
      if (SameName(sectionPath, path)) {
        inKey = keyExists = true;
      } else if (path.empty() || (sectionPath.size() > path.size() && StartsWithName(sectionPath, path) &&
                                  sectionPath[path.size()] == u'\\')) {
        keyExists = true;  // a key exists when a key below it does
      }
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
    // Parsed even outside the key, so that a hex list's continuation lines
    // are never read as lines of their own.
    auto value = ParseValueData(Trim(rest.substr(1)), lines);
    if (!inKey || !value) continue;
    value->name = std::move(*name);
    values.push_back(std::move(*value));  // a later one of the same name wins when looked up
  }
  return keyExists;
}

// Reads the hive file now. False when the key is not there.
bool LoadKey(Hive hive, std::u16string_view path, std::vector<RegistryValue>& values) {
  if (!IsKeyPath(path)) return false;
  std::optional<std::string> bytes;
  if (auto file = HivePath(hive)) bytes = ReadHiveFile(*file);
  return ParseKey(bytes ? DecodeHiveText(*bytes) : std::u16string(), hive, path, values);
}

// ---- Handles ----

std::optional<Hive> PredefinedRoot(HKEY key) {
  if (key == HKEY_CURRENT_USER) return Hive::CurrentUser;
  if (key == HKEY_LOCAL_MACHINE) return Hive::LocalMachine;
  return std::nullopt;
}

// The open key behind a handle, or null; the caller holds openKeysLock.
RegistryKey* OpenKeyOf(HKEY handle) {
  for (RegistryKey* key = openKeys; key != nullptr; key = key->next) {
    if (reinterpret_cast<HKEY>(key) == handle) return key;
  }
  return nullptr;
}

LSTATUS QueryValue(const std::vector<RegistryValue>& values, LPCWSTR valueName, LPDWORD type, BYTE* data,
                   LPDWORD dataSize) {
  std::u16string_view name = valueName != nullptr ? std::u16string_view(valueName) : std::u16string_view();
  // From the end: a value defined again later in the file replaces the earlier one.
  for (auto it = values.rbegin(); it != values.rend(); ++it) {
    const RegistryValue& value = *it;
    if (!SameName(value.name, name)) continue;
    auto size = static_cast<DWORD>(value.data.size());
    if (type != nullptr) *type = value.type;
    if (data == nullptr) {
      if (dataSize != nullptr) *dataSize = size;
      return ERROR_SUCCESS;
    }
    DWORD room = *dataSize;
    *dataSize = size;
    if (room < size) return ERROR_MORE_DATA;
    if (size != 0) std::memcpy(data, value.data.data(), size);
    return ERROR_SUCCESS;
  }
  return ERROR_FILE_NOT_FOUND;
}

}  // namespace
}  // namespace korvane::posix

using namespace korvane::posix;

LSTATUS RegOpenKeyExW(HKEY root, LPCWSTR subKey, DWORD, REGSAM, PHKEY result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  try {
    auto key = std::make_unique<RegistryKey>();
    if (auto hive = PredefinedRoot(root)) {
      key->hive = *hive;
    } else {
      std::lock_guard lock(openKeysLock);
      RegistryKey* parent = OpenKeyOf(root);
      if (parent == nullptr) return ERROR_INVALID_HANDLE;
      key->hive = parent->hive;
      key->path = parent->path;
    }
    if (subKey != nullptr && subKey[0] != 0) {
      if (!key->path.empty()) key->path += u'\\';
      key->path += subKey;
    }
    if (!LoadKey(key->hive, key->path, key->values)) return ERROR_FILE_NOT_FOUND;

    std::lock_guard lock(openKeysLock);
    key->next = openKeys;
    if (openKeys != nullptr) openKeys->previous = key.get();
    openKeys = key.get();
    *result = reinterpret_cast<HKEY>(key.release());
    return ERROR_SUCCESS;
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

LSTATUS RegQueryValueExW(HKEY key, LPCWSTR valueName, LPDWORD reserved, LPDWORD type, BYTE* data, LPDWORD dataSize) {
  if (reserved != nullptr || (data != nullptr && dataSize == nullptr)) return ERROR_INVALID_PARAMETER;
  try {
    if (auto hive = PredefinedRoot(key)) {
      std::vector<RegistryValue> values;
      LoadKey(*hive, u"", values);
      return QueryValue(values, valueName, type, data, dataSize);
    }
    std::lock_guard lock(openKeysLock);
    RegistryKey* open = OpenKeyOf(key);
    if (open == nullptr) return ERROR_INVALID_HANDLE;
    return QueryValue(open->values, valueName, type, data, dataSize);
  } catch (const std::bad_alloc&) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

LSTATUS RegCloseKey(HKEY handle) {
  if (PredefinedRoot(handle)) return ERROR_SUCCESS;  // closing a predefined root does nothing, as on Windows
  RegistryKey* key;
  {
    std::lock_guard lock(openKeysLock);
    key = OpenKeyOf(handle);
    if (key == nullptr) return ERROR_INVALID_HANDLE;
    (key->previous != nullptr ? key->previous->next : openKeys) = key->next;
    if (key->next != nullptr) key->next->previous = key->previous;
  }
  delete key;
  return ERROR_SUCCESS;
}
