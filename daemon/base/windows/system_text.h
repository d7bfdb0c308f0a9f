// Text between the daemon, which keeps paths and messages in UTF-8, and
// Windows' wide (UTF-16) calls, for the daemon's Windows code in every layer;
// the system converts, so all of it converts the same way.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace korvane::server::windows {

// The UTF-8 text as UTF-16; ill-formed bytes become U+FFFD.
std::wstring Wide(std::string_view text);

// The UTF-16 text as UTF-8; a lone surrogate becomes U+FFFD.
std::string Narrow(std::wstring_view text);

// The path for the system's calls: UTF-16, every '/' a '\'.
std::wstring SystemPath(std::string_view path);

// The system's words for error (GetLastError()), without the line break it
// ends them with.
std::string SystemMessage(DWORD error);

}  // namespace korvane::server::windows
