// A path as the library hands it to the system: Subversion's local style,
// with the platform's separator ("/a/b" on POSIX, "\a\b" on Windows).
#pragma once

#include <string>

namespace korvane::testing {

std::string LocalPath(std::string path);
std::u16string LocalPath(std::u16string path);

}  // namespace korvane::testing
