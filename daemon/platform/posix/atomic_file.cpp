#include "daemon/platform/atomic_file.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace korvane::server {

namespace {

std::string Failure(const std::string& step, const std::string& path) {
  return step + " " + path + ": " + std::strerror(errno);
}

bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = write(fd, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    text.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::string ReplaceFileAtomically(const std::string& path, std::string_view text, Durability durability) {
  const std::string temporary = path + ".new";
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return Failure("cannot create", temporary);
  std::string problem;
  if (!WriteAll(fd, text)) {
    problem = Failure("cannot write", temporary);
  } else if (durability == Durability::ToDisk && fsync(fd) != 0) {
    problem = Failure("cannot flush", temporary);
  }
  if (close(fd) != 0 && problem.empty()) problem = Failure("cannot close", temporary);
  if (problem.empty() && rename(temporary.c_str(), path.c_str()) != 0) {
    problem = Failure("cannot rename over", path);
  }
  if (!problem.empty()) {
    unlink(temporary.c_str());
    return problem;
  }
  if (durability == Durability::WholeOnly) return problem;
  // The rename is durable only once the folder's entry is on the disk.
  const std::string folder = FolderOf(path);
  const int folderFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folderFd < 0) return Failure("cannot open", folder);
  if (fsync(folderFd) != 0) problem = Failure("cannot flush", folder);
  close(folderFd);
  return problem;
}

}  // namespace korvane::server
