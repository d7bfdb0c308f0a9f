// Receiving on an AF_UNIX SOCK_SEQPACKET socket, the stand-in for a
// message-mode pipe, and asking who is at the other end. The one place
// that tells an empty packet from end-of-file: with SO_PASSCRED set on the
// receiving socket every packet carries its sender's credentials and
// end-of-file carries none, though both read as 0 bytes. A client socket
// goes without it (set before the connect it costs an address of its own
// for every call) until a peek reads 0 bytes: the option is set then, and a
// second peek tells the two apart, since the kernel attaches credentials
// when a packet is received, not when it is sent.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>

namespace korvane::posix {

struct PacketArrival {
  enum class Kind {
    Packet,     // size holds the packet's full length, even beyond the buffer
    EndOfFile,  // the peer closed (or reset: error holds ECONNRESET) the connection
    NotYet,     // nothing waits
    Failed,     // error holds the errno
  };
  Kind kind = Kind::NotYet;
  std::size_t size = 0;
  int error = 0;
  // The effective user of the process that sent the packet, when it came
  // with credentials (on a socket that passes them, every packet does).
  std::optional<uid_t> sender = std::nullopt;
};

// Whether a socket passes credentials: set on it from the start (a server's
// listener), or asked for only once a peek reads 0 bytes (a client).
enum class Credentials { Passed, AskedWhenEmpty };

// Without waiting, takes the next packet into buffer, cutting it at capacity
// (0 and a null buffer are fine), or with peek only looks at it and leaves
// it queued. Interrupted calls are retried. On a socket that asks for
// credentials only when a peek reads 0 bytes, an empty packet must be
// peeked before it is taken: taken unseen, it reads as end-of-file.
PacketArrival ReceivePacket(int fd, void* buffer, std::size_t capacity, bool peek = false,
                            Credentials credentials = Credentials::Passed);

// Without waiting, takes the next packet whole into packet, sized to fit.
PacketArrival ReceiveWholePacket(int fd, std::string& packet, Credentials credentials = Credentials::Passed);

// The peer of a connected socket runs as this process's effective user or
// as root (SO_PEERCRED): a socket left by another user in a shared folder
// must neither receive this user's requests nor send them. The effective
// user is read once, at the first call.
bool PeerIsTrusted(int fd);
// The same for the process that sent a packet received on fd: by the
// credentials it carried, or by the socket's peer when it carried none
// (a server's listener passes them, so every packet should).
bool SenderIsTrusted(int fd, const PacketArrival& arrival);

}  // namespace korvane::posix
