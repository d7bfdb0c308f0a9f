// Empty packets and end-of-file on a socket that does not pass credentials
// from the start, as the library's client sockets do: each sequence of
// what the peer did is read back packet by packet.
#include "platform/posix/seqpacket.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <sys/socket.h>
#include <unistd.h>

namespace {

using korvane::posix::PacketArrival;
using Kind = PacketArrival::Kind;
using korvane::posix::Credentials;

TEST(Seqpacket, EmptyPacketsAndEndOfFileAreToldApartWithoutPassingCredentialsFirst) {
  const struct {
    const char* name;
    std::vector<std::string> sent;  // packets the peer sends
    bool peerCloses;
    std::vector<Kind> read;  // what peeking and taking, one after the other, show
  } cases[] = {
      {"an empty packet, then the close", {""}, true, {Kind::Packet, Kind::EndOfFile}},
      {"the close alone", {}, true, {Kind::EndOfFile}},
      {"an empty packet, the peer still there", {""}, false, {Kind::Packet, Kind::NotYet}},
      {"two empty packets and a full one, then the close", {"", "", "full"}, true,
       {Kind::Packet, Kind::Packet, Kind::Packet, Kind::EndOfFile}},
      {"a packet, then the close", {"reply"}, true, {Kind::Packet, Kind::EndOfFile}},
  };
  for (const auto& each : cases) {
    int ends[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends), 0);
    for (const std::string& packet : each.sent) {
      ASSERT_EQ(send(ends[1], packet.data(), packet.size(), MSG_NOSIGNAL), static_cast<ssize_t>(packet.size()));
    }
    if (each.peerCloses) close(ends[1]);
    for (std::size_t at = 0; at < each.read.size(); ++at) {
      std::string packet;
      const PacketArrival got = korvane::posix::ReceiveWholePacket(ends[0], packet, Credentials::AskedWhenEmpty);
      EXPECT_EQ(got.kind, each.read[at]) << each.name << ", read " << at;
      if (got.kind == Kind::Packet && at < each.sent.size()) {
        EXPECT_EQ(packet, each.sent[at]) << each.name;
      }
    }
    close(ends[0]);
    if (!each.peerCloses) close(ends[1]);
  }
}

}  // namespace
