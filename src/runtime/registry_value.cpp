// Reading one registry value: open the key, query the value, close the key.
#include "runtime/registry_value.h"

#include <memory>
#include <type_traits>
#include <vector>

namespace korvane::runtime {
namespace {

// The rights every read asks for: the value and the key's security
// descriptor (0x20001).
constexpr DWORD kReadRights = KEY_QUERY_VALUE | READ_CONTROL;

// Closes the key however the read ends, out of memory included.
struct KeyCloser {
  void operator()(HKEY key) const { RegCloseKey(key); }
};
using OwnedKey = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

// The key of keyPath (everything before its last backslash) opened for
// reading, and the value name after it.
struct OpenedValue {
  OwnedKey key;
  std::u16string name;
};

std::optional<OpenedValue> Open(HKEY root, std::u16string_view keyPath) {
  const std::size_t slash = keyPath.rfind(u'\\');
  const bool bare = slash == std::u16string_view::npos;  // a value of the root itself
  const std::u16string subKey(keyPath.substr(0, bare ? 0 : slash));
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, reinterpret_cast<LPCWSTR>(subKey.c_str()), 0, kReadRights, &key) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return OpenedValue{OwnedKey(key), std::u16string(keyPath.substr(bare ? 0 : slash + 1))};
}

}  // namespace

// One query into 4 bytes: the stored type is not looked at.
std::optional<DWORD> ReadNumberValue(HKEY root, std::u16string_view keyPath) {
  auto opened = Open(root, keyPath);
  if (!opened) return std::nullopt;
  DWORD type = REG_NONE;
  DWORD value = 0;
  DWORD size = sizeof value;
  if (RegQueryValueExW(opened->key.get(), reinterpret_cast<LPCWSTR>(opened->name.c_str()), nullptr, &type,
                       reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return value;
}

// The size first, then the data into a zeroed buffer of as many UTF-16 units
// as the data has bytes: twice what it needs, so a text stored without its
// NUL still ends inside the buffer.
std::optional<std::u16string> ReadTextValue(HKEY root, std::u16string_view keyPath) {
  auto opened = Open(root, keyPath);
  if (!opened) return std::nullopt;
  auto name = reinterpret_cast<LPCWSTR>(opened->name.c_str());
  DWORD type = REG_NONE;
  DWORD size = 0;
  if (RegQueryValueExW(opened->key.get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return std::nullopt;
  if (size == 0) return std::u16string();
  std::vector<char16_t> buffer(size, u'\0');
  if (RegQueryValueExW(opened->key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  std::size_t length = 0;
  while (length < buffer.size() && buffer[length] != u'\0') ++length;
  return std::u16string(buffer.data(), length);
}

}  // namespace korvane::runtime
