// The scriptable test daemon, checked over bare client sockets where the
// library's own tests cannot see it: each reply is exactly one packet, and
// a daemon with connections left waiting still shuts down. (Everything else
// it does is exercised by every test of the daemon link.)
#include "support/runtime_folder.h"
#include "support/test_daemon.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <cerrno>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace korvane::testing {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;

class TestDaemonTest : public ::testing::Test {
 protected:
  ScopedRuntimeFolder folder_;
};

TEST_F(TestDaemonTest, EachReplyArrivesAsExactlyOnePacket) {
  // Larger than the default socket send buffer.
  std::string large(256 * 1024 + 3, '\0');
  for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 7);
  TestDaemon daemon;
  RawClient client(daemon.SocketPath());
  // RawClient tells an empty packet from end-of-file by the credentials
  // that come with every packet (msg_controllen), so "" here is a packet.
  for (const std::string& reply : {""s, "x"s, "a\0b\0"s, large}) {
    SCOPED_TRACE(reply.size());
    daemon.Next(Answer::Reply(reply));
    ASSERT_TRUE(client.Send(MakeFrame(3)));
    EXPECT_EQ(client.Receive(), reply);
  }
  // A stray extra packet from any case above would arrive before the end.
  daemon.Next(Answer::CloseWithoutReply());
  ASSERT_TRUE(client.Send(MakeFrame(3)));
  EXPECT_EQ(client.Receive(), std::nullopt);
}

TEST_F(TestDaemonTest, WaitingConnectionsNeitherBlockOthersNorHoldUpShutdown) {
  auto daemon = std::make_unique<TestDaemon>();
  daemon->On(1, Answer::Never());
  daemon->On(2, Answer::Reply("much later", 1h));
  daemon->On(3, Answer::CloseWithoutReply(1h));
  daemon->On(4, Answer::Reply("now"));
  std::vector<std::unique_ptr<RawClient>> waiting;
  for (std::uint32_t code : {1, 2, 3}) {
    waiting.push_back(std::make_unique<RawClient>(daemon->SocketPath()));
    ASSERT_TRUE(waiting.back()->Send(MakeFrame(code)));
  }
  RawClient other(daemon->SocketPath());
  ASSERT_TRUE(other.Send(MakeFrame(4)));
  EXPECT_EQ(other.Receive(), "now");

  // A connection left waiting still notices its client's close.
  RawClient quitter(daemon->SocketPath());
  ASSERT_TRUE(quitter.Send(MakeFrame(1)));
  ASSERT_TRUE(daemon->WaitUntil([](const TestDaemon& d) { return d.Frames().size() == 5; }));
  quitter.Close();
  EXPECT_TRUE(daemon->WaitUntil([](const TestDaemon& d) { return d.Connections()[4].clientClosed; }));

  daemon.reset();
  for (auto& client : waiting) EXPECT_EQ(client->Receive(), std::nullopt);
}

}  // namespace
}  // namespace korvane::testing
