#include "daemon_place.h"

#include "korvane/korvane.h"
#include "platform/posix/pipe_path.h"
#include "platform/posix/user_folders.h"
#include "daemon/store/service_config.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include <cerrno>
#include <cstring>

#include <sys/socket.h>
#include <sys/un.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace korvane::cli {

namespace {

constexpr char kPipeName[] = "DalvDaemonCommand";

std::string RuntimeFolder() { return posix::PipeFolder(); }

}  // namespace

std::string SocketPath() { return RuntimeFolder() + "/" + kPipeName; }

std::string StateFolder() { return posix::ProductFolder(posix::UserFolder::State).value_or(""); }

bool KnowsFolders() {
  return posix::ProductFolder(posix::UserFolder::State) && posix::ProductFolder(posix::UserFolder::Config);
}

bool Serves() {
  char* list = nullptr;
  const bool answered = Korvane_GetActivations(&list) == 1;
  std::free(list);
  return answered;
}

bool HoldsStartLock() {
  struct stat lock {};
  if (stat((RuntimeFolder() + "/." + kPipeName + ".lock").c_str(), &lock) != 0) return false;
  // Lines such as "1: FLOCK  ADVISORY  WRITE 4711 fd:01:1234567 0 EOF".
  std::ifstream locks("/proc/locks");
  for (std::string line; std::getline(locks, line);) {
    std::istringstream words(line);
    std::string number, kind, advisory, access, pid, file;
    words >> number >> kind;
    if (kind == "->") words >> kind;  // a waiter's line
    words >> advisory >> access >> pid >> file;
    if (kind != "FLOCK") continue;
    // The device's numbers may be printed with leading zeros.
    unsigned major_ = 0, minor_ = 0;
    unsigned long inode = 0;
    if (std::sscanf(file.c_str(), "%x:%x:%lu", &major_, &minor_, &inode) == 3 && major_ == major(lock.st_dev) &&
        minor_ == minor(lock.st_dev) && inode == lock.st_ino) {
      return true;
    }
  }
  return false;
}

std::string NotRunningMessage() {
  return "No Korvane daemon answers at " + SocketPath() + "; see its log, " + LogPath() + ".";
}

std::string LogPath() { return StateFolder() + "/daemon.log"; }

std::string ConfigFile() { return server::ServiceConfigFile(); }

bool WaitUntil(double seconds, const std::function<bool()>& condition) {
  constexpr auto kPoll = std::chrono::milliseconds(20);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(kPoll);
  }
}

// Whether something listens at the socket, without a request: a daemon
// busy with a long reply, or one whose listen queue is full, listens still.
bool Listens() {
  const std::string path = SocketPath();
  sockaddr_un address{};
  if (path.size() >= sizeof address.sun_path) return false;
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int probe = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (probe < 0) return false;
  const bool listens =
      connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 || errno == EAGAIN;
  close(probe);
  return listens;
}

Started StartDaemonIfNeeded(double seconds) {
  if (Listens()) return Started::Already;
  if (Korvane_StartDaemon() != 1) return Started::Failed;
  return WaitUntil(seconds, Listens) ? Started::Now : Started::NotServing;
}

}  // namespace korvane::cli
