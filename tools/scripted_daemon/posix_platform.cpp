// The scripted daemon's platform on POSIX: the pipe is a socket in the
// runtime folder, the start lock a lock file beside it, and the stop a
// signal that only the main thread takes.
#include "scripted_platform.h"

#include "platform/posix/pipe_path.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace korvane::test_daemon {
namespace {

// Whether a live server answers at the socket; a full listen queue counts.
bool Served(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof(address.sun_path)) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int probe = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (probe < 0) return false;
  const bool served = connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0 ||
                      errno == EAGAIN;
  close(probe);
  return served;
}

// The lock file .NAME.lock beside the socket, held for the daemon's life
// (binding removes a stale socket first, which would otherwise let the later
// of two daemons take the path from the earlier). The file stays: removing
// it would let a third daemon lock a new file while the first still runs.
bool TakeStartLock(const std::string& socketPath) {
  const std::size_t slash = socketPath.rfind('/') + 1;
  const std::string lockPath = socketPath.substr(0, slash) + "." + socketPath.substr(slash) + ".lock";
  const int fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return true;  // no lock to be had; binding tells whether the folder is usable
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;  // fd stays open until exit
  close(fd);
  return false;
}

sigset_t StopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGUSR1}) sigaddset(&signals, signal);
  return signals;
}

}  // namespace

std::uint32_t CurrentProcessId() { return static_cast<std::uint32_t>(getpid()); }

std::optional<std::filesystem::path> PathFromEnvironment(const char* variable) {
  const char* value = std::getenv(variable);
  if (value == nullptr || *value == '\0') return std::nullopt;
  return std::filesystem::path(value);
}

LogFile::LogFile(const std::optional<std::filesystem::path>& path)
    : handle_(path ? open(path->c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600) : -1) {}

LogFile::~LogFile() {
  if (handle_ >= 0) close(static_cast<int>(handle_));
}

void LogFile::Append(const std::string& line) const {
  if (handle_ < 0) return;
  [[maybe_unused]] ssize_t written = write(static_cast<int>(handle_), line.data(), line.size());
}

bool ClaimPipe(const std::string& pipeName) {
  const std::optional<std::string> socketPath = posix::PipeSocketPath(pipeName);
  if (!socketPath) return true;  // serving it fails, with the reason
  const std::string folder = posix::PipeFolder();
  mkdir(folder.c_str(), 0700);
  return !Served(*socketPath) && TakeStartLock(*socketPath);
}

// Every thread inherits the blocked set, so these signals reach only the
// sigwait in Wait(), and a connection thread can stop the daemon with
// SIGUSR1.
StopSignal::StopSignal() {
  const sigset_t signals = StopSignals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

StopSignal::~StopSignal() = default;

void StopSignal::Raise() const { kill(getpid(), SIGUSR1); }

void StopSignal::Wait() const {
  const sigset_t signals = StopSignals();
  int signal = 0;
  sigwait(&signals, &signal);
}

}  // namespace korvane::test_daemon
