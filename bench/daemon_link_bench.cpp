// One exported call of the shipped library, from the call to the text it
// hands out, beside the floor of the transport itself: connect, send the same
// frame, receive and close on a bare socket of the same type, against the
// same minimal server, in the same run.
#include "korvane/korvane.h"
#include "platform/posix/pipe_path.h"
#include "protocol/commands.h"
#include "protocol/frame.h"

#include "support/runtime_folder.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
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

}  // namespace
