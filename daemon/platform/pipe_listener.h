#pragma once

#include "daemon/platform/native_handle.h"

#include <cstdint>
#include <string>

namespace korvane::server {

// The bound and listening socket, and the file that names it.
struct Listener {
  NativeHandle fd = kNoHandle;
  std::string path;
  std::uint64_t inode = 0;
};

// Whether a live server answers at the socket; a full listen queue counts.
bool Served(const std::string& path);

// Binds and listens at path, in place of a socket file a dead daemon left
// (called under the start lock); throws std::system_error when it cannot.
Listener Listen(const std::string& path);

// Closes the socket and removes its file, unless another server has taken
// the path since; fd is -1 afterwards.
void StopListening(Listener& listener);

// Takes clients off a listener's queue, without waiting: only those of the
// daemon's own effective user (or root) become connections.
class ClientAcceptor {
 public:
  ClientAcceptor();
  ~ClientAcceptor();
  ClientAcceptor(const ClientAcceptor&) = delete;
  ClientAcceptor& operator=(const ClientAcceptor&) = delete;

  enum class Outcome {
    Client,        // handle is the new connection
    OtherUser,     // a client of another user was refused and closed
    NoDescriptor,  // out of descriptors: a client was taken off the queue and closed
    NoneWaiting,   // nothing pending, or the client gave up while queued
  };
  struct Accepted {
    Outcome outcome = Outcome::NoneWaiting;
    NativeHandle handle = kNoHandle;
  };

  Accepted Accept(const Listener& listener);

 private:
  NativeHandle spare_ = kNoHandle;  // given up to accept and close a client when descriptors run out
  unsigned self_;   // the daemon's effective user, whom clients must share
};

}  // namespace korvane::server
