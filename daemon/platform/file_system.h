#pragma once

#include <string>

namespace korvane::server {

// The file system calls that std::filesystem has no form of. Each returns 0,
// or -1 with errno set, as the system call it stands in for.

// Renames from to to, failing with EEXIST rather than replace anything at to.
int RenameNoReplace(const char* from, const char* to);

// Makes the folder path for the daemon's user alone (mode 0700, less what
// the umask takes); fails with EEXIST when path exists.
int MakePrivateFolder(const std::string& path);

}  // namespace korvane::server
