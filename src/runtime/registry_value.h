// Reading one registry value: a number or a text of one key under a root.
#pragma once

#include "platform/windows_api.h"

#include <optional>
#include <string>
#include <string_view>

namespace korvane::runtime {

// The value named by keyPath (the subkey, a backslash, the value name) under
// root, read now; nullopt when the key or the value is absent or cannot be
// read.
//
// A number is any value whose data fits in 4 bytes, whatever its stored type;
// longer data (a QWORD) counts as absent.
std::optional<DWORD> ReadNumberValue(HKEY root, std::u16string_view keyPath);
// A text is the data up to its first NUL, whatever its stored type; an
// expandable text is taken as it is written.
std::optional<std::u16string> ReadTextValue(HKEY root, std::u16string_view keyPath);

}  // namespace korvane::runtime
