#include "daemon/platform/daemon_paths.h"

#include "protocol/commands.h"
#include "platform/posix/pipe_path.h"
#include "platform/posix/user_folders.h"

#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace korvane::server {

std::optional<DaemonPaths> FindPaths(std::string& problem) {
  DaemonPaths paths;
  paths.runtimeFolder = posix::PipeFolder();
  std::optional<std::string> socket = posix::PipeSocketPath(protocol::kPipeName);
  if (!socket || socket->size() >= sizeof(sockaddr_un::sun_path)) {
    problem = "the socket path in " + paths.runtimeFolder + " is too long";
    return std::nullopt;
  }
  paths.socketPath = *socket;
  const auto folder = [&](posix::UserFolder which, std::string& into) {
    std::optional<std::string> found = posix::ProductFolder(which);
    if (!found) problem = std::string("neither ") + posix::VariableOf(which) + " nor a home folder is known";
    into = found.value_or("");
    return found.has_value();
  };
  if (!folder(posix::UserFolder::State, paths.stateFolder) || !folder(posix::UserFolder::Data, paths.dataFolder) ||
      !folder(posix::UserFolder::Config, paths.configFolder)) {
    return std::nullopt;
  }
  return paths;
}

std::optional<std::string> FindConfigFolder() { return posix::ProductFolder(posix::UserFolder::Config); }

bool PrepareFolder(const std::string& path, bool makePrivate, std::string& problem) {
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    mkdir(path.substr(0, slash).c_str(), 0700);
  }
  if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    problem = "cannot create " + path + ": " + std::strerror(errno);
    return false;
  }
  struct stat status {};
  if (lstat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
    problem = path + " is not a folder";
    return false;
  }
  if (status.st_uid != geteuid()) {
    problem = path + " belongs to another user";
    return false;
  }
  if (makePrivate && (status.st_mode & 077) != 0 && chmod(path.c_str(), status.st_mode & 0700) != 0) {
    problem = "cannot make " + path + " private: " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace korvane::server
