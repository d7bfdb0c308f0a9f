// The pipe as a misbehaving client sees it: malformed frames get an error
// text or are dropped, and neither they nor a client that never reads its
// replies keep the daemon from serving everyone else.
#include "reference_daemon.h"

#include "korvane/korvane.h"
#include "support/test_server.h"

#include <gtest/gtest.h>

#include <cerrno>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace korvane::reference {
namespace {

using testing::MakeFrame;
using testing::RawClient;

using Transport = ServingDaemonTest;

std::string Text(const char* text) { return std::string(text) + '\0'; }

// A header whose length field is set apart from what follows.
std::string Header(std::uint32_t length, std::uint32_t code) {
  std::string frame = MakeFrame(code);
  for (int i = 0; i < 4; ++i) frame[i] = static_cast<char>(length >> (8 * i));
  return frame;
}

struct MalformedCase {
  const char* name;
  std::string packet;
  const char* replyStart;  // nullptr: dropped without a reply
};

TEST_F(Transport, MalformedFramesAreAnsweredOrDropped) {
  const MalformedCase cases[] = {
      {"length beyond the packet", Header(100, 1) + Text("/x"), "BAD_REQUEST|"},
      {"length short of the packet", Header(9, 23) + Text("DONE"), "BAD_REQUEST|"},
      {"payload without its NUL", MakeFrame(1, "/x"), "BAD_REQUEST|"},
      {"NUL inside the payload", MakeFrame(23, std::string("DO\0NE\0", 6)), "BAD_REQUEST|"},
      {"huge payload", MakeFrame(1, std::string(100000, 'x') + '\0'), "BAD_REQUEST|"},
      {"unknown code", MakeFrame(99), "UNKNOWN_COMMAND|"},
      {"verdict command", Header(50, 10) + Text("/r"), "-1|createRepo|"},
      {"status query without a path", MakeFrame(1), "BAD_ARGUMENTS|"},
      {"one-way frame of the wrong length", Header(40, 2) + Text("/x"), nullptr},
      {"packet shorter than a header", std::string("\x08\x00\x00", 3), nullptr},
      {"empty packet", std::string(), nullptr},
  };
  RawClient bystander(SocketPath());
  for (const MalformedCase& c : cases) {
    SCOPED_TRACE(c.name);
    RawClient client(SocketPath());
    ASSERT_TRUE(client.Send(c.packet));
    // A well-formed request right behind shows whether the bad frame got a
    // reply of its own.
    ASSERT_TRUE(client.Send(MakeFrame(23, Text("DONE"))));
    if (c.replyStart != nullptr) {
      const std::optional<std::string> reply = client.Receive();
      ASSERT_TRUE(reply);
      EXPECT_TRUE(reply->starts_with(c.replyStart)) << *reply;
    }
    EXPECT_EQ(client.Receive(), "The operation completed.");
  }
  ASSERT_TRUE(bystander.Send(MakeFrame(23, Text("-4"))));
  EXPECT_EQ(bystander.Receive(), "The path or repository does not exist.");
  EXPECT_TRUE(daemon_->Running());
}

// More one-way frames than the daemon takes from one connection at a turn,
// then a query on another connection: the answer reflects every one.
TEST_F(Transport, OneWayFramesSentBeforeAQueryAreInForceForIt) {
  constexpr int kFrames = 200;
  RawClient notifier(SocketPath());
  std::string expected;
  for (int i = 0; i < kFrames; ++i) {
    const std::string folder = "/f" + std::to_string(1000 + i);
    ASSERT_TRUE(notifier.Send(MakeFrame(2, Text(folder.c_str()))));
    expected += "1|" + folder + "\n";
  }
  EXPECT_EQ(Activations(), expected);
}

// Requests with long replies, sent without ever reading one, until the
// daemon takes no more from this client: by then its replies fill the
// socket, and the daemon must have set the client aside.
int FloodWithoutReading(const std::string& socketPath) {
  const int fd = Connect(socketPath);
  EXPECT_GE(fd, 0);
  const std::string request = MakeFrame(23, std::string(4000, 'k') + '\0');
  for (int sent = 0; sent < 2000;) {
    if (send(fd, request.data(), request.size(), MSG_DONTWAIT | MSG_NOSIGNAL) >= 0) {
      ++sent;
      continue;
    }
    EXPECT_EQ(errno, EAGAIN);
    pollfd writable{fd, POLLOUT, 0};
    if (poll(&writable, 1, 1000) == 0) break;
  }
  return fd;
}

TEST_F(Transport, ClientsThatStallDoNotHoldUpOthers) {
  const std::string folder = Folder("f");
  ASSERT_EQ(Korvane_ActivatePath(Wide(folder).c_str(), 1), 1);
  const int flooding = FloodWithoutReading(SocketPath());
  RawClient silent(SocketPath());  // connects and never sends
  RawClient halfFrame(SocketPath());
  ASSERT_TRUE(halfFrame.Send(Header(200, 1) + "/only-part-of-a-fra"));

  EXPECT_EQ(Activations(), "1|" + folder + "\n");
  EXPECT_EQ(Status(folder), "1||" + folder + "|" + folder + "|");
  close(flooding);
  EXPECT_EQ(Activations(), "1|" + folder + "\n");
  EXPECT_TRUE(daemon_->Running());
}

// A client of another user may reach the socket (the folder and the
// socket are opened up here); the daemon still closes on it unanswered.
TEST_F(Transport, ClientsOfAnotherUserAreRefused) {
  if (geteuid() != 0) GTEST_SKIP() << "acting as another user needs root";
  constexpr uid_t kNobody = 65534;
  ASSERT_EQ(chmod(runtime_.Path().c_str(), 0711), 0);
  ASSERT_EQ(chmod(SocketPath().c_str(), 0777), 0);
  const std::string socketPath = SocketPath();
  const std::string request = MakeFrame(23, Text("DONE"));
  const pid_t child = fork();
  if (child == 0) {
    if (setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(10);
    const int fd = Connect(socketPath);
    if (fd < 0) _exit(11);
    const timeval limit{10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    // Closed unanswered: end-of-file, or a reset, as the request was unread.
    char reply[64];
    const ssize_t got = recv(fd, reply, sizeof reply, 0);
    _exit(got == 0 || (got < 0 && errno == ECONNRESET) ? 0 : got > 0 ? 12 : 13);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "10, 11: the client could not be set up; 12: it was answered; 13: nothing came";
  EXPECT_EQ(Activations(), "");
}

}  // namespace
}  // namespace korvane::reference
