#include "daemon/transport/server.h"

#include "daemon/base/environment.h"
#include "daemon/platform/pipe_connection.h"
#include "daemon/platform/wake_up.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <vector>

namespace korvane::server {

namespace {

// Identities in the ready set; connections count up from kFirstConnection.
constexpr std::uint64_t kListener = 1;
constexpr std::uint64_t kSignals = 2;
constexpr std::uint64_t kFinishedRequests = 3;
constexpr std::uint64_t kFinishedBackground = 4;
constexpr std::uint64_t kActivationsSettled = 5;
constexpr std::uint64_t kFirstConnection = 16;

// Packets taken from one connection before the others get their turn.
constexpr int kPacketsPerTurn = 32;
// Large replies (a long activation list) must go out as one packet: a
// connection's send buffer grows to this when one does not fit.
constexpr int kSendBuffer = 4 << 20;
// A refusal always fits in a packet.
constexpr std::size_t kMaxRefusal = 4096;

struct Peeked {
  std::optional<std::uint32_t> code;  // nothing when no whole header waits
  Arrival arrival = Arrival::NotYet;
};

// The code of the next packet, without taking it.
Peeked PeekCode(NativeHandle fd) {
  char header[protocol::kFrameHeaderSize];
  std::size_t size = 0;
  const Arrival arrival = PeekPacket(fd, header, sizeof header, size);
  if (arrival != Arrival::Packet || size < sizeof header) return {std::nullopt, arrival};
  return {protocol::FrameCode(std::string_view(header, sizeof header)), arrival};
}

}  // namespace

ServerLimits ServerLimits::FromEnvironment() {
  ServerLimits limits;
  limits.idle = std::chrono::milliseconds(NumberFromEnvironment("KORVANE_IDLE_LIMIT_MS", limits.idle.count()));
  limits.stopGrace = std::chrono::milliseconds(NumberFromEnvironment("KORVANE_STOP_GRACE_MS", limits.stopGrace.count()));
  return limits;
}

Server::Server(Listener listener, Dispatcher& dispatcher, ActivationStore& activations, const DaemonLog& log,
               std::atomic<bool>& stopping, ServerLimits limits)
    : dispatcher_(dispatcher),
      activations_(activations),
      log_(log),
      stopping_(stopping),
      limits_(limits),
      requests_(kRequestWork),
      background_(kBackgroundWork),
      listener_(std::move(listener)),
      nextId_(kFirstConnection),
      buffer_(kMaxPacketSize + 1, '\0'),
      ready_(kMaxConnections + 8) {
  for (auto [fd, id] : {std::pair{listener_.fd, kListener}, {signals_.Handle(), kSignals},
                        {requests_.ReadyFd(), kFinishedRequests}, {background_.ReadyFd(), kFinishedBackground},
                        {settled_.Handle(), kActivationsSettled}}) {
    readySet_.AddOrThrow(fd, id, kReadable);
  }
  activations_.Watch(settled_);
}

Server::~Server() {
  activations_.Unwatch(settled_);
  Shutdown();
}

void Server::Run() {
  std::array<ReadyHandle, 64> events;
  while (!stopping_) {
    std::string problem;
    const int count = readySet_.Wait(events.data(), static_cast<int>(events.size()), CloseIdle(), problem);
    if (count < 0) {
      log_.Error(problem);
      break;
    }
    // Connections in the order they were accepted: a client's later call
    // comes on a later connection, so its one-way changes apply in order.
    std::sort(events.begin(), events.begin() + count,
              [](const ReadyHandle& a, const ReadyHandle& b) { return a.id < b.id; });
    batch_.events = events.data();
    batch_.size = count;
    batch_.whole = count < static_cast<int>(events.size());
    batch_.firstAccepted = nextId_;
    batch_.unsettled.clear();
    for (int i = 0; i < count && !stopping_; ++i) {
      batch_.next = i + 1;
      const std::uint64_t id = events[i].id;
      if (id == kListener) {
        AcceptPending();
      } else if (id == kSignals) {
        if (const std::optional<std::string> signal = signals_.Take()) {
          log_.Info("stopping on signal " + *signal);
          stopping_ = true;
        }
      } else if (id == kFinishedRequests || id == kFinishedBackground) {
        DeliverFinished();
      } else if (id == kActivationsSettled) {
        AnswerSettled();
      } else {
        OnConnectionEvent(id, events[i].events);
      }
    }
    batch_.events = nullptr;
  }
  Shutdown();
}

void Server::AcceptPending() {
  if (listener_.fd < 0) return;
  for (;;) {
    const ClientAcceptor::Accepted accepted = acceptor_.Accept(listener_);
    switch (accepted.outcome) {
      case ClientAcceptor::Outcome::Client:
        break;
      case ClientAcceptor::Outcome::NoDescriptor:
        log_.Warning("a client was turned away: no descriptor left");
        continue;
      case ClientAcceptor::Outcome::OtherUser:
        log_.Warning("a client of another user was refused");
        continue;
      case ClientAcceptor::Outcome::NoneWaiting:
        return;  // nothing pending, or the client gave up while queued
    }
    const NativeHandle fd = accepted.handle;
    if (connections_.size() >= kMaxConnections && !MakeRoom()) {
      CloseConnection(fd);
      log_.Warning("a client was turned away: too many connections");
      continue;
    }
    const std::uint64_t id = nextId_++;
    connections_[id].fd = fd;
    connections_[id].lastActive = Clock::now();
    if (!readySet_.Add(fd, id, kReadable)) {
      connections_.erase(id);
      CloseConnection(fd);
    }
  }
}

void Server::OnConnectionEvent(std::uint64_t id, std::uint32_t events) {
  const auto found = connections_.find(id);
  if (found == connections_.end()) return;
  Connection& connection = found->second;
  connection.lastActive = Clock::now();
  if (connection.hasOutgoing && (events & (kWritable | kFailed | kHungUp))) {
    FlushOutgoing(id);
    return;
  }
  if (connection.awaitingWork) {
    // The client left before its work was done; the reply goes nowhere.
    if (events & (kHungUp | kFailed)) Close(id);
    return;
  }
  ReadFrom(id);
}

void Server::ReadFrom(std::uint64_t id) {
  for (int turn = 0; turn < kPacketsPerTurn; ++turn) {
    const auto found = connections_.find(id);
    if (found == connections_.end() || stopping_) return;
    Connection& connection = found->second;
    if (connection.awaitingWork || connection.hasOutgoing) return;
    std::size_t size = 0;
    if (connection.taken) {
      // Taken while another's request was settled: it is the next packet.
      const Connection::Taken taken = std::move(*connection.taken);
      connection.taken.reset();
      HandlePacket(id, taken.bytes, taken.size);
    } else {
      connection.requestFirst = false;
      switch (ReceivePacket(connection.fd, buffer_, size)) {
        case Arrival::NotYet:
          return;
        case Arrival::EndOfFile:
          Close(id);
          return;
        case Arrival::OtherUser:
          RefuseOtherUser(id);
          return;
        case Arrival::Packet:
          HandlePacket(id, std::string_view(buffer_).substr(0, std::min(size, buffer_.size())), size);
          break;
      }
    }
    // A client sends its next request only once it has read the reply:
    // nothing more waits on a request channel now.
    if (const auto asked = connections_.find(id); asked != connections_.end() && asked->second.use == Channel::Request) {
      return;
    }
  }
  batch_.unsettled.push_back(id);  // its turn ended with packets left, maybe
}

void Server::HandlePacket(std::uint64_t id, std::string_view bytes, std::size_t size) {
  Connection& connection = connections_.at(id);
  const FrameReading frame = ReadFrame(bytes, size);
  if (!frame.code) {
    log_.Warning("a packet was dropped: " + DescribeFault(frame));
    return;
  }
  const std::optional<Command> command = dispatcher_.Find(*frame.code);
  Channel channel = ChannelOf(*frame.code);
  // Only close and stop are served without a row of the table.
  if (!command && (channel == Channel::Request || channel == Channel::OneWay)) channel = Channel::Unknown;
  const std::string name = command ? protocol::Describe(*command).operation : "code " + std::to_string(*frame.code);
  if (frame.fault != FrameFault::None) {
    log_.Warning("a malformed " + name + " frame: " + DescribeFault(frame));
    // Requests get their answer; frames that are never answered are dropped,
    // and so are those of unknown codes on a channel for one-way frames.
    if (channel == Channel::Request || channel == Channel::Stop ||
        (channel == Channel::Unknown && connection.use != Channel::OneWay)) {
      Reply(id, dispatcher_.Refuse(command, Result::BadRequest, DescribeFault(frame)));
    }
    return;
  }
  if (command && !protocol::FieldCountFits(protocol::Describe(*command),
                                           frame.payload ? std::optional<std::string_view>(*frame.payload) : std::nullopt)) {
    const std::size_t takes = *protocol::FieldCountOf(protocol::Describe(*command)), holds = protocol::FieldCount(*frame.payload);
    const std::string why = name + " takes " + std::to_string(takes) + " \"|\"-separated fields, the frame " +
                            (holds == takes ? "has text after its last \"|\"" : "holds " + std::to_string(holds));
    log_.Warning("refused: " + why);
    connection.use = channel;
    if (channel == Channel::Request) Reply(id, dispatcher_.Refuse(command, Result::BadArguments, why));
    return;
  }
  switch (channel) {
    case Channel::Close:
      Close(id);
      return;
    case Channel::Stop:
      log_.Info("stopping on request");
      Reply(id, "");
      stopping_ = true;
      return;
    case Channel::Unknown:
      log_.Warning("a frame of unknown " + name);
      if (connection.use != Channel::OneWay) Reply(id, dispatcher_.Refuse(std::nullopt, Result::UnknownCommand, name));
      return;
    case Channel::OneWay:
      connection.use = Channel::OneWay;
      if (Handling handling = dispatcher_.Handle(*command, frame.payload); handling.work) {
        Submit(background_, 0, *command, std::move(handling));
      }
      return;
    case Channel::Request:
      connection.use = Channel::Request;
      HandleRequest(id, *command, frame.payload);
      return;
  }
}

void Server::HandleRequest(std::uint64_t id, Command command, const std::optional<std::string>& payload) {
  // Whatever a client sent without needing an answer before it asked this
  // takes effect first, so that the answer reflects it. Activation changes
  // are being saved meanwhile: the request waits, without holding up the
  // loop, until every change submitted so far is settled. An answer that
  // cannot show the activations needs none of that.
  if (!dispatcher_.ShowsActivations(command)) {
    Answer(id, command, payload);
    return;
  }
  Settle(id);
  const auto found = connections_.find(id);
  if (found == connections_.end()) return;
  const ActivationStore::Ticket ticket = activations_.Submitted();
  if (activations_.Settled() < ticket) {
    found->second.awaitingWork = true;
    found->second.awaiting = command;
    Watch(id);
    deferred_.push_back({id, ticket, command, payload});
    return;
  }
  Answer(id, command, payload);
}

void Server::Answer(std::uint64_t id, Command command, const std::optional<std::string>& payload) {
  Handling handling;
  try {
    handling = dispatcher_.Handle(command, payload);
  } catch (const std::exception& error) {
    // One request that fails this way is refused; the daemon serves on.
    log_.Error(std::string("a request failed: ") + error.what());
    handling.reply = dispatcher_.Refuse(command, Result::InternalError, error.what());
  }
  if (handling.work) {
    Submit(requests_, id, command, std::move(handling));
  } else {
    Reply(id, handling.reply.value_or(""));
  }
}

void Server::AnswerSettled() {
  settled_.Take();
  const ActivationStore::Ticket settled = activations_.Settled();
  while (!deferred_.empty() && deferred_.front().ticket <= settled && !stopping_) {
    const Deferred waiting = std::move(deferred_.front());
    deferred_.pop_front();
    const auto found = connections_.find(waiting.connection);
    if (found == connections_.end()) continue;  // the client has gone
    found->second.awaitingWork = false;
    found->second.awaiting.reset();
    Answer(waiting.connection, waiting.command, waiting.payload);
  }
}

void Server::Submit(WorkRunner& runner, std::uint64_t id, Command command, Handling handling) {
  const char* operation = protocol::Describe(command).operation;
  const std::string what = std::string(operation) + (handling.folder.empty() ? "" : " of " + handling.folder);
  WorkRunner::Job job{id, operation, std::move(handling.folder), std::move(handling.work),
                      dispatcher_.Refuse(command, Result::InternalError, operation)};
  if (!runner.Submit(std::move(job))) {
    const std::string why = what + ": refused, every worker is busy and the queue is full";
    log_.Warning(why);
    if (id != 0) Reply(id, dispatcher_.Refuse(command, Result::Busy, why));
    return;
  }
  if (id != 0) {
    connections_.at(id).awaitingWork = true;
    connections_.at(id).awaiting = command;
    Watch(id);
  }
}

std::vector<std::uint64_t> Server::MaybeReadable(std::uint64_t asking, bool& accepting) {
  std::vector<std::uint64_t> ids;
  const auto take = [&](const ReadyHandle* events, int from, int to) {
    for (int i = from; i < to; ++i) {
      const std::uint64_t id = events[i].id;
      if (id == kListener) accepting = true;
      if (id >= kFirstConnection && id != asking && (events[i].events & kReadable)) ids.push_back(id);
    }
  };
  if (batch_.events != nullptr && batch_.whole) {
    // What the batch reported and the loop has not reached yet, the
    // connections accepted since it began, and those handled already that
    // may hold more.
    take(batch_.events, batch_.next, batch_.size);
    for (std::uint64_t id = batch_.firstAccepted; id < nextId_; ++id) ids.push_back(id);
    for (std::uint64_t id : batch_.unsettled) {
      if (id != asking) ids.push_back(id);
    }
    return ids;
  }
  // Only a connection with something to read can hold a one-way frame:
  // the ready set names those at once, rather than a peek at every
  // connection. It reports levels, so what is not taken here is reported
  // again later.
  std::string problem;
  const int count = readySet_.Wait(ready_.data(), static_cast<int>(ready_.size()), 0, problem);
  take(ready_.data(), 0, count);
  return ids;
}

bool Server::AheadInBatch(std::uint64_t id) const {
  if (batch_.events == nullptr) return false;
  for (int i = batch_.next; i < batch_.size; ++i) {
    if (batch_.events[i].id == id) return true;
  }
  return false;
}

void Server::Settle(std::uint64_t asking) {
  bool accepting = false;
  std::vector<std::uint64_t> ids = MaybeReadable(asking, accepting);
  if (AcceptsInConnectOrder()) {
    // A client waits for each answer, so what it sent before asking came on
    // connections it made earlier, and these were accepted earlier: the
    // others can hold only calls made at the same time as this one, which
    // nothing orders. Not looking at them spares a read of each.
    std::erase_if(ids, [asking](std::uint64_t id) { return id > asking; });
    accepting = false;
  }
  if (accepting) {
    // Clients that connected and sent before this request are taken in,
    // and what they sent with them.
    const std::uint64_t firstNew = nextId_;
    AcceptPending();
    for (std::uint64_t id = firstNew; id < nextId_; ++id) ids.push_back(id);
  }
  std::sort(ids.begin(), ids.end());  // in the order the connections came
  ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
  for (std::uint64_t id : ids) {
    for (;;) {
      const auto found = connections_.find(id);
      if (found == connections_.end() || stopping_) break;
      Connection& connection = found->second;
      if (connection.awaitingWork || connection.hasOutgoing || connection.requestFirst || connection.taken) break;
      if (AheadInBatch(id)) {
        // The loop reads this one later in the batch anyway: its packet is
        // taken now, once, and a request among them is kept for then.
        std::size_t size = 0;
        const Arrival arrival = ReceivePacket(connection.fd, buffer_, size);
        if (arrival == Arrival::EndOfFile) Close(id);
        if (arrival == Arrival::OtherUser) RefuseOtherUser(id);
        if (arrival != Arrival::Packet) break;
        const std::string_view bytes = std::string_view(buffer_).substr(0, std::min(size, buffer_.size()));
        const std::optional<std::uint32_t> code = protocol::FrameCode(bytes);
        if (!code || (ChannelOf(*code) != Channel::OneWay && ChannelOf(*code) != Channel::Close)) {
          connection.taken = Connection::Taken{std::string(bytes), size};
          break;
        }
        HandlePacket(id, bytes, size);
        continue;
      }
      const Peeked peeked = PeekCode(connection.fd);
      if (peeked.arrival == Arrival::EndOfFile) {
        // Everything it sent has been taken: it goes now, rather than be
        // looked at again by every request until the loop reaches it.
        Close(id);
        break;
      }
      if (peeked.arrival == Arrival::OtherUser) {
        RefuseOtherUser(id);
        break;
      }
      const std::optional<std::uint32_t>& code = peeked.code;
      if (!code || (ChannelOf(*code) != Channel::OneWay && ChannelOf(*code) != Channel::Close)) {
        // Its first packet stays first until it is taken: no need to look
        // again at every request of the others.
        connection.requestFirst = code.has_value();
        break;
      }
      std::size_t size = 0;
      if (ReceivePacket(found->second.fd, buffer_, size) != Arrival::Packet) break;
      HandlePacket(id, std::string_view(buffer_).substr(0, std::min(size, buffer_.size())), size);
    }
  }
}

void Server::RefuseOtherUser(std::uint64_t id) {
  log_.Warning("a client of another user was refused");
  Close(id);
}

void Server::Reply(std::uint64_t id, std::string text) {
  Connection& connection = connections_.at(id);
  connection.outgoing = std::move(text);
  connection.hasOutgoing = true;
  FlushOutgoing(id);
}

void Server::FlushOutgoing(std::uint64_t id) {
  Connection& connection = connections_.at(id);
  const Sending sent = SendPacket(connection.fd, connection.outgoing);
  if (sent == Sending::NotYet) {
    Watch(id);  // the client is not reading yet; try again when it is
    return;
  }
  if (sent == Sending::TooLarge && !connection.largeBuffer) {
    // Most replies fit the socket's own buffer: only a large one costs the
    // system call that makes room for it.
    connection.largeBuffer = true;
    MakeSendRoom(connection.fd, kSendBuffer);
    FlushOutgoing(id);
    return;
  }
  if (sent == Sending::TooLarge && connection.outgoing.size() > kMaxRefusal) {
    // The client is told, rather than left with a closed connection that
    // reads as an empty answer.
    const std::string why =
        "a reply of " + std::to_string(connection.outgoing.size()) + " bytes does not fit in one packet";
    log_.Error(why);
    connection.outgoing = dispatcher_.Refuse(std::nullopt, Result::InternalError, why);
    FlushOutgoing(id);
    return;
  }
  if (sent != Sending::Sent) {
    Close(id);
    return;
  }
  connection.hasOutgoing = false;
  connection.outgoing.clear();
  Watch(id);
}

void Server::DeliverFinished() {
  Deliver(requests_.TakeFinished());
  Deliver(background_.TakeFinished());
}

void Server::Deliver(std::vector<WorkRunner::Finished> finishedWork) {
  for (WorkRunner::Finished& finished : finishedWork) {
    if (finished.connection == 0) {
      log_.Info("background work ended: " + finished.reply);
      continue;
    }
    const auto found = connections_.find(finished.connection);
    if (found == connections_.end()) continue;  // the client has gone
    found->second.awaitingWork = false;
    Reply(finished.connection, std::move(finished.reply));
  }
}

// What a connection waits for: room for its reply, nothing while its work
// runs (a hang-up is reported regardless), otherwise its next frame.
void Server::Watch(std::uint64_t id) {
  Connection& connection = connections_.at(id);
  std::uint32_t wanted = kReadable;
  if (connection.hasOutgoing) {
    wanted = kWritable;
  } else if (connection.awaitingWork) {
    wanted = 0;
  }
  // Most replies go out at once and leave the connection as it was: no
  // system call for that.
  if (wanted == connection.watched) return;
  // Its packets were not reported while it was not read: the batch cannot
  // tell whether it holds any.
  if (wanted == kReadable) batch_.unsettled.push_back(id);
  if (readySet_.Change(connection.fd, id, wanted)) connection.watched = wanted;
}

void Server::Close(std::uint64_t id) {
  const auto found = connections_.find(id);
  if (found == connections_.end()) return;
  // The descriptor is never duplicated: closing it takes it out of the
  // ready set, without a system call of its own.
  CloseConnection(found->second.fd);
  connections_.erase(found);
}

int Server::CloseIdle() {
  const auto now = Clock::now();
  auto next = Clock::time_point::max();
  std::vector<std::uint64_t> idle;
  for (const auto& [id, connection] : connections_) {
    // A client that has sent nothing yet, or leaves its answer unread, holds
    // a connection for nothing. The library keeps its channels open between
    // calls, and closing one would fail its next call: those stay.
    const bool silent = connection.use == Channel::Unknown || connection.hasOutgoing;
    if (connection.awaitingWork || !silent) continue;
    const auto expiry = connection.lastActive + limits_.idle;
    if (expiry <= now) {
      idle.push_back(id);
    } else {
      next = std::min(next, expiry);
    }
  }
  for (std::uint64_t id : idle) Close(id);
  if (!idle.empty()) log_.Info("closed " + std::to_string(idle.size()) + " idle connections");
  if (next == Clock::time_point::max()) return -1;
  return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(next - now).count());
}

// Every connection is taken: the one idle longest goes, one that has sent
// nothing before one that has, unless every one waits for its work.
bool Server::MakeRoom() {
  std::optional<std::uint64_t> oldest;
  const auto rank = [](const Connection& connection) {
    return std::pair{connection.use != Channel::Unknown, connection.lastActive};
  };
  for (const auto& [id, connection] : connections_) {
    if (connection.awaitingWork) continue;
    if (!oldest || rank(connection) < rank(connections_.at(*oldest))) oldest = id;
  }
  if (!oldest) return false;
  Close(*oldest);
  log_.Info("closed the connection idle longest to make room for a new client");
  return true;
}

void Server::Shutdown() {
  if (listener_.fd < 0) return;
  readySet_.Remove(listener_.fd);
  StopListening(listener_);
  stopping_ = true;
  stopping_.notify_all();
  // Work that never started is answered as cancelled; work that runs gives
  // up at its next chance. Whoever waits gets an answer if the socket takes
  // it now.
  const auto answer = [&](std::uint64_t connection, const std::optional<std::string>& reply) {
    const auto found = connections_.find(connection);
    if (found == connections_.end()) return;
    const std::string text = reply.value_or(dispatcher_.Refuse(found->second.awaiting, Result::Cancelled, "the daemon stops"));
    SendPacket(found->second.fd, text);
    found->second.awaitingWork = false;
  };
  for (WorkRunner* runner : {&requests_, &background_}) {
    for (const WorkRunner::Job& job : runner->Stop()) {
      if (job.connection == 0) {
        log_.Info(job.name + (job.folder.empty() ? "" : " of " + job.folder) + ": not started, the daemon stops");
      }
      answer(job.connection, std::nullopt);
    }
  }
  const auto deadline = Clock::now() + limits_.stopGrace / 2;
  for (WorkRunner* runner : {&requests_, &background_}) {
    runner->WaitIdle(std::chrono::duration_cast<std::chrono::milliseconds>(
        std::max(Clock::duration::zero(), deadline - Clock::now())));
    for (WorkRunner::Finished& finished : runner->TakeFinished()) {
      if (finished.connection == 0) log_.Info("background work ended: " + finished.reply);
      answer(finished.connection, finished.reply);
    }
  }
  const std::size_t abandoned = requests_.Running() + background_.Running();
  if (abandoned > 0) {
    log_.Warning(std::to_string(abandoned) + " pieces of work did not give up in time; they are answered as cancelled");
  }
  // Requests waiting for activation changes are answered as cancelled
  // below. The changes themselves are saved first: their acknowledgements
  // use the log and the jobs board, which go with the server.
  deferred_.clear();
  activations_.WaitSettled();
  std::vector<std::uint64_t> ids;
  for (const auto& [id, connection] : connections_) ids.push_back(id);
  for (std::uint64_t id : ids) {
    Connection& connection = connections_.at(id);
    if (connection.awaitingWork) answer(id, std::nullopt);
    if (connection.hasOutgoing) FlushOutgoing(id);
    Close(id);
  }
}

}  // namespace korvane::server
