// The daemon's pipe server on Windows, driven as the event loop drives it
// (readiness, a peek at the head of a request, the request, the reply) and
// called by the library's own pipe client.
#include "daemon/platform/pipe_connection.h"
#include "daemon/platform/pipe_listener.h"
#include "daemon/platform/ready_set.h"
#include "daemon/platform/windows/private_access.h"
#include "platform/call_named_pipe.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <aclapi.h>

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace korvane::server {
namespace {

constexpr std::uint64_t kListenerId = 1, kStopId = 2, kFirstClient = 16;
constexpr std::size_t kReceiveBuffer = 300 * 1024;
constexpr DWORD kClientLimitMs = 20000;

std::string UniquePipeName() {
  static int count = 0;
  return R"(\\.\pipe\korvane-pipe-server-test-)" + std::to_string(::GetCurrentProcessId()) + "-" +
         std::to_string(++count);
}

std::string Pattern(std::size_t size, std::size_t offset = 0) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i + offset) % 251);
  return bytes;
}

// A request names the reply it wants: "<size> <close?>" then padding in the
// pattern. The reply starts with the size the server received and whether
// the bytes it kept were intact, then runs the pattern to the size asked.
std::string Request(std::size_t size, std::size_t replySize, bool closeAfter = false) {
  std::string head = std::to_string(replySize) + (closeAfter ? " close " : " keep ");
  return head + Pattern(size > head.size() ? size - head.size() : 0, head.size());
}

std::string Reply(std::size_t requestSize, bool intact, std::size_t replySize) {
  std::string reply = std::to_string(requestSize) + (intact ? " intact " : " damaged ");
  return reply + Pattern(std::max(replySize, reply.size()) - reply.size());
}

// The event loop in small: serves until the stop event is set, through the
// seams as the daemon's loop uses them. A packet that does not start with a
// digit is a one-way message: kept, not answered.
class EchoServer {
 public:
  EchoServer() : name_(UniquePipeName()), stop_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    listener_ = Listen(name_);
    loop_ = std::thread([this] { Run(); });
  }
  ~EchoServer() {
    ::SetEvent(stop_);
    loop_.join();
    StopListening(listener_);
    ::CloseHandle(stop_);
  }
  const std::string& Name() const { return name_; }
  int Accepted() const { return accepted_; }
  int Ended() const { return ended_; }  // connections closed at the client's end
  std::vector<std::string> OneWay() {
    std::lock_guard lock(mutex_);
    return oneWay_;
  }

 private:
  void Run() {
    ReadySet ready;
    ready.AddOrThrow(listener_.fd, kListenerId, kReadable);
    ready.AddOrThrow(reinterpret_cast<NativeHandle>(stop_), kStopId, kReadable);
    std::vector<ReadyHandle> events(8);
    std::string problem;
    for (;;) {
      const int count = ready.Wait(events.data(), static_cast<int>(events.size()), -1, problem);
      ASSERT_GE(count, 0) << problem;
      for (int i = 0; i < count; ++i) {
        if (events[i].id == kStopId) {
          for (const auto& [id, handle] : clients_) CloseConnection(handle);
          return;
        }
        if (events[i].id == kListenerId) {
          for (ClientAcceptor::Accepted accepted; (accepted = acceptor_.Accept(listener_)).outcome !=
                                                  ClientAcceptor::Outcome::NoneWaiting;) {
            ASSERT_EQ(accepted.outcome, ClientAcceptor::Outcome::Client);
            clients_[nextId_] = accepted.handle;
            ++accepted_;
            ASSERT_TRUE(ready.Add(accepted.handle, nextId_++, kReadable));
          }
        } else {
          Serve(events[i].id);
        }
      }
    }
  }

  // Answers a request; the first reply on a connection goes out at once,
  // however large.
  void Serve(std::uint64_t id) {
    const NativeHandle handle = clients_.at(id);
    char head[16] = {};
    std::size_t size = 0, taken = 0;
    const Arrival peeked = PeekPacket(handle, head, sizeof head - 1, size);
    if (peeked == Arrival::NotYet) return;
    std::string buffer(kReceiveBuffer, '\0');
    Sending sent = Sending::Failed;
    if (peeked == Arrival::Packet && ReceivePacket(handle, buffer, taken) == Arrival::Packet) {
      EXPECT_EQ(taken, size);
      if (!std::isdigit(static_cast<unsigned char>(head[0]))) {
        std::lock_guard lock(mutex_);
        oneWay_.push_back(buffer.substr(0, taken));
        return;
      }
      const std::size_t kept = std::min(size, buffer.size()), start = buffer.find(' ', buffer.find(' ') + 1) + 1;
      const bool intact = buffer.compare(start, kept - start, Pattern(size, start), 0, kept - start) == 0;
      const std::string reply = Reply(size, intact, std::strtoull(head, nullptr, 10));
      if ((sent = SendPacket(handle, reply)) == Sending::TooLarge) {
        MakeSendRoom(handle, static_cast<int>(reply.size()));
        sent = SendPacket(handle, reply);
      }
      if (sent == Sending::Sent && buffer.find(" close ") >= start) return;
    }
    ended_ += sent != Sending::Sent;
    CloseConnection(handle);
    clients_.erase(id);
  }

  std::string name_;
  HANDLE stop_;
  Listener listener_;
  ClientAcceptor acceptor_;
  std::thread loop_;
  std::map<std::uint64_t, NativeHandle> clients_;
  std::uint64_t nextId_ = kFirstClient;
  std::atomic<int> accepted_{0};
  std::atomic<int> ended_{0};
  std::mutex mutex_;
  std::vector<std::string> oneWay_;
};

// What the library's call gets back, or "failed <error>".
std::string Call(const std::string& pipe, const std::string& request, std::size_t replyCapacity = 64 * 1024) {
  std::string reply(replyCapacity, '\0');
  DWORD read = 0;
  if (!platform::CallNamedPipeWithin(pipe.c_str(), const_cast<char*>(request.data()),
                                     static_cast<DWORD>(request.size()), reply.data(),
                                     static_cast<DWORD>(reply.size()), &read, kClientLimitMs)) {
    return "failed " + std::to_string(::GetLastError());
  }
  reply.resize(read);
  return reply;
}

TEST(WindowsPipeServer, ServesManyClientsAtOnceWithRequestsAndRepliesOfEverySize) {
  EchoServer server;
  struct Case {
    std::size_t request, reply;
    bool closeAfter;
  };
  // Requests larger than a read, than the pipe's buffer, than the
  // receiving buffer (cut there, with its real size); a reply of 1 MiB; a
  // reply the server closes the connection right after (one that fits the
  // pipe's buffer, as a stop's or a cancellation's does); and many times the
  // instances that listen at first, all at once.
  std::vector<Case> cases = {{40, 40, false}, {200 * 1024, 40, false}, {1536 * 1024, 40, false},
                             {40, 1 << 20, false}, {70 * 1024, 2000, true}};
  for (std::size_t i = 0; i < 43; ++i) cases.push_back({100 + i * 1000, 50 + i, false});
  std::vector<std::string> replies(cases.size());
  std::vector<std::thread> clients;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    clients.emplace_back([&, i] {
      const Case& c = cases[i];
      replies[i] = Call(server.Name(), Request(c.request, c.reply, c.closeAfter), c.reply + 1024);
    });
  }
  for (std::thread& client : clients) client.join();
  for (std::size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(replies[i], Reply(cases[i].request, true, cases[i].reply)) << cases[i].request << " bytes in";
  }
}

// A client of its own, opened as the library opens its channels.
HANDLE Open(const std::string& pipe) {
  HANDLE handle = ::CreateFileA(pipe.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
  if (handle != INVALID_HANDLE_VALUE) {
    DWORD mode = PIPE_READMODE_MESSAGE;
    ::SetNamedPipeHandleState(handle, &mode, nullptr, nullptr);
  }
  return handle;
}

// Writes a message; when it does not wait for the pipe to take it whole,
// the write is cancelled if it has not.
bool Write(HANDLE pipe, const std::string& message, bool wait) {
  OVERLAPPED write{};
  write.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  DWORD written = 0;
  BOOL done = ::WriteFile(pipe, message.data(), static_cast<DWORD>(message.size()), nullptr, &write);
  if (!done && ::GetLastError() == ERROR_IO_PENDING) {
    done = wait ? ::GetOverlappedResult(pipe, &write, &written, TRUE) : ::CancelIoEx(pipe, &write);
    ::GetOverlappedResult(pipe, &write, &written, TRUE);
  }
  ::CloseHandle(write.hEvent);
  return done;
}

// Waits up to ten seconds for what the loop thread does.
template <class Condition>
bool Eventually(Condition condition) {
  for (int waited = 0; waited < 1000; ++waited, ::Sleep(10)) {
    if (condition()) return true;
  }
  return false;
}

TEST(WindowsPipeServer, ClientsThatLeaveMidRequestAreClosedAndOthersServed) {
  EchoServer server;
  // Each is accepted first. One leaves without a word; one while its 200 KB
  // request is still being written (the pipe holds less); one before its
  // 1 MiB reply is read.
  for (const std::string& request : {std::string(), Request(200 * 1024, 10), Request(10, 1 << 20)}) {
    const int accepted = server.Accepted();
    HANDLE client = Open(server.Name());
    ASSERT_NE(client, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(Eventually([&] { return server.Accepted() > accepted; }));
    if (!request.empty()) Write(client, request, false);
    ::CloseHandle(client);
  }
  EXPECT_EQ(Call(server.Name(), Request(10, 20)), Reply(10, true, 20));
  // Every connection ends, the one served after them too.
  EXPECT_TRUE(Eventually([&] { return server.Ended() == 4; })) << server.Ended();
  EXPECT_EQ(server.Accepted(), 4);
}

TEST(WindowsPipeServer, MessagesSentBeforeAClientClosesArriveWholeInOrderBeforeTheEnd) {
  EchoServer server;
  // As the library's channel for one-way frames: several, then gone. An
  // empty message is not the end.
  const std::vector<std::string> sent = {"first", Pattern(100 * 1024), "", "last"};
  HANDLE pipe = Open(server.Name());
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
  for (const std::string& message : sent) EXPECT_TRUE(Write(pipe, message, true));
  ::CloseHandle(pipe);
  EXPECT_TRUE(Eventually([&] { return server.Ended() == 1; }));
  EXPECT_EQ(server.OneWay(), sent);
}

// All access (as given, which Wine keeps, or mapped to the file rights) for
// this process's user alone. (Wine keeps the list but lets every process
// through: it has one user.)
bool OnlyOwnUserMayOpen(HANDLE pipe) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetSecurityInfo(pipe, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                        &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  void* entry = nullptr;
  bool own = dacl != nullptr && dacl->AceCount == 1 && ::GetAce(dacl, 0, &entry);
  if (own) {
    auto* ace = static_cast<ACCESS_ALLOWED_ACE*>(entry);
    own = (ace->Mask == GENERIC_ALL || ace->Mask == FILE_ALL_ACCESS) && ::EqualSid(&ace->SidStart, windows::OwnUser());
  }
  ::LocalFree(descriptor);
  return own;
}

TEST(WindowsPipeServer, InstancesStopAtTheirBoundUntilAConnectionCloses) {
  _putenv_s("KORVANE_PIPE_INSTANCES", "3");
  const std::string name = UniquePipeName();
  Listener listener = Listen(name);
  _putenv_s("KORVANE_PIPE_INSTANCES", "");
  EXPECT_TRUE(Served(name));
  ReadySet ready;
  ASSERT_TRUE(ready.Add(listener.fd, kListenerId, kReadable));
  ClientAcceptor acceptor;
  std::vector<HANDLE> clients;
  for (int i = 0; i < 3; ++i) {
    clients.push_back(Open(name));
    ASSERT_NE(clients.back(), INVALID_HANDLE_VALUE) << i;
  }
  EXPECT_EQ(Open(name), INVALID_HANDLE_VALUE);
  EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_PIPE_BUSY));
  EXPECT_TRUE(OnlyOwnUserMayOpen(clients.front()));

  ReadyHandle events[4];
  std::string problem;
  ASSERT_EQ(ready.Wait(events, 4, 5000, problem), 1) << problem;
  EXPECT_EQ(events[0].id, kListenerId);
  std::vector<NativeHandle> accepted;
  for (ClientAcceptor::Accepted taken; (taken = acceptor.Accept(listener)).outcome == ClientAcceptor::Outcome::Client;) {
    accepted.push_back(taken.handle);
  }
  EXPECT_EQ(accepted.size(), 3u);
  EXPECT_EQ(ready.Wait(events, 4, 0, problem), 0);
  EXPECT_EQ(Open(name), INVALID_HANDLE_VALUE) << "past the bound with every client accepted";

  CloseConnection(accepted.front());
  ready.Wait(events, 4, 0, problem);  // the listener makes an instance in its place
  HANDLE next = Open(name);
  EXPECT_NE(next, INVALID_HANDLE_VALUE);
  ::CloseHandle(next);
  for (std::size_t i = 1; i < accepted.size(); ++i) CloseConnection(accepted[i]);
  for (HANDLE client : clients) ::CloseHandle(client);
  StopListening(listener);
  EXPECT_FALSE(Served(name));
}

TEST(WindowsPipeServer, AnEventIsReportedWhileSetAndAgainOnceSetAnew) {
  ReadySet ready;
  HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  const NativeHandle handle = reinterpret_cast<NativeHandle>(event);
  ASSERT_TRUE(ready.Add(handle, 7, kReadable));
  EXPECT_FALSE(ready.Add(handle, 8, kReadable));
  ReadyHandle events[2];
  std::string problem;
  EXPECT_EQ(ready.Wait(events, 2, 0, problem), 0);
  for (int round = 0; round < 2; ++round) {
    std::thread raiser([event] {
      ::Sleep(20);
      ::SetEvent(event);
    });
    const int count = ready.Wait(events, 2, 10000, problem);
    raiser.join();
    ASSERT_EQ(count, 1) << problem;
    EXPECT_EQ(events[0].id, 7u);
    EXPECT_EQ(events[0].events, static_cast<std::uint32_t>(kReadable));
    EXPECT_EQ(ready.Wait(events, 2, 0, problem), 1) << "reported while it stays set";
    ::ResetEvent(event);
    EXPECT_EQ(ready.Wait(events, 2, 0, problem), 0) << round;
  }
  ::SetEvent(event);
  ASSERT_TRUE(ready.Change(handle, 9, 0));
  EXPECT_EQ(ready.Wait(events, 2, 0, problem), 0) << "watched for nothing";
  ASSERT_TRUE(ready.Change(handle, 9, kReadable));
  ASSERT_EQ(ready.Wait(events, 2, 10000, problem), 1);
  EXPECT_EQ(events[0].id, 9u);
  ready.Remove(handle);
  EXPECT_EQ(ready.Wait(events, 2, 0, problem), 0);
  ::CloseHandle(event);
}

// The pipe's name is machine-wide: when another user's process holds it,
// the daemon learns so as it starts, and Listen says so instead of failing
// as any other system error. Under Wine every process is one user, so the
// other holder is a pipe of the same name whose first instance does not
// match the daemon's: all its instances taken, or another direction.
TEST(PipeTaken, ListenTellsANameHeldElsewhereFromOtherFailures) {
  const struct {
    const char* what;
    DWORD openMode;
    DWORD instances;
  } holders[] = {
      {"all-instances", PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED, 1},  // ERROR_PIPE_BUSY
      {"inbound", PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED, PIPE_UNLIMITED_INSTANCES},  // ERROR_ACCESS_DENIED
  };
  for (const auto& holder : holders) {
    SCOPED_TRACE(holder.what);
    const std::string name = UniquePipeName();
    HANDLE held = ::CreateNamedPipeA(name.c_str(), holder.openMode, PIPE_TYPE_MESSAGE, holder.instances, 4096, 4096, 0,
                                     nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(Served(name));
    EXPECT_THROW(Listen(name), PipeHeldByAnotherUser);
    ::CloseHandle(held);

    // Once it is let go the daemon serves the name, and finds it its own.
    Listener listener = Listen(name);
    EXPECT_TRUE(Served(name));
    EXPECT_FALSE(ServedByAnotherUser(name));
    StopListening(listener);
  }
  EXPECT_FALSE(ServedByAnotherUser(UniquePipeName()));
}

}  // namespace
}  // namespace korvane::server
