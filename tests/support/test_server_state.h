// The half of the test server that both transports share: the script (which
// answer each frame gets), the record of every connection and frame, and the
// loop that serves one connection. A transport only accepts connections and
// moves packets; it derives its TestServer::State from ServerScript.
#pragma once

#include "support/test_server.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace korvane::testing {

// One accepted connection, as the transport carries it. Every wait in it
// ends early once the daemon stops.
class DaemonConnection {
 public:
  enum class Received { kFrame, kEnd, kStopped };
  enum class Sent { kSent, kFailed, kStopped };

  virtual ~DaemonConnection() = default;

  // The next packet whole, into frame; kEnd when the client closed.
  virtual Received Receive(std::string& frame) = 0;
  // One reply packet; kFailed when the client went away or the reply cannot
  // go out whole.
  virtual Sent Send(const std::string& bytes) = 0;
  // Reads nothing more, so later packets stay queued. True when the client
  // closed, false when the daemon stopped first.
  virtual bool WaitForHangUp() = 0;
  // Tells whether the daemon stopped during the delay.
  virtual bool Sleep(std::chrono::milliseconds delay) = 0;
  // Ends the connection from the daemon's side: the client reads what is
  // still queued, then end-of-file.
  virtual void Close() = 0;
};

struct ServerScript {
  // Takes the answers and the observer out of options.
  explicit ServerScript(TestServerOptions& options);

  bool Accepting() const;  // not paused
  // Records a new connection and starts the thread that serves it; the
  // caller holds mutex.
  void StartServing(std::unique_ptr<DaemonConnection> connection);
  // Joins the accept thread, then every connection thread, once the
  // transport has told them all to stop.
  void JoinThreads();
  // Serves one connection, on its thread, until it ends or the daemon stops.
  void Serve(std::size_t index, std::unique_ptr<DaemonConnection> connection);

  // The answer for a frame with this code: the first Next(), else the On()
  // for the code, else none.
  Answer Resolve(std::uint32_t code);
  void Record(std::size_t index, const std::string& frame);
  void MarkClientClosed(std::size_t index);
  void Tell(TestServerEvent::Kind kind, std::size_t index, std::string_view frame = {}) const;

  std::function<void(const TestServerEvent&)> observer;

  mutable std::mutex mutex;
  mutable std::condition_variable changed;  // signalled on every count of changes
  std::uint64_t changes = 0;
  std::map<std::uint32_t, Answer> answers;
  std::deque<Answer> next;
  std::vector<Connection> connections;
  std::vector<std::string> frames;
  bool paused = false;
  std::vector<std::thread> servers;
  std::thread acceptor;  // the transport's accept loop
};

// The full name \\.\pipe\NAME of a bare NAME; a full name stays as it is.
std::string FullPipeName(const std::string& pipeName);

}  // namespace korvane::testing
