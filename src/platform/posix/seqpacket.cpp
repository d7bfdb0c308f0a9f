#include "seqpacket.h"

#include <cerrno>
#include <cstring>
#include <new>

#include <sys/socket.h>
#include <unistd.h>

namespace korvane::posix {

namespace {

// Sets SO_PASSCRED on fd; false when it was set already (or cannot be), so
// that a second look would tell nothing new.
bool StartPassingCredentials(int fd) {
  int on = 0;
  socklen_t length = sizeof on;
  if (getsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, &length) != 0 || on != 0) return false;
  on = 1;
  return setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) == 0;
}

// This process's effective user (read once: it does not change) or root.
bool IsTrustedUser(uid_t user) {
  static const uid_t self = geteuid();
  return user == self || user == 0;
}

// The sender's user in a received header's credentials, if it holds them.
std::optional<uid_t> SenderOf(msghdr& header) {
  for (cmsghdr* part = CMSG_FIRSTHDR(&header); part != nullptr; part = CMSG_NXTHDR(&header, part)) {
    if (part->cmsg_level == SOL_SOCKET && part->cmsg_type == SCM_CREDENTIALS &&
        part->cmsg_len >= CMSG_LEN(sizeof(ucred))) {
      ucred credentials;
      std::memcpy(&credentials, CMSG_DATA(part), sizeof credentials);
      return credentials.uid;
    }
  }
  return std::nullopt;
}

}  // namespace

PacketArrival ReceivePacket(int fd, void* buffer, std::size_t capacity, bool peek, Credentials credentials) {
  char scratch;
  iovec part{capacity > 0 ? buffer : &scratch, capacity > 0 ? capacity : 1};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))];
  msghdr header{};
  header.msg_iov = &part;
  header.msg_iovlen = 1;
  header.msg_control = control;
  header.msg_controllen = sizeof control;
  // MSG_TRUNC makes the result the packet's full length, not what fitted.
  const int flags = MSG_DONTWAIT | MSG_TRUNC | MSG_CMSG_CLOEXEC | (peek ? MSG_PEEK : 0);
  ssize_t length;
  do {
    length = recvmsg(fd, &header, flags);
  } while (length < 0 && errno == EINTR);
  if (length < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK) return {PacketArrival::Kind::NotYet};
    if (errno == ECONNRESET) return {PacketArrival::Kind::EndOfFile, 0, ECONNRESET};
    return {PacketArrival::Kind::Failed, 0, errno};
  }
  if (length == 0 && header.msg_controllen == 0) {
    // An empty packet or end-of-file: a packet shows credentials once the
    // socket asks for them.
    if (peek && credentials == Credentials::AskedWhenEmpty && StartPassingCredentials(fd)) {
      return ReceivePacket(fd, buffer, capacity, peek, Credentials::Passed);
    }
    return {PacketArrival::Kind::EndOfFile};
  }
  return {PacketArrival::Kind::Packet, static_cast<std::size_t>(length), 0, SenderOf(header)};
}

PacketArrival ReceiveWholePacket(int fd, std::string& packet, Credentials credentials) {
  const PacketArrival next = ReceivePacket(fd, nullptr, 0, true, credentials);
  if (next.kind != PacketArrival::Kind::Packet) return next;
  try {
    packet.resize(next.size);
  } catch (const std::bad_alloc&) {
    return {PacketArrival::Kind::Failed, 0, ENOMEM};
  }
  const PacketArrival taken = ReceivePacket(fd, packet.data(), packet.size());
  if (taken.kind == PacketArrival::Kind::Packet && taken.size < packet.size()) packet.resize(taken.size);
  return taken;
}

bool PeerIsTrusted(int fd) {
  ucred peer{};
  socklen_t length = sizeof peer;
  return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 && IsTrustedUser(peer.uid);
}

bool SenderIsTrusted(int fd, const PacketArrival& arrival) {
  return arrival.sender ? IsTrustedUser(*arrival.sender) : PeerIsTrusted(fd);
}

}  // namespace korvane::posix
