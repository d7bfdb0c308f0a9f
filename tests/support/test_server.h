// The test server: a real server on the daemon pipe's transport
// that records every frame it receives and answers each one by script, and a
// bare client for checking a server byte for byte. The transport is an
// AF_UNIX SOCK_SEQPACKET socket on POSIX and a message-mode named pipe on
// Windows; one packet there is one message here.
#pragma once

#include "protocol/commands.h"
#include "support/test_pipe_name.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvane::testing {

// What the daemon does with one request frame.
struct Answer {
  enum class Kind { kReply, kClose, kNever, kIgnore };

  // One reply message, after the delay. It may be empty, hold NULs, or be
  // long: up to twice net.core.wmem_max (at least 400 KiB).
  static Answer Reply(std::string bytes, std::chrono::milliseconds delay = {});
  // Closes the connection, after the delay, instead of answering.
  static Answer CloseWithoutReply(std::chrono::milliseconds delay = {});
  // Answers nothing and reads nothing more from the connection; only the
  // client's close is still noticed.
  static Answer Never();

  Kind kind = Kind::kIgnore;  // answers nothing and goes on reading
  std::string bytes;
  std::chrono::milliseconds delay{};
};

// One accepted connection (a pipe instance) and every packet it carried.
struct Connection {
  int id = 0;                       // 1, 2, ... in accept order
  std::vector<std::string> frames;  // raw bytes of each packet received
  bool clientClosed = false;        // the client ended the connection
};

// What a connection did, told to an observer on that connection's thread.
struct TestServerEvent {
  enum class Kind {
    kFrame,    // a packet arrived (frame: its bytes)
    kHandled,  // the answer to a frame was carried out (frame: that frame)
    kClosed,   // the client or the script ended the connection
  };
  Kind kind;
  int connection;
  std::string_view frame;
};

struct TestServerOptions {
  std::string pipeName = TestPipeName();  // or a bare NAME for \\.\pipe\NAME
  // How many clients may wait to be accepted: the listen queue on POSIX; on
  // Windows the pipe instances kept listening (at least one).
  int backlog = 16;
  // Answers by code from the first frame on, over the default table.
  std::map<std::uint32_t, Answer> answers;
  // Called on connection threads, outside the daemon's lock.
  std::function<void(const TestServerEvent&)> observer;
};

// The part of the daemon that every transport shares (test_server_state.h).
struct ServerScript;

class TestServer {
 public:
  // The stop request; by default it gets an empty reply.
  static constexpr std::uint32_t kStopCode = protocol::CodeOf(protocol::Command::StopDaemon);

  // Listens at once; throws std::system_error when it cannot.
  explicit TestServer(std::string pipeName = TestPipeName(), int backlog = 16);
  explicit TestServer(TestServerOptions options);
  // Closes the listener and every connection, interrupting delays and
  // Never(), joins every thread and removes the socket file (POSIX).
  ~TestServer();
  TestServer(const TestServer&) = delete;
  TestServer& operator=(const TestServer&) = delete;

  // How frames with this code are answered from now on. Unscripted codes
  // are ignored.
  void On(std::uint32_t code, Answer answer);
  // A one-shot answer for the next frame of any code, taken first-in
  // first-out before On() applies.
  void Next(Answer answer);

  std::vector<Connection> Connections() const;  // in accept order
  std::vector<std::string> Frames() const;      // every connection's, in arrival order
  // Checks the condition after every change until it holds or the limit
  // passes; tells whether it held.
  bool WaitUntil(const std::function<bool(const TestServer&)>& condition,
                 std::chrono::milliseconds limit = std::chrono::seconds(5)) const;

  // While paused, connections wait in the listen queue (on Windows: they
  // open the listening instances, which then stay unserved), so a test can
  // fill it; a client beyond it gets ERROR_PIPE_BUSY. No connection is
  // accepted after PauseAccepting() returns.
  void PauseAccepting();

  // Where clients connect: the socket file on POSIX, the full pipe name
  // \\.\pipe\NAME on Windows.
  const std::string& SocketPath() const;

 private:
  struct State;  // the transport's, built on ServerScript
  ServerScript& Script() const;
  std::unique_ptr<State> state_;
};

// A request frame: total length and code (both 32-bit little-endian), then
// the payload as given.
std::string MakeFrame(std::uint32_t code, std::string_view payload = {});
// The code of a frame, when it has a whole header.
std::optional<std::uint32_t> FrameCode(std::string_view frame);

// A bare client that tells an empty packet from end-of-file: on POSIX a
// SOCK_SEQPACKET socket with SO_PASSCRED set; on Windows a pipe handle in
// message read mode, where the end is ERROR_BROKEN_PIPE.
class RawClient {
 public:
  // Connects to SocketPath(); throws std::system_error when it cannot. A
  // busy server is waited for, up to five seconds on Windows.
  explicit RawClient(const std::string& socketPath);
  ~RawClient();
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  // Sends one packet; false when the server is gone.
  bool Send(std::string_view bytes);
  // The next packet whole, or nothing at end-of-file. Throws
  // std::runtime_error when nothing arrives within the limit.
  std::optional<std::string> Receive(std::chrono::milliseconds limit = std::chrono::seconds(5));
  void Close();

 private:
  std::intptr_t handle_ = -1;  // the socket, or the pipe's HANDLE (INVALID_HANDLE_VALUE is -1 too)
};

}  // namespace korvane::testing
