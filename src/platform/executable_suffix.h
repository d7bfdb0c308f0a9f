// What ends the file name of a program: ".exe" on Windows, nothing on POSIX.
#pragma once

#ifdef _WIN32
#define KORVANE_EXECUTABLE_SUFFIX u".exe"
#else
#define KORVANE_EXECUTABLE_SUFFIX u""
#endif
