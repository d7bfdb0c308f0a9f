// The POSIX named-pipe client calls keep the Windows contracts that the
// daemon link relies on.
#include "platform/posix/pipe_path.h"
#include "platform/posix/user_folders.h"
#include "platform/windows_api.h"

#include "support/runtime_folder.h"
#include "support/test_server.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <functional>
#include <thread>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using korvane::testing::Answer;

constexpr char kPipe[] = R"(\\.\pipe\DalvDaemonCommand)";

// A bare listening socket at the pipe's path, for servers that the test
// server cannot play; -1 when it cannot listen.
int ListenAtThePipe() {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", korvane::posix::PipeSocketPath(kPipe)->c_str());
  const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || listen(fd, 4) != 0) return -1;
  return fd;
}

TEST(PipePath, MapsPipeNamesIntoTheRuntimeFolder) {
  korvane::testing::ScopedRuntimeFolder folder;
  const std::string base = korvane::posix::PipeFolder();
  const struct {
    const char* name;
    std::optional<std::string> path;
  } cases[] = {
      {R"(\\.\pipe\DalvDaemonCommand)", base + "/DalvDaemonCommand"},
      {R"(\\.\PIPE\Other)", base + "/Other"},
      {R"(\\.\pipe\)", std::nullopt},
      {R"(\\.\pipe\..)", std::nullopt},
      {R"(\\.\pipe\a/../../etc)", std::nullopt},
      {R"(C:\file.txt)", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(korvane::posix::PipeSocketPath(c.name), c.path);
  }
}

// One rule for every folder of the product: an absolute XDG value, else
// $HOME when absolute, else the account's home, else none.
TEST(UserFolders, FallBackFromTheVariableToHomeToTheAccount) {
  using korvane::posix::UserFolder;
  const struct {
    UserFolder folder;
    const char *variable, *home, *account;
    std::optional<std::string> expected;
  } cases[] = {
      {UserFolder::State, "/x/state", "/h", "/a", "/x/state/korvane"},
      {UserFolder::State, "", "/h", "/a", "/h/.local/state/korvane"},
      {UserFolder::Data, "rel/data", "/h", "/a", "/h/.local/share/korvane"},
      {UserFolder::Config, nullptr, nullptr, "/a", "/a/.config/korvane"},
      {UserFolder::Config, nullptr, "", "/a", "/a/.config/korvane"},
      {UserFolder::Config, nullptr, "home", nullptr, std::nullopt},
      {UserFolder::Runtime, "/run/user/7", nullptr, nullptr, "/run/user/7"},
      {UserFolder::Runtime, "run", "/h", "/a", "/tmp/korvane-7"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(korvane::posix::ProductFolderFrom(c.folder, c.variable, c.home, c.account, 7), c.expected)
        << korvane::posix::VariableOf(c.folder) << "=" << (c.variable ? c.variable : "(unset)")
        << " HOME=" << (c.home ? c.home : "(unset)");
  }
}

class PipeClient : public ::testing::Test {
 protected:
  HANDLE Open() {
    HANDLE pipe = CreateFileA(kPipe, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                              nullptr);
    opened_.push_back(pipe);
    return pipe;
  }
  ~PipeClient() override {
    for (HANDLE handle : opened_) {
      if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
    CloseHandle(event_);
  }

  // Starts the overlapped transaction of the request 6 into a one-byte
  // buffer, signalling event_.
  BOOL Transact(HANDLE pipe, OVERLAPPED& overlapped, char& first, DWORD& read) {
    overlapped = {};
    overlapped.hEvent = event_;
    char frame[] = {8, 0, 0, 0, 6, 0, 0, 0};
    return TransactNamedPipe(pipe, frame, sizeof frame, &first, 1, &read, &overlapped);
  }

  // The reply to one transaction, read as the link reads it: one longer than
  // the one-byte buffer is ERROR_MORE_DATA, its rest told by PeekNamedPipe
  // and read whole. Nothing when the server closed (ERROR_BROKEN_PIPE).
  std::optional<std::string> Call(HANDLE pipe, const std::function<void()>& beforeTheWait = [] {}) {
    OVERLAPPED overlapped;
    char first = 0;
    DWORD read = 99;
    EXPECT_FALSE(Transact(pipe, overlapped, first, read));
    EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
    beforeTheWait();
    EXPECT_EQ(WaitForSingleObject(event_, 5000), WAIT_OBJECT_0);
    if (GetOverlappedResult(pipe, &overlapped, &read, FALSE)) return std::string(&first, read);
    if (GetLastError() == ERROR_BROKEN_PIPE && read == 0) return std::nullopt;
    EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
    DWORD available = 0, left = 0;
    EXPECT_TRUE(PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, &left));
    std::string rest(available, '\0');
    EXPECT_TRUE(ReadFile(pipe, rest.data(), available, &read, nullptr));
    EXPECT_EQ(left, read);
    return first + rest.substr(0, read);
  }

  korvane::testing::ScopedRuntimeFolder folder_;
  std::vector<HANDLE> opened_;
  HANDLE event_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
};

TEST_F(PipeClient, MissingPipesAndBadHandlesAreRefused) {
  EXPECT_EQ(Open(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(WaitNamedPipeA(kPipe, 50));
  DWORD read = 0;
  EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(ReadFile(nullptr, nullptr, 0, &read, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(PeekNamedPipe(event_, nullptr, 0, nullptr, nullptr, nullptr));  // an event is not a pipe
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(PipeClient, FullListenQueueIsPipeBusy) {
  korvane::testing::TestServer daemon("DalvDaemonCommand", 0);
  daemon.PauseAccepting();
  HANDLE pipe = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 16; ++attempt) {
    pipe = Open();
    if (pipe == INVALID_HANDLE_VALUE) break;
  }
  EXPECT_EQ(pipe, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PIPE_BUSY);
}

// Small replies are taken with one receive and left queued until the next
// receive: every reply on one handle must still arrive whole and in order,
// whatever its size around the handle's buffer. An empty reply succeeds with
// nothing read; the server's close is ERROR_BROKEN_PIPE.
TEST_F(PipeClient, RepliesOfEverySizeFollowEachOtherWholeOnOneHandle) {
  const std::size_t sizes[] = {5, 16 * 1024 - 1, 16 * 1024, 16 * 1024 + 1, 0, 1, 200 * 1024, 3};
  korvane::testing::TestServer daemon;
  for (std::size_t i = 0; i < std::size(sizes); ++i) {
    daemon.Next(Answer::Reply(std::string(sizes[i], static_cast<char>('a' + i)), 5ms));
  }
  daemon.Next(Answer::CloseWithoutReply(5ms));
  HANDLE pipe = Open();
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
  for (std::size_t i = 0; i < std::size(sizes); ++i) {
    EXPECT_EQ(Call(pipe), std::string(sizes[i], static_cast<char>('a' + i))) << sizes[i];
  }
  EXPECT_EQ(Call(pipe), std::nullopt);
}

// An empty reply is an empty message, not the server's close, also when the
// server closes at once after it: the client must then ask the packet for
// credentials to tell. (An empty reply from a server that stays is a row of
// the test above.)
TEST_F(PipeClient, AnEmptyReplyIsAMessageWhenTheServerClosesAfterIt) {
  const int listener = ListenAtThePipe();
  ASSERT_GE(listener, 0);
  std::thread server([&] {
    const int served = accept(listener, nullptr, nullptr);
    char request[64];
    if (served >= 0 && recv(served, request, sizeof request, 0) > 0) send(served, "", 0, MSG_NOSIGNAL);
    close(served);
  });
  HANDLE pipe = Open();
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
  EXPECT_EQ(Call(pipe, [&] { server.join(); }), "");
  close(listener);
}

TEST_F(PipeClient, WaitWithoutReplyTimesOutAndLeavesTheTransactionPending) {
  korvane::testing::TestServer daemon;
  daemon.On(6, Answer::Never());
  HANDLE pipe = Open();
  OVERLAPPED overlapped;
  char first = 0;
  DWORD read = 0;
  EXPECT_FALSE(Transact(pipe, overlapped, first, read));
  EXPECT_EQ(WaitForSingleObject(event_, 30), WAIT_TIMEOUT);
  EXPECT_FALSE(GetOverlappedResult(pipe, &overlapped, &read, FALSE));
  EXPECT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);
  // Closing the pipe first, then the event, as the link does, is safe.
  CloseHandle(pipe);
  opened_.clear();
  EXPECT_EQ(WaitForSingleObject(event_, 0), WAIT_TIMEOUT);
}

// A server run by another user is refused, whatever it would answer: the
// library must not hand this user's requests to it.
TEST_F(PipeClient, ServerOfAnotherUserIsRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run a server as another user";
  ::chmod(korvane::posix::PipeFolder().c_str(), 0777);
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  pid_t server = ::fork();
  ASSERT_GE(server, 0);
  if (server == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
    if (ListenAtThePipe() < 0) ::_exit(3);
    char byte = 1;
    (void)!::write(ready[1], &byte, 1);
    ::pause();
    ::_exit(0);
  }
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  EXPECT_EQ(Open(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  ::kill(server, SIGKILL);
  ::waitpid(server, nullptr, 0);
  ::close(ready[0]);
  ::close(ready[1]);
}

}  // namespace
