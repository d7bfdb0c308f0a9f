// Running the installed Linux programs (svn, svnadmin) from a test. On
// POSIX that is the shell; the Windows tests run under Wine, which starts a
// Unix program when asked but cannot wait for it, so there the command
// reports its status through a file.
#pragma once

#include <filesystem>
#include <string>

namespace korvane::testing {

// The exit status of the command run through /bin/sh, or -1 when it could
// not be started or did not end within a minute.
int RunShellCommand(const std::string& command);

// The path of a file of the test as the shell sees it: the same on POSIX;
// on Windows a path on Wine's Z: drive ("Z:/tmp/x") loses its drive.
std::string ShellPath(const std::string& path);

// A folder that both the test and the shell can reach: the system's
// temporary folder on POSIX, /tmp through Wine's Z: drive on Windows.
std::filesystem::path SharedTemporaryFolder();

}  // namespace korvane::testing
