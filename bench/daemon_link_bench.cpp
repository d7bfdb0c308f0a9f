// One daemon link's whole exchange (connect, transact, close) beside the
// floor of the transport itself: connect, send, receive and close on a bare
// socket of the same type, against the same minimal server.
#include "daemon/daemon_link.h"
#include "platform/posix/pipe_path.h"

#include "support/runtime_folder.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

using korvane::daemon::CDaemonLink;
using korvane::daemon::Command;
using korvane::daemon::TimeLimitClass;

constexpr char kReply[] = "1|C:/Work|C:/Work|C:/Work/Notes";

sockaddr_un PipeAddress() {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::string path = *korvane::posix::PipeSocketPath(korvane::daemon::kPipeName);
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

void BM_LinkExchange(benchmark::State& state) {
  korvane::testing::ScopedRuntimeFolder folder;
  EchoServer server;
  for (auto _ : state) {
    CDaemonLink link(nullptr);
    auto exchange = link.TransactCommand(Command::GetActivations, std::nullopt, TimeLimitClass::LocalCall);
    benchmark::DoNotOptimize(exchange.reply.data());
    if (exchange.reply != kReply) state.SkipWithError("wrong reply");
  }
}
BENCHMARK(BM_LinkExchange)->UseRealTime();

void BM_SocketFloor(benchmark::State& state) {
  korvane::testing::ScopedRuntimeFolder folder;
  EchoServer server;
  const char frame[8] = {8, 0, 0, 0, 6, 0, 0, 0};
  char reply[256];
  for (auto _ : state) {
    int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    connect(fd, reinterpret_cast<const sockaddr*>(&server.Address()), sizeof(sockaddr_un));
    send(fd, frame, sizeof frame, MSG_NOSIGNAL);
    ssize_t got = recv(fd, reply, sizeof reply, 0);
    benchmark::DoNotOptimize(got);
    close(fd);
  }
}
BENCHMARK(BM_SocketFloor)->UseRealTime();

}  // namespace
