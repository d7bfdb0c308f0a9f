#include "daemon/platform/file_system.h"

#include <fcntl.h>
#include <sys/stat.h>

namespace korvane::server {

int RenameNoReplace(const char* from, const char* to) {
  return renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
}

int MakePrivateFolder(const std::string& path) { return mkdir(path.c_str(), 0700); }

}  // namespace korvane::server
