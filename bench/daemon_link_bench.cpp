// One exported call of the shipped library, from the call to the text it
// hands out, beside two floors of the transport itself against the same
// minimal server, in the same run: the bare one (connect, send the same
// frame, receive and close on a socket of the same type) and the checked
// one, which does only what a correct call must besides: it reads the
// server's user once with SO_PEERCRED and waits for the reply for a bounded
// time. Run with --benchmark_repetitions and
// --benchmark_enable_random_interleaving to compare them.
#include "korvane/korvane.h"
#include "platform/posix/pipe_path.h"
#include "protocol/commands.h"
#include "protocol/frame.h"

#include "support/runtime_folder.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr char kReply[] = "The working copy is locked.";
constexpr char kErrorKey[] = "E155004";

sockaddr_un PipeAddress() {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::string path = *korvane::posix::PipeSocketPath(korvane::protocol::kPipeName);
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return address;
}

// Answers every packet with the same reply, one connection after another:
// the clients here are sequential, so this is the cheapest honest server.
class EchoServer {
 public:
  EchoServer() : address_(PipeAddress()) {
    listener_ = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    unlink(address_.sun_path);
    bind(listener_, reinterpret_cast<sockaddr*>(&address_), sizeof address_);
    listen(listener_, 64);
    thread_ = std::thread([this] { Serve(); });
  }
  ~EchoServer() {
    stopping_ = true;
    shutdown(listener_, SHUT_RDWR);
    thread_.join();
    close(listener_);
    unlink(address_.sun_path);
  }
  const sockaddr_un& Address() const { return address_; }

 private:
  void Serve() {
    char buffer[4096];
    while (!stopping_) {
      int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (connection < 0) continue;
      while (recv(connection, buffer, sizeof buffer, 0) > 0) send(connection, kReply, sizeof kReply - 1, MSG_NOSIGNAL);
      close(connection);
    }
  }

  sockaddr_un address_;
  int listener_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

void BM_ExportedCall(benchmark::State& state) {
  korvane::testing::ScopedRuntimeFolder folder;
  EchoServer server;
  for (auto _ : state) {
    char* text = nullptr;
    if (Korvane_GetErrorText(kErrorKey, &text) != 1 || text == nullptr || std::strcmp(text, kReply) != 0) {
      state.SkipWithError("wrong reply");
    }
    std::free(text);
  }
}
BENCHMARK(BM_ExportedCall)->UseRealTime();

void BM_SocketFloor(benchmark::State& state) {
  korvane::testing::ScopedRuntimeFolder folder;
  EchoServer server;
  const std::string frame = *korvane::protocol::BuildRequestFrame(korvane::protocol::Command::GetErrorText, kErrorKey);
  char reply[256];
  for (auto _ : state) {
    int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    connect(fd, reinterpret_cast<const sockaddr*>(&server.Address()), sizeof(sockaddr_un));
    send(fd, frame.data(), frame.size(), MSG_NOSIGNAL);
    ssize_t got = recv(fd, reply, sizeof reply, 0);
    benchmark::DoNotOptimize(got);
    close(fd);
  }
}
BENCHMARK(BM_SocketFloor)->UseRealTime();

void BM_CheckedFloor(benchmark::State& state) {
  korvane::testing::ScopedRuntimeFolder folder;
  EchoServer server;
  const std::string frame = *korvane::protocol::BuildRequestFrame(korvane::protocol::Command::GetErrorText, kErrorKey);
  const uid_t self = geteuid();
  char reply[256];
  for (auto _ : state) {
    int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    connect(fd, reinterpret_cast<const sockaddr*>(&server.Address()), sizeof(sockaddr_un));
    ucred peer{};
    socklen_t length = sizeof peer;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || (peer.uid != self && peer.uid != 0)) {
      state.SkipWithError("the server's user is not trusted");
    }
    send(fd, frame.data(), frame.size(), MSG_NOSIGNAL);
    pollfd entry{fd, POLLIN, 0};
    poll(&entry, 1, 5000);
    ssize_t got = recv(fd, reply, sizeof reply, 0);
    benchmark::DoNotOptimize(got);
    close(fd);
  }
}
BENCHMARK(BM_CheckedFloor)->UseRealTime();

}  // namespace
