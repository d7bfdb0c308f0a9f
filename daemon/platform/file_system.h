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

// Makes a new private folder named pathTemplate with its last six
// characters ("XXXXXX") replaced so that the name is new, and leaves that
// name in pathTemplate, as mkdtemp does.
int MakeUniqueFolder(std::string& pathTemplate);

// Reads the whole file at path into text.
int ReadWholeFile(const std::string& path, std::string& text);

// Removes the file at path (not a folder).
int RemoveFile(const std::string& path);

// Removes one file, link or empty folder, as std::remove; a read-only file
// goes too (on Windows its read-only mark is taken off first), as POSIX
// lets a folder's owner remove it.
int RemoveEntry(const char* path);

// The folder for temporary files: $TMPDIR when it holds an absolute path,
// else /tmp on POSIX; the user's temporary folder on Windows.
std::string TemporaryFolder();

}  // namespace korvane::server
