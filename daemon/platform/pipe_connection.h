#pragma once

#include "daemon/platform/native_handle.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace korvane::server {

// One client's connection, a whole packet at a time each way (a message-mode
// pipe; an AF_UNIX SOCK_SEQPACKET socket on POSIX). Nothing here waits.

enum class Arrival {
  Packet,
  EndOfFile,
  NotYet,
  OtherUser,  // sent by a process of another user (not root): the connection is closed unanswered
};

// The next packet, cut at the buffer's size; size receives its real size.
// Failures end the connection as end-of-file does. On POSIX each packet
// carries its sender's credentials, checked here, so that accepting a
// client costs no question of its own; on Windows the client's user was
// checked when it was accepted.
Arrival ReceivePacket(NativeHandle connection, std::string& buffer, std::size_t& size);

// The next packet's first capacity bytes, left queued; size receives its
// real size.
Arrival PeekPacket(NativeHandle connection, char* into, std::size_t capacity, std::size_t& size);

enum class Sending {
  Sent,
  NotYet,    // the client is not reading yet: try again when it is writable
  TooLarge,  // the packet does not fit the connection's send buffer
  Failed,
};

Sending SendPacket(NativeHandle connection, std::string_view packet);

// Gives the connection's send buffer room for packets of up to bytes.
void MakeSendRoom(NativeHandle connection, int bytes);

// Closing it also takes it out of any ReadySet.
void CloseConnection(NativeHandle connection);

}  // namespace korvane::server
