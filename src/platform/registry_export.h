// The text format of registry exports (what regedit writes): [ROOT\PATH]
// section lines name keys, and the lines below a section name its values as
// "name"=data or @=data, the data being "text", dword:N, hex:BYTES or
// hex(T):BYTES, where a byte list may go on after a trailing backslash. The
// POSIX registry keeps its hives in this format; the tests write the Windows
// registry from it, so both read it here.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace korvane::platform {

// One value line, with its data as the registry holds it: text in UTF-16LE
// with its NUL, a dword in 4 bytes little-endian, else the bytes listed.
struct RegistryExportValue {
  std::u16string name;     // empty for the key's default value (@)
  std::uint32_t type = 0;  // REG_SZ, REG_DWORD, REG_BINARY or hex(T)'s T
  std::vector<std::uint8_t> data;
};

// Whether two key or value names are the same, with ASCII case folding,
// which covers every name the library uses.
bool SameRegistryName(std::u16string_view a, std::u16string_view b);
bool StartsWithRegistryName(std::u16string_view text, std::u16string_view prefix);
// Whether a path below a root names a key: none of its components is empty.
bool IsRegistryKeyPath(std::u16string_view path);

// Reads export text in file order. Each section line that names a key
// (ROOT\PATH with no empty component, or ROOT alone with an empty path) goes
// to section, which tells whether it wants that key's values; each value of
// a wanted key then goes to value. A line that cannot be understood is
// skipped, and so are the values below one.
void ReadRegistryExport(std::u16string_view text,
                        const std::function<bool(std::u16string_view root, std::u16string_view path)>& section,
                        const std::function<void(RegistryExportValue value)>& value);

}  // namespace korvane::platform
