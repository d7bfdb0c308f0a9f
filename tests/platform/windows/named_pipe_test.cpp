// The test server on real Windows named pipes, seen from a bare client: the
// message boundaries and the shutdown that the daemon link's tests rely on
// without seeing them.
#include "support/test_server.h"
#include "support/test_pipe_name.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
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

TEST(NamedPipeDaemon, RepliesArriveWholeAndAnEmptyOneIsNotTheEnd) {
  TestServer daemon;
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

TEST(NamedPipeDaemon, ShutdownEndsEveryWaitAndLeavesTheNameFree) {
  auto daemon = std::make_unique<TestServer>(TestPipeName(), 1);
  daemon->On(1, Answer::Never());
  daemon->On(2, Answer::Reply("much later", 1h));
  daemon->On(3, Answer::CloseWithoutReply(1h));
  daemon->On(4, Answer::Reply(Pattern(400 * 1024)));  // its client never reads
  std::vector<std::unique_ptr<RawClient>> waiting;
  for (std::uint32_t code : {1, 2, 3, 4}) {
    waiting.push_back(std::make_unique<RawClient>(daemon->SocketPath()));
    ASSERT_TRUE(waiting.back()->Send(MakeFrame(code)));
  }
  ASSERT_TRUE(daemon->WaitUntil([](const TestServer& d) { return d.Frames().size() == 4; }));
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
  EXPECT_THROW(RawClient gone(name), std::system_error);
}

}  // namespace
}  // namespace korvane::testing
