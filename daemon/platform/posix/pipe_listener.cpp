#include "daemon/platform/pipe_listener.h"

#include <cerrno>
#include <cstring>
#include <system_error>

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
  Listener listener{socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0), path, 0};
  if (listener.fd < 0) throw std::system_error(errno, std::generic_category(), "socket");
  // Inherited by every connection: end-of-file and an empty packet differ.
  const int on = 1;
  setsockopt(listener.fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on);
  // Under the start lock a socket file left here belongs to a daemon that
  // died.
  struct stat status {};
  if (lstat(path.c_str(), &status) == 0 && S_ISSOCK(status.st_mode)) unlink(path.c_str());
  const sockaddr_un address = SocketAddress(path);
  if (bind(listener.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener.fd, kBacklog) != 0 || stat(path.c_str(), &status) != 0) {
    const int error = errno;
    close(listener.fd);
    throw std::system_error(error, std::generic_category(), "cannot serve " + path);
  }
  listener.inode = status.st_ino;
  return listener;
}

}  // namespace korvane::server
