// The daemon's server: one event loop over the listening socket, every
// connection, the stop signals and finished work. It never waits on one
// client: sockets are non-blocking, a reply that cannot go out waits on its
// own connection, and long work runs on bounded pools of worker threads.
// A connection that has sent nothing, or leaves its reply unread, for the
// idle limit is closed; when every connection is taken the one idle longest
// makes room for a new client.
#pragma once

#include "daemon/base/daemon_log.h"
#include "daemon/platform/pipe_listener.h"
#include "daemon/platform/ready_set.h"
#include "daemon/platform/stop_signals.h"
#include "daemon/platform/wake_up.h"
#include "daemon/store/activation_store.h"
#include "daemon/transport/dispatcher.h"
#include "daemon/transport/work_runner.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace korvane::server {

// The limits that tests shorten; the defaults are the daemon's own.
struct ServerLimits {
  // A client connects to send at once: one that has sent nothing, or left
  // its reply unread, for this long holds a connection for nothing.
  std::chrono::milliseconds idle{10000};
  // How long a stop waits for running work to give up before it answers
  // for it as cancelled.
  std::chrono::milliseconds stopGrace{5000};

  // The defaults, with KORVANE_IDLE_LIMIT_MS and KORVANE_STOP_GRACE_MS.
  static ServerLimits FromEnvironment();
};

class Server {
 public:
  // Takes over the listening socket; its file goes when the server stops
  // accepting (unless another server has taken the path since). Throws
  // std::system_error when the loop's own descriptors cannot be made.
  Server(Listener listener, Dispatcher& dispatcher, ActivationStore& activations, const DaemonLog& log,
         std::atomic<bool>& stopping, ServerLimits limits);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Serves until a stop request or SIGTERM, SIGINT or SIGHUP (which the
  // caller has blocked); then stops accepting, cancels and waits for running
  // work, and closes every connection.
  void Run();

  static constexpr std::size_t kMaxConnections = 512;
  // Requests are answered by workers of their own, so that one-way work
  // stuck on a network cannot hold up a status query.
  static constexpr WorkRunner::Limits kRequestWork{8, 64};
  static constexpr WorkRunner::Limits kBackgroundWork{4, 32};

 private:
  using Clock = std::chrono::steady_clock;
  struct Connection {
    NativeHandle fd = kNoHandle;
    Clock::time_point lastActive;
    Channel use = Channel::Unknown;  // what its first frame showed it to be
    bool awaitingWork = false;
    std::optional<Command> awaiting;  // the request whose work runs
    bool hasOutgoing = false;
    std::string outgoing;
    std::uint32_t watched = kReadable;  // the events the ready set reports for it now
    bool requestFirst = false;        // its next packet is known not to be one-way
    // A packet that is no one-way frame, taken while another's request was
    // settled, for the loop to handle when it reaches the connection.
    struct Taken {
      std::string bytes;
      std::size_t size = 0;  // the packet's whole size, which bytes may cut
    };
    std::optional<Taken> taken;
    bool largeBuffer = false;         // its send buffer has been made room for a large reply
  };

  // A request that waits for the activation changes that came before it.
  struct Deferred {
    std::uint64_t connection;
    ActivationStore::Ticket ticket;  // settled before it is answered
    Command command;
    std::optional<std::string> payload;
  };

  void AcceptPending();
  void OnConnectionEvent(std::uint64_t id, std::uint32_t events);
  void ReadFrom(std::uint64_t id);
  void HandlePacket(std::uint64_t id, std::string_view bytes, std::size_t size);
  void HandleRequest(std::uint64_t id, Command command, const std::optional<std::string>& payload);
  void Settle(std::uint64_t asking);
  // Whether the loop's batch reports the connection after the event it
  // handles now.
  bool AheadInBatch(std::uint64_t id) const;
  // The connections that may hold a packet that came before the request
  // being answered, in the order they came; the listener too when it has
  // clients waiting.
  std::vector<std::uint64_t> MaybeReadable(std::uint64_t asking, bool& accepting);
  void Answer(std::uint64_t id, Command command, const std::optional<std::string>& payload);
  void AnswerSettled();
  void Reply(std::uint64_t id, std::string text);
  void FlushOutgoing(std::uint64_t id);
  void DeliverFinished();
  void Watch(std::uint64_t id);
  void Close(std::uint64_t id);
  // Closes a connection whose packet another user's process sent, unanswered.
  void RefuseOtherUser(std::uint64_t id);
  void Shutdown();
  void Submit(WorkRunner& runner, std::uint64_t id, Command command, Handling handling);
  void Deliver(std::vector<WorkRunner::Finished> finished);
  // Closes connections idle past the limit; the time to wait for the next
  // one to reach it (-1: none can).
  int CloseIdle();
  bool MakeRoom();

  Dispatcher& dispatcher_;
  ActivationStore& activations_;
  const DaemonLog& log_;
  std::atomic<bool>& stopping_;
  const ServerLimits limits_;
  WorkRunner requests_;
  WorkRunner background_;
  Listener listener_;
  ReadySet readySet_;
  StopSignals signals_;
  WakeUp settled_;  // raised by the activation store when changes are settled
  ClientAcceptor acceptor_;
  std::uint64_t nextId_;
  std::unordered_map<std::uint64_t, Connection> connections_;
  std::string buffer_;
  std::vector<ReadyHandle> ready_;  // Settle's view of the readable connections, when it must ask the ready set
  // The loop's batch of events, which Settle reads rather than ask the
  // ready set again: every packet that came before a request being answered
  // was there when the ready set reported the request.
  struct Batch {
    const ReadyHandle* events = nullptr;  // none outside the loop's batch
    int size = 0;
    int next = 0;                        // the first event not handled yet
    bool whole = false;                  // it reported every ready descriptor
    std::uint64_t firstAccepted = 0;     // connections from this one on were accepted meanwhile
    std::vector<std::uint64_t> unsettled;  // handled in this batch, and may hold more packets
  };
  Batch batch_;
  std::deque<Deferred> deferred_;   // in the order of their tickets
};

}  // namespace korvane::server
