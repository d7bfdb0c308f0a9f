// File-system paths between the UTF-16 of the Windows calls and the bytes
// that POSIX takes.
#pragma once

#include "win32_types.h"

#include <string>

namespace korvane::posix {

std::u16string WidePath(const std::string& path);
std::string NarrowPath(const WCHAR* path);

// The length of a NUL-terminated UTF-16 text.
std::size_t WideLength(const WCHAR* text);

}  // namespace korvane::posix
