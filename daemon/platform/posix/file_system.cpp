#include "daemon/platform/file_system.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvane::server {

int RenameNoReplace(const char* from, const char* to) {
  return renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
}

int MakePrivateFolder(const std::string& path) { return mkdir(path.c_str(), 0700); }

int MakeUniqueFolder(std::string& pathTemplate) { return mkdtemp(pathTemplate.data()) == nullptr ? -1 : 0; }

int ReadWholeFile(const std::string& path, std::string& text) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  char buffer[8192];
  ssize_t got;
  while ((got = read(fd, buffer, sizeof buffer)) != 0) {
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      const int failure = errno;
      close(fd);
      errno = failure;
      return -1;
    }
    text.append(buffer, static_cast<std::size_t>(got));
  }
  close(fd);
  return 0;
}

int RemoveFile(const std::string& path) { return unlink(path.c_str()); }

int RemoveEntry(const char* path) { return std::remove(path); }

std::string TemporaryFolder() {
  const char* folder = std::getenv("TMPDIR");
  return folder != nullptr && *folder == '/' ? folder : "/tmp";
}

}  // namespace korvane::server
