// The registry, read only, over files in the text format of registry exports.
// HKEY_CURRENT_USER is $XDG_CONFIG_HOME/korvane/user.reg (by default
// $HOME/.config/korvane/user.reg); HKEY_LOCAL_MACHINE is korvane/machine.reg
// in the first folder of $XDG_CONFIG_DIRS (by default /etc/xdg) that has one.
// Every open reads the file again, and the handle keeps the values of its key
// as they were then. A missing or unreadable file is an empty hive; a line
// that cannot be understood is skipped. Key and value names compare with
// ASCII case folding, which covers every name the library uses.
#include "win32_registry.h"

#include "platform/registry_export.h"

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

using RegistryValue = platform::RegistryExportValue;

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

// The values of root\path in a hive file's text, in file order. False when
// the file does not have the key: no section names it or a key below it.
bool ParseKey(std::u16string_view text, Hive hive, std::u16string_view path, std::vector<RegistryValue>& values) {
  bool keyExists = path.empty();
  const auto section = [&](std::u16string_view root, std::u16string_view sectionPath) {
    if (!platform::SameRegistryName(root, RootName(hive))) return false;
    if (platform::SameRegistryName(sectionPath, path)) return keyExists = true;
    if (path.empty() || (sectionPath.size() > path.size() && platform::StartsWithRegistryName(sectionPath, path) &&
                         sectionPath[path.size()] == u'\\')) {
      keyExists = true;  // a key exists when a key below it does
    }
    return false;
  };
  // A later value of the same name wins when looked up.
  platform::ReadRegistryExport(text, section, [&](RegistryValue value) { values.push_back(std::move(value)); });
  return keyExists;
}

// Reads the hive file now. False when the key is not there.
bool LoadKey(Hive hive, std::u16string_view path, std::vector<RegistryValue>& values) {
  if (!platform::IsRegistryKeyPath(path)) return false;
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
    if (!platform::SameRegistryName(value.name, name)) continue;
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
