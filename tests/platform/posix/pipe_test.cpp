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
#include <cstring>
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

struct PathCase {
  const char* name;
  std::optional<std::string> path;
};

TEST(PipePath, MapsPipeNamesIntoTheRuntimeFolder) {
  korvane::testing::ScopedRuntimeFolder folder;
  const std::string base = korvane::posix::PipeFolder();
  const PathCase cases[] = {
      {R"(\\.\pipe\DalvDaemonCommand)", base + "/DalvDaemonCommand"},
      {R"(\\.\PIPE\Other)", base + "/Other"},
      {R"(\\.\pipe\)", std::nullopt},
      {R"(\\.\pipe\..)", std::nullopt},
      {R"(\\.\pipe\a/../../etc)", std::nullopt},
      {R"(C:\file.txt)", std::nullopt},
      {"", std::nullopt},
  };
  for (const PathCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(korvane::posix::PipeSocketPath(c.name), c.path);
  }
}

// One rule for every folder of the product: an absolute XDG value, else
// $HOME when absolute, else the account's home, else none.
TEST(UserFolders, FallBackFromTheVariableToHomeToTheAccount) {
  using korvane::posix::UserFolder;
  struct Case {
    UserFolder folder;
    const char *variable, *home, *account;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {UserFolder::State, "/x/state", "/h", "/a", "/x/state/korvane"},
      {UserFolder::State, "", "/h", "/a", "/h/.local/state/korvane"},
      {UserFolder::Data, "rel/data", "/h", "/a", "/h/.local/share/korvane"},
      {UserFolder::Config, nullptr, nullptr, "/a", "/a/.config/korvane"},
      {UserFolder::Config, nullptr, "", "/a", "/a/.config/korvane"},
      {UserFolder::Config, nullptr, "home", nullptr, std::nullopt},
      {UserFolder::Runtime, "/run/user/7", nullptr, nullptr, "/run/user/7"},
      {UserFolder::Runtime, "run", "/h", "/a", "/tmp/korvane-7"},
  };
  for (const Case& c : cases) {
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

  korvane::testing::ScopedRuntimeFolder folder_;
  std::vector<HANDLE> opened_;
  HANDLE event_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
};

TEST_F(PipeClient, OpeningAMissingPipeIsFileNotFound) {
  EXPECT_EQ(Open(), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(WaitNamedPipeA(kPipe, 50));
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

// A reply longer than the one-byte buffer is ERROR_MORE_DATA, its rest told
// by PeekNamedPipe and read whole, as the link reads it. Small replies are
// taken with one receive and left queued until the next receive: every reply
// on one handle must still arrive whole and in order, whatever its size
// around the handle's buffer. An empty reply succeeds with nothing read; the
// server's close is ERROR_BROKEN_PIPE.
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
    SCOPED_TRACE(sizes[i]);
    OVERLAPPED overlapped;
    char first = 0;
    DWORD read = 99;
    ASSERT_FALSE(Transact(pipe, overlapped, first, read));
    ASSERT_EQ(GetLastError(), ERROR_IO_PENDING);
    ASSERT_EQ(WaitForSingleObject(event_, 5000), WAIT_OBJECT_0);
    std::string reply;
    if (GetOverlappedResult(pipe, &overlapped, &read, FALSE)) {
      reply.assign(&first, read);
    } else {
      ASSERT_EQ(GetLastError(), ERROR_MORE_DATA);
      DWORD available = 0, left = 0;
      ASSERT_TRUE(PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, &left));
      EXPECT_EQ(left, sizes[i] - 1);
      std::string rest(available, '\0');
      ASSERT_TRUE(ReadFile(pipe, rest.data(), available, &read, nullptr));
      reply = first + rest.substr(0, read);
    }
    EXPECT_EQ(reply, std::string(sizes[i], static_cast<char>('a' + i)));
  }
  OVERLAPPED overlapped;
  char first = 0;
  DWORD read = 99;
  ASSERT_FALSE(Transact(pipe, overlapped, first, read));
  ASSERT_EQ(WaitForSingleObject(event_, 5000), WAIT_OBJECT_0);
  EXPECT_FALSE(GetOverlappedResult(pipe, &overlapped, &read, FALSE));
  EXPECT_EQ(GetLastError(), ERROR_BROKEN_PIPE);
  EXPECT_EQ(read, 0u);
}

// An empty reply is an empty message, not the server's close: whether the
// server stays (the client sees the packet queued) or closes at once after
// it (the client must ask the packet for credentials to tell).
TEST_F(PipeClient, AnEmptyReplyIsAMessageWhetherTheServerStaysOrCloses) {
  for (const bool closes : {false, true}) {
    SCOPED_TRACE(closes ? "the server closes after it" : "the server stays");
    const std::string path = *korvane::posix::PipeSocketPath(kPipe);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int listener = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    ASSERT_EQ(bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    int served = -1;
    std::thread server([&] {
      served = accept(listener, nullptr, nullptr);
      char request[64];
      if (served >= 0 && recv(served, request, sizeof request, 0) > 0) send(served, "", 0, MSG_NOSIGNAL);
      if (closes) close(served);
    });
    HANDLE pipe = Open();
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    OVERLAPPED overlapped;
    char first = 0;
    DWORD read = 99;
    const BOOL done = Transact(pipe, overlapped, first, read);
    server.join();
    EXPECT_TRUE(done || (GetLastError() == ERROR_IO_PENDING && WaitForSingleObject(event_, 5000) == WAIT_OBJECT_0));
    EXPECT_TRUE(GetOverlappedResult(pipe, &overlapped, &read, FALSE)) << GetLastError();
    EXPECT_EQ(read, 0u);
    if (!closes) close(served);
    close(listener);
    unlink(path.c_str());
  }
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

TEST_F(PipeClient, BadHandlesAreRefused) {
  DWORD read = 0;
  EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(ReadFile(nullptr, nullptr, 0, &read, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(PeekNamedPipe(event_, nullptr, 0, nullptr, nullptr, nullptr));  // an event is not a pipe
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

// A server run by another user is refused, whatever it would answer: the
// library must not hand this user's requests to it.
TEST_F(PipeClient, ServerOfAnotherUserIsRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run a server as another user";
  const std::string socketPath = *korvane::posix::PipeSocketPath(kPipe);
  ::chmod(korvane::posix::PipeFolder().c_str(), 0777);
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  pid_t server = ::fork();
  ASSERT_GE(server, 0);
  if (server == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
    int fd = ::socket(AF_UNIX, SOCK_SEQPACKET, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 4) != 0) ::_exit(3);
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
