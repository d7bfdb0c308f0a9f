#include "daemon/platform/pipe_connection.h"

#include "platform/posix/seqpacket.h"

#include <cerrno>

#include <sys/socket.h>
#include <unistd.h>

namespace korvane::server {

namespace {

Arrival ArrivalOf(int connection, const posix::PacketArrival& arrival, std::size_t& size) {
  switch (arrival.kind) {
    case posix::PacketArrival::Kind::Packet:
      // Only the daemon's own effective user, or root, is served.
      if (!posix::SenderIsTrusted(connection, arrival)) return Arrival::OtherUser;
      size = arrival.size;
      return Arrival::Packet;
    case posix::PacketArrival::Kind::NotYet:
      return Arrival::NotYet;
    case posix::PacketArrival::Kind::EndOfFile:
    case posix::PacketArrival::Kind::Failed:
      break;
  }
  return Arrival::EndOfFile;
}

}  // namespace

Arrival ReceivePacket(NativeHandle connection, std::string& buffer, std::size_t& size) {
  const int socket = static_cast<int>(connection);
  return ArrivalOf(socket, posix::ReceivePacket(socket, buffer.data(), buffer.size()), size);
}

Arrival PeekPacket(NativeHandle connection, char* into, std::size_t capacity, std::size_t& size) {
  const int socket = static_cast<int>(connection);
  return ArrivalOf(socket, posix::ReceivePacket(socket, into, capacity, true), size);
}

Sending SendPacket(NativeHandle connection, std::string_view packet) {
  const int socket = static_cast<int>(connection);
  if (send(socket, packet.data(), packet.size(), MSG_NOSIGNAL | MSG_DONTWAIT) >= 0) return Sending::Sent;
  if (errno == EAGAIN || errno == EINTR) return Sending::NotYet;
  return errno == EMSGSIZE ? Sending::TooLarge : Sending::Failed;
}

void MakeSendRoom(NativeHandle connection, int bytes) {
  setsockopt(static_cast<int>(connection), SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
}

void CloseConnection(NativeHandle connection) { close(static_cast<int>(connection)); }

}  // namespace korvane::server
