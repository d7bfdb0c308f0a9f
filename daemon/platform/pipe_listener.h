#pragma once

#include "daemon/platform/native_handle.h"

#include <cstdint>
#include <stdexcept>
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

// Whether a process of another user serves at path. On Windows the pipe's
// name is machine-wide and another signed-in user's daemon may hold it; on
// POSIX the socket lies in this user's own private folder, so never.
bool ServedByAnotherUser(const std::string& path);

// What Listen throws when another user's process holds the pipe's name:
// this user's daemon cannot serve it until that process lets it go.
class PipeHeldByAnotherUser : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Binds and listens at path, in place of a socket file a dead daemon left
// (called under the start lock); throws PipeHeldByAnotherUser or
// std::system_error when it cannot.
Listener Listen(const std::string& path);

// Closes the socket and removes its file, unless another server has taken
// the path since; fd is -1 afterwards.
void StopListening(Listener& listener);

// Whether clients are accepted in the order they connected: a listen queue
// keeps it (POSIX); pipe instances opened at once are found in turn
// (Windows), whatever order they were opened in.
bool AcceptsInConnectOrder();

// Takes clients off a listener's queue, without waiting. Only the daemon's
// own user (or root) is served: on Windows a client of another user is
// refused here, on POSIX each of its packets is (ReceivePacket).
class ClientAcceptor {
 public:
  ClientAcceptor();
  ~ClientAcceptor();
  ClientAcceptor(const ClientAcceptor&) = delete;
  ClientAcceptor& operator=(const ClientAcceptor&) = delete;

  enum class Outcome {
    Client,        // handle is the new connection
    OtherUser,     // a client of another user was refused and closed (Windows)
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
};

}  // namespace korvane::server
