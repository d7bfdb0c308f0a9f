// The scriptable test daemon, checked over bare client sockets: what it
// records, what reaches the client, and that it always shuts down.
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

TEST_F(TestDaemonTest, RecordsEveryPacketRawPerConnectionAndInArrivalOrder) {
  TestDaemon daemon;
  daemon.On(7, Answer::Reply("r"));
  RawClient first(daemon.SocketPath());
  RawClient second(daemon.SocketPath());
  const std::vector<std::pair<RawClient*, std::string>> sent = {
      {&first, MakeFrame(7, "a\0"s)},
      {&second, MakeFrame(9)},
      {&first, "\x05\x00"s},                       // too short for a header
      {&second, ""},                               // an empty packet, not an end
      {&first, "\x63\x00\x00\x00\x07\x00\x00\x00"s},  // length disagrees, still answered
  };
  for (std::size_t i = 0; i < sent.size(); ++i) {
    ASSERT_TRUE(sent[i].first->Send(sent[i].second));
    ASSERT_TRUE(daemon.WaitUntil([&](const TestDaemon& d) { return d.Frames().size() == i + 1; }));
  }
  EXPECT_EQ(first.Receive(), "r");
  EXPECT_EQ(first.Receive(), "r");

  std::vector<std::string> all;
  for (const auto& [client, bytes] : sent) all.push_back(bytes);
  EXPECT_EQ(daemon.Frames(), all);
  const std::vector<Connection> connections = daemon.Connections();
  ASSERT_EQ(connections.size(), 2u);
  EXPECT_EQ(connections[0].id, 1);
  EXPECT_EQ(connections[0].frames, (std::vector{all[0], all[2], all[4]}));
  EXPECT_EQ(connections[1].frames, (std::vector{all[1], all[3]}));
  EXPECT_FALSE(connections[1].clientClosed);

  second.Close();
  EXPECT_TRUE(daemon.WaitUntil([](const TestDaemon& d) { return d.Connections()[1].clientClosed; }));
}

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

TEST_F(TestDaemonTest, StopRequestGetsAnEmptyReplyUnlessScripted) {
  TestDaemon daemon;
  RawClient stop(daemon.SocketPath());
  ASSERT_TRUE(stop.Send(MakeFrame(TestDaemon::kStopCode)));
  EXPECT_EQ(stop.Receive(), "");

  daemon.On(TestDaemon::kStopCode, Answer::CloseWithoutReply());
  RawClient again(daemon.SocketPath());
  ASSERT_TRUE(again.Send(MakeFrame(TestDaemon::kStopCode)));
  EXPECT_EQ(again.Receive(), std::nullopt);
}

TEST_F(TestDaemonTest, OneShotAnswersComeFirstInOrderThenTheTable) {
  TestDaemon daemon;
  daemon.On(5, Answer::Reply("table"));
  daemon.Next(Answer::Reply("first"));
  daemon.Next(6, Answer::Reply("for six"));
  daemon.Next(Answer::Reply("second"));
  RawClient client(daemon.SocketPath());
  const std::vector<std::pair<std::uint32_t, std::string>> exchanges = {
      {5, "first"}, {5, "second"}, {6, "for six"}, {5, "table"}, {5, "table"}};
  for (const auto& [code, reply] : exchanges) {
    ASSERT_TRUE(client.Send(MakeFrame(code)));
    EXPECT_EQ(client.Receive(), reply);
  }
}

TEST_F(TestDaemonTest, DelayedReplyComesNoSooner) {
  TestDaemon daemon;
  daemon.On(4, Answer::Reply("late", 150ms));
  RawClient client(daemon.SocketPath());
  const auto sent = std::chrono::steady_clock::now();
  ASSERT_TRUE(client.Send(MakeFrame(4)));
  EXPECT_EQ(client.Receive(), "late");
  EXPECT_GE(std::chrono::steady_clock::now() - sent, 150ms);
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

TEST_F(TestDaemonTest, PausedDaemonLeavesConnectionsQueuedUntilResumed) {
  TestDaemon daemon("DalvDaemonCommand", 2);
  RawClient accepted(daemon.SocketPath());
  ASSERT_TRUE(daemon.WaitUntil([](const TestDaemon& d) { return d.Connections().size() == 1; }));
  daemon.PauseAccepting();
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  daemon.SocketPath().copy(address.sun_path, sizeof(address.sun_path) - 1);
  std::vector<int> queued;
  while (queued.size() < 100) {
    const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
      EXPECT_EQ(errno, EAGAIN);
      close(fd);
      break;
    }
    queued.push_back(fd);
  }
  EXPECT_LT(queued.size(), 100u) << "the listen queue never filled";
  EXPECT_EQ(daemon.Connections().size(), 1u);

  daemon.ResumeAccepting();
  EXPECT_TRUE(daemon.WaitUntil([&](const TestDaemon& d) { return d.Connections().size() == 1 + queued.size(); }));
  for (int fd : queued) close(fd);
}

}  // namespace
}  // namespace korvane::testing
