// The test server over AF_UNIX SOCK_SEQPACKET sockets: an accept
// loop and one thread per connection, all woken at once by a stop eventfd so
// that no delay, wait or blocked send can hold up the destructor.
#include "support/test_server.h"

#include "support/test_server_state.h"

#include "platform/posix/pipe_path.h"
#include "platform/posix/seqpacket.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>
#include <utility>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace korvane::testing {
namespace {

// Large replies must go out as one packet, and a packet may not exceed the
// sender's buffer; the kernel caps the request at twice net.core.wmem_max.
constexpr int kSendBuffer = 8 << 20;

[[noreturn]] void ThrowErrno(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  ~Fd() { Reset(); }
  int get() const { return fd_; }
  void Reset(int fd = -1) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

sockaddr_un SocketAddress(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof(address.sun_path)) {
    throw std::invalid_argument("socket path too long: " + path);
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return address;
}

std::string SocketPathFor(const std::string& pipeName) {
  std::optional<std::string> path = posix::PipeSocketPath(FullPipeName(pipeName));
  if (!path) throw std::invalid_argument("not a pipe name: " + pipeName);
  return *path;
}

using Kind = posix::PacketArrival::Kind;

// Takes the next packet whole, without waiting. SO_PASSCRED is set on the
// listener and inherited, so an empty packet is told from end-of-file; a
// failure ends the connection as end-of-file does.
Kind ReceivePacket(int fd, std::string& packet) {
  const Kind kind = posix::ReceiveWholePacket(fd, packet).kind;
  return kind == Kind::Failed ? Kind::EndOfFile : kind;
}

enum class Woken { kReady, kStopped, kTimedOut, kFailed };

// Waits for the events on fd (0: only for a hang-up), for the stop eventfd
// (-1: none) or for the limit (-1: none), whichever comes first.
Woken WaitFor(int stop, int fd, short events, int limitMs = -1) {
  pollfd fds[] = {{stop, POLLIN, 0}, {fd, events, 0}};
  for (;;) {
    const int ready = poll(fds, 2, limitMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return Woken::kFailed;
    if (fds[0].revents != 0) return Woken::kStopped;
    return ready == 0 ? Woken::kTimedOut : Woken::kReady;
  }
}

// A connection's socket. Every wait ends early once the stop eventfd is
// written.
class SocketConnection final : public DaemonConnection {
 public:
  SocketConnection(Fd socket, int stop) : socket_(std::move(socket)), stop_(stop) {}

  Received Receive(std::string& frame) override {
    while (WaitFor(stop_, socket_.get(), POLLIN) == Woken::kReady) {
      const Kind kind = ReceivePacket(socket_.get(), frame);
      if (kind != Kind::NotYet) return kind == Kind::Packet ? Received::kFrame : Received::kEnd;
    }
    return Received::kStopped;
  }

  Sent Send(const std::string& bytes) override {
    for (;;) {
      if (send(socket_.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT) >= 0) return Sent::kSent;
      if (errno == EINTR) continue;
      if (errno != EAGAIN) return Sent::kFailed;
      const Woken woken = WaitFor(stop_, socket_.get(), POLLOUT);
      if (woken == Woken::kStopped) return Sent::kStopped;
      if (woken == Woken::kFailed) return Sent::kFailed;
    }
  }

  // Asking for no events leaves further packets queued; POLLHUP is reported
  // anyway.
  bool WaitForHangUp() override { return WaitFor(stop_, socket_.get(), 0) == Woken::kReady; }

  bool Sleep(std::chrono::milliseconds delay) override {
    return WaitFor(stop_, -1, 0, static_cast<int>(delay.count())) == Woken::kStopped;
  }

  void Close() override { socket_.Reset(); }

 private:
  Fd socket_;
  int stop_;
};

}  // namespace

struct TestServer::State : ServerScript {
  explicit State(TestServerOptions options);

  void AcceptLoop();
  void AcceptOne();

  std::string socketPath;
  ino_t socketInode = 0;
  Fd listener;
  Fd stop;  // written once by the destructor, never read: readable for good
};

TestServer::State::State(TestServerOptions options)
    : ServerScript(options), socketPath(SocketPathFor(options.pipeName)) {
  const std::string folder = posix::PipeFolder();
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) ThrowErrno("mkdir " + folder);
  const sockaddr_un address = SocketAddress(socketPath);
  listener.Reset(socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (listener.get() < 0) ThrowErrno("socket");
  const int on = 1;
  if (setsockopt(listener.get(), SOL_SOCKET, SO_PASSCRED, &on, sizeof(on)) != 0) {
    ThrowErrno("SO_PASSCRED");
  }
  struct stat status {};
  if (lstat(socketPath.c_str(), &status) == 0 && S_ISSOCK(status.st_mode)) {
    unlink(socketPath.c_str());
  }
  if (bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    ThrowErrno("bind " + socketPath);
  }
  if (listen(listener.get(), options.backlog) != 0) ThrowErrno("listen");
  if (stat(socketPath.c_str(), &status) == 0) socketInode = status.st_ino;
  stop.Reset(eventfd(0, EFD_CLOEXEC));
  if (stop.get() < 0) ThrowErrno("eventfd");
}

void TestServer::State::AcceptLoop() {
  while (WaitFor(stop.get(), Accepting() ? listener.get() : -1, POLLIN) == Woken::kReady) AcceptOne();
}

void TestServer::State::AcceptOne() {
  // Accepting under the lock is what makes PauseAccepting() take effect at
  // once.
  std::lock_guard lock(mutex);
  if (paused) return;
  Fd socket(accept4(listener.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
  if (socket.get() < 0) return;  // the client gave up while queued
  setsockopt(socket.get(), SOL_SOCKET, SO_SNDBUF, &kSendBuffer, sizeof(kSendBuffer));
  StartServing(std::make_unique<SocketConnection>(std::move(socket), stop.get()));
}

TestServer::TestServer(TestServerOptions options) : state_(std::make_unique<State>(std::move(options))) {
  state_->acceptor = std::thread(&State::AcceptLoop, state_.get());
}

TestServer::~TestServer() {
  const std::uint64_t one = 1;
  [[maybe_unused]] ssize_t written = write(state_->stop.get(), &one, sizeof(one));
  state_->JoinThreads();
  // Another server may have taken over the path since; leave its socket be.
  struct stat status {};
  if (stat(state_->socketPath.c_str(), &status) == 0 && status.st_ino == state_->socketInode) {
    unlink(state_->socketPath.c_str());
  }
}

ServerScript& TestServer::Script() const { return *state_; }

const std::string& TestServer::SocketPath() const { return state_->socketPath; }

RawClient::RawClient(const std::string& socketPath) {
  const sockaddr_un address = SocketAddress(socketPath);
  const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd < 0) ThrowErrno("socket");
  handle_ = fd;
  const int on = 1;
  if (setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof(on)) != 0 ||
      connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    const int error = errno;
    Close();
    throw std::system_error(error, std::generic_category(), "connect " + socketPath);
  }
}

bool RawClient::Send(std::string_view bytes) {
  return send(static_cast<int>(handle_), bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
         static_cast<ssize_t>(bytes.size());
}

std::optional<std::string> RawClient::Receive(std::chrono::milliseconds limit) {
  const int fd = static_cast<int>(handle_);
  if (WaitFor(-1, fd, POLLIN, static_cast<int>(limit.count())) == Woken::kTimedOut) {
    throw std::runtime_error("no packet and no end-of-file within the limit");
  }
  std::string packet;
  Kind kind = Kind::NotYet;
  while ((kind = ReceivePacket(fd, packet)) == Kind::NotYet) {
  }
  return kind == Kind::Packet ? std::optional(std::move(packet)) : std::nullopt;
}

void RawClient::Close() {
  if (handle_ >= 0) close(static_cast<int>(handle_));
  handle_ = -1;
}

}  // namespace korvane::testing
