// The test daemon on real Windows named pipes, seen from bare pipe handles:
// the message boundaries, the busy and broken states, and the shutdown that
// the daemon link's tests rely on without seeing them.
#include "support/test_daemon.h"
#include "support/test_pipe_name.h"

#include "platform/windows_api.h"
#include "support/windows/windows_helpers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace korvane::testing {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;

std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 + i / 251);
  return bytes;
}

// A synchronous client handle in message read mode, for the raw calls.
class PipeHandle {
 public:
  explicit PipeHandle(const std::string& name)
      : handle_(::CreateFileW(Wide(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                              nullptr)),
        error_(::GetLastError()) {
    DWORD mode = PIPE_READMODE_MESSAGE;
    if (handle_ != INVALID_HANDLE_VALUE) ::SetNamedPipeHandleState(handle_, &mode, nullptr, nullptr);
  }
  ~PipeHandle() {
    if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
  }
  PipeHandle(const PipeHandle&) = delete;
  PipeHandle& operator=(const PipeHandle&) = delete;

  bool Opened() const { return handle_ != INVALID_HANDLE_VALUE; }
  DWORD OpenError() const { return error_; }

  bool Write(const std::string& bytes) const {
    DWORD written = 0;
    return ::WriteFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
  }

  struct Read {
    DWORD error;  // 0 for a read that ended the message
    std::string bytes;
  };
  Read ReadInto(DWORD bufferSize) const {
    std::string buffer(bufferSize, '\0');
    DWORD got = 0;
    const BOOL ok = ::ReadFile(handle_, buffer.data(), bufferSize, &got, nullptr);
    return {ok ? 0 : ::GetLastError(), buffer.substr(0, got)};
  }

 private:
  HANDLE handle_;
  DWORD error_;
};

TEST(NamedPipeDaemon, RepliesArriveWholeAndAnEmptyOneIsNotTheEnd) {
  TestDaemon daemon;
  RawClient client(daemon.SocketPath());
  // 400 KiB is many times the pipe's buffer: the write waits for the reader.
  for (const std::string& reply : {""s, "a\0b\0"s, Pattern(400 * 1024), ""s}) {
    SCOPED_TRACE(reply.size());
    daemon.Next(Answer::Reply(reply));
    ASSERT_TRUE(client.Send(MakeFrame(3)));
    EXPECT_EQ(client.Receive(), reply);
  }
  // A stray extra message from any case above would arrive before the end.
  daemon.Next(Answer::CloseWithoutReply());
  ASSERT_TRUE(client.Send(MakeFrame(3)));
  EXPECT_EQ(client.Receive(), std::nullopt);
}

TEST(NamedPipeDaemon, CloseWithoutReplyLeavesEarlierRepliesThenABrokenPipe) {
  TestDaemon daemon;
  daemon.On(1, Answer::Reply("first"));
  daemon.On(2, Answer::CloseWithoutReply(20ms));
  PipeHandle client(daemon.SocketPath());
  ASSERT_TRUE(client.Opened()) << client.OpenError();
  ASSERT_TRUE(client.Write(MakeFrame(1)));
  ASSERT_TRUE(daemon.WaitUntil([](const TestDaemon& d) { return d.Frames().size() == 1; }));
  ASSERT_TRUE(client.Write(MakeFrame(2)));
  ASSERT_TRUE(daemon.WaitUntil([](const TestDaemon& d) { return d.Frames().size() == 2; }));

  // The reply sent before the close is still there; then the pipe is broken
  // for reading and writing alike.
  PipeHandle::Read read = client.ReadInto(64);
  EXPECT_EQ(read.error, 0u);
  EXPECT_EQ(read.bytes, "first");
  read = client.ReadInto(64);
  EXPECT_EQ(read.error, static_cast<DWORD>(ERROR_BROKEN_PIPE));
  EXPECT_FALSE(client.Write(MakeFrame(1)));
  const DWORD writeError = ::GetLastError();
  EXPECT_TRUE(writeError == ERROR_NO_DATA || writeError == ERROR_BROKEN_PIPE) << writeError;
  EXPECT_FALSE(daemon.Connections()[0].clientClosed) << "the daemon closed, not the client";
}

TEST(NamedPipeDaemon, PausedDaemonLeavesClientsBusyUntilItResumes) {
  TestDaemon daemon(TestPipeName(), 2);
  daemon.On(4, Answer::Reply("served"));
  daemon.PauseAccepting();
  // Each open takes one listening instance; the daemon serves none of them.
  PipeHandle queued1(daemon.SocketPath());
  PipeHandle queued2(daemon.SocketPath());
  ASSERT_TRUE(queued1.Opened()) << queued1.OpenError();
  ASSERT_TRUE(queued2.Opened()) << queued2.OpenError();
  ASSERT_TRUE(queued1.Write(MakeFrame(4)));
  PipeHandle refused(daemon.SocketPath());
  EXPECT_FALSE(refused.Opened());
  EXPECT_EQ(refused.OpenError(), static_cast<DWORD>(ERROR_PIPE_BUSY));
  const std::wstring name = Wide(daemon.SocketPath());
  EXPECT_FALSE(::WaitNamedPipeW(name.c_str(), 50));
  EXPECT_TRUE(daemon.Connections().empty());
  EXPECT_TRUE(daemon.Frames().empty());

  daemon.ResumeAccepting();
  EXPECT_EQ(queued1.ReadInto(64).bytes, "served");
  ASSERT_TRUE(::WaitNamedPipeW(name.c_str(), 5000));
  PipeHandle later(daemon.SocketPath());
  ASSERT_TRUE(later.Opened()) << later.OpenError();
  ASSERT_TRUE(later.Write(MakeFrame(4)));
  EXPECT_EQ(later.ReadInto(64).bytes, "served");
  EXPECT_EQ(daemon.Connections().size(), 3u);
}

TEST(NamedPipeDaemon, NeverNoticesTheCloseWithoutReadingFurtherMessages) {
  TestDaemon daemon;
  daemon.On(1, Answer::Never());
  RawClient client(daemon.SocketPath());
  ASSERT_TRUE(client.Send(MakeFrame(1)));
  ASSERT_TRUE(daemon.WaitUntil([](const TestDaemon& d) { return d.Frames().size() == 1; }));
  ASSERT_TRUE(client.Send(MakeFrame(2)));  // stays unread in the pipe
  EXPECT_THROW(client.Receive(50ms), std::runtime_error);
  client.Close();
  EXPECT_TRUE(daemon.WaitUntil([](const TestDaemon& d) { return d.Connections()[0].clientClosed; }));
  EXPECT_EQ(daemon.Frames(), std::vector<std::string>{MakeFrame(1)});
}

TEST(NamedPipeDaemon, ShutdownEndsEveryWaitAndLeavesTheNameFree) {
  auto daemon = std::make_unique<TestDaemon>(TestPipeName(), 1);
  daemon->On(1, Answer::Never());
  daemon->On(2, Answer::Reply("much later", 1h));
  daemon->On(3, Answer::CloseWithoutReply(1h));
  daemon->On(4, Answer::Reply(Pattern(400 * 1024)));  // its client never reads
  std::vector<std::unique_ptr<RawClient>> waiting;
  for (std::uint32_t code : {1, 2, 3, 4}) {
    waiting.push_back(std::make_unique<RawClient>(daemon->SocketPath()));
    ASSERT_TRUE(waiting.back()->Send(MakeFrame(code)));
  }
  ASSERT_TRUE(daemon->WaitUntil([](const TestDaemon& d) { return d.Frames().size() == 4; }));
  daemon->PauseAccepting();
  RawClient queued(daemon->SocketPath());  // opens the listening instance
  const std::string name = daemon->SocketPath();

  daemon.reset();
  for (auto& client : waiting) {
    std::optional<std::string> got = client->Receive(1s);
    // The large reply may have begun to arrive before the end.
    if (got) {
      EXPECT_EQ(client->Receive(1s), std::nullopt);
    }
  }
  EXPECT_EQ(queued.Receive(1s), std::nullopt);
  waiting.clear();
  queued.Close();
  // Every instance closed: the name is gone.
  PipeHandle gone(name);
  EXPECT_FALSE(gone.Opened());
  EXPECT_EQ(gone.OpenError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

}  // namespace
}  // namespace korvane::testing
