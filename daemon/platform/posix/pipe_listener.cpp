#include "daemon/platform/pipe_listener.h"

#include <cerrno>
#include <cstring>
#include <system_error>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace korvane::server {

namespace {

// Clients connect, send and leave without waiting to be accepted; a long
// queue keeps a burst of one-way commands from finding the pipe busy.
constexpr int kBacklog = SOMAXCONN;

sockaddr_un SocketAddress(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);  // FindPaths checked the length
  return address;
}

}  // namespace

// The socket's folder is this user's and private (PrepareFolder).
bool ServedByAnotherUser(const std::string&) { return false; }

bool Served(const std::string& path) {
  const sockaddr_un address = SocketAddress(path);
  const int probe = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (probe < 0) return false;
  const bool served =
      connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 || errno == EAGAIN;
  close(probe);
  return served;
}

Listener Listen(const std::string& path) {
  const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::system_error(errno, std::generic_category(), "socket");
  Listener listener{fd, path, 0};
  // Inherited by every connection: each packet names its sender's user, and
  // end-of-file and an empty packet differ.
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on);
  // Under the start lock a socket file left here belongs to a daemon that
  // died.
  struct stat status {};
  if (lstat(path.c_str(), &status) == 0 && S_ISSOCK(status.st_mode)) unlink(path.c_str());
  const sockaddr_un address = SocketAddress(path);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      listen(fd, kBacklog) != 0 || stat(path.c_str(), &status) != 0) {
    const int error = errno;
    close(fd);
    throw std::system_error(error, std::generic_category(), "cannot serve " + path);
  }
  listener.inode = status.st_ino;
  return listener;
}

void StopListening(Listener& listener) {
  if (listener.fd < 0) return;
  close(static_cast<int>(listener.fd));
  listener.fd = kNoHandle;
  struct stat status {};
  if (stat(listener.path.c_str(), &status) == 0 && status.st_ino == listener.inode) unlink(listener.path.c_str());
}

bool AcceptsInConnectOrder() { return true; }

ClientAcceptor::ClientAcceptor() : spare_(open("/dev/null", O_RDONLY | O_CLOEXEC)) {}

ClientAcceptor::~ClientAcceptor() {
  if (spare_ >= 0) close(static_cast<int>(spare_));
}

ClientAcceptor::Accepted ClientAcceptor::Accept(const Listener& listener) {
  const int fd = accept4(static_cast<int>(listener.fd), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) {
    if ((errno == EMFILE || errno == ENFILE) && spare_ >= 0) {
      // Out of descriptors: take the client off the queue with the spare
      // one rather than leave the listener readable for ever.
      close(static_cast<int>(spare_));
      const int refused = accept(static_cast<int>(listener.fd), nullptr, nullptr);
      if (refused >= 0) close(refused);
      spare_ = open("/dev/null", O_RDONLY | O_CLOEXEC);
      return {Outcome::NoDescriptor};
    }
    return {Outcome::NoneWaiting};
  }
  // Its user is checked with each packet it sends (ReceivePacket).
  return {Outcome::Client, fd};
}

}  // namespace korvane::server
