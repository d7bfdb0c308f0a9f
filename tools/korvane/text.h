// UTF-8 and UTF-16 for the tool's arguments and the shell extension's
// texts, by the same system calls the library makes: bytes that are not UTF-8
// and lone surrogates become U+FFFD.
#pragma once

#include <string>
#include <string_view>

namespace korvane::cli {

std::u16string Utf16(std::string_view utf8);
std::string Utf8(std::u16string_view utf16);

}  // namespace korvane::cli
