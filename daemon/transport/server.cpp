#include "daemon/transport/server.h"

#include "daemon/store/service_config.h"

#include "platform/posix/seqpacket.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvane::server {

namespace {

// Identities in the epoll data; connections count up from kFirstConnection.
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

[[noreturn]] void Fail(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

enum class Arrival { Packet, EndOfFile, NotYet };

// The next packet, cut at the buffer's size; size receives its real size.
// Failures end the connection as end-of-file does.
Arrival Receive(int fd, std::string& buffer, std::size_t& size) {
  const posix::PacketArrival arrival = posix::ReceivePacket(fd, buffer.data(), buffer.size());
  switch (arrival.kind) {
    case posix::PacketArrival::Kind::Packet:
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

struct Peeked {
  std::optional<std::uint32_t> code;  // nothing when no whole header waits
  bool ended = false;                 // the client has closed (or failed) and sent nothing more
};

// The code of the next packet, without taking it.
Peeked PeekCode(int fd) {
  char header[protocol::kFrameHeaderSize];
  const posix::PacketArrival arrival = posix::ReceivePacket(fd, header, sizeof header, true);
  if (arrival.kind == posix::PacketArrival::Kind::EndOfFile || arrival.kind == posix::PacketArrival::Kind::Failed) {
    return {std::nullopt, true};
  }
  if (arrival.kind != posix::PacketArrival::Kind::Packet || arrival.size < sizeof header) return {};
  return {protocol::FrameCode(std::string_view(header, sizeof header))};
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
      self_(geteuid()),
      nextId_(kFirstConnection),
      buffer_(kMaxPacketSize + 1, '\0'),
      ready_(kMaxConnections + 8) {
  epoll_ = epoll_create1(EPOLL_CLOEXEC);
  if (epoll_ < 0) Fail("epoll_create1");
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&stopSignals, signal);
  signals_ = signalfd(-1, &stopSignals, SFD_CLOEXEC | SFD_NONBLOCK);
  if (signals_ < 0) Fail("signalfd");
  spare_ = open("/dev/null", O_RDONLY | O_CLOEXEC);
  for (auto [fd, id] : {std::pair{listener_.fd, kListener}, {signals_, kSignals},
                        {requests_.ReadyFd(), kFinishedRequests}, {background_.ReadyFd(), kFinishedBackground},
                        {activations_.SettledFd(), kActivationsSettled}}) {
    epoll_event event{EPOLLIN, {.u64 = id}};
    if (epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event) != 0) Fail("epoll_ctl");
  }
}

Server::~Server() {
  Shutdown();
  if (spare_ >= 0) close(spare_);
  close(signals_);
  close(epoll_);
}

void Server::Run() {
  std::array<epoll_event, 64> events;
  while (!stopping_) {
    const int count = epoll_wait(epoll_, events.data(), static_cast<int>(events.size()), CloseIdle());
    if (count < 0) {
      if (errno == EINTR) continue;
      log_.Error(std::string("epoll_wait failed: ") + std::strerror(errno));
      break;
    }
    // Connections in the order they were accepted: a client's later call
    // comes on a later connection, so its one-way changes apply in order.
    std::sort(events.begin(), events.begin() + count,
              [](const epoll_event& a, const epoll_event& b) { return a.data.u64 < b.data.u64; });
    batch_.events = events.data();
    batch_.size = count;
    batch_.whole = count < static_cast<int>(events.size());
    batch_.firstAccepted = nextId_;
    batch_.unsettled.clear();
    for (int i = 0; i < count && !stopping_; ++i) {
      batch_.next = i + 1;
      const std::uint64_t id = events[i].data.u64;
      if (id == kListener) {
        AcceptPending();
      } else if (id == kSignals) {
        signalfd_siginfo info{};
        if (read(signals_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
          log_.Info(std::string("stopping on signal ") + strsignal(static_cast<int>(info.ssi_signo)));
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
    const int fd = accept4(listener_.fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if ((errno == EMFILE || errno == ENFILE) && spare_ >= 0) {
        // Out of descriptors: take the client off the queue with the spare
        // one rather than leave the listener readable for ever.
        close(spare_);
        const int refused = accept(listener_.fd, nullptr, nullptr);
        if (refused >= 0) close(refused);
        spare_ = open("/dev/null", O_RDONLY | O_CLOEXEC);
        log_.Warning("a client was turned away: no descriptor left");
        continue;
      }
      return;  // nothing pending, or the client gave up while queued
    }
    if (!posix::PeerIsTrusted(fd, self_)) {
      close(fd);
      log_.Warning("a client of another user was refused");
      continue;
    }
    if (connections_.size() >= kMaxConnections && !MakeRoom()) {
      close(fd);
      log_.Warning("a client was turned away: too many connections");
      continue;
    }
    const std::uint64_t id = nextId_++;
    connections_[id].fd = fd;
    connections_[id].lastActive = Clock::now();
    epoll_event event{EPOLLIN, {.u64 = id}};
    if (epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event) != 0) {
      connections_.erase(id);
      close(fd);
    }
  }
}

void Server::OnConnectionEvent(std::uint64_t id, std::uint32_t events) {
  const auto found = connections_.find(id);
  if (found == connections_.end()) return;
  Connection& connection = found->second;
  connection.lastActive = Clock::now();
  if (connection.hasOutgoing && (events & (EPOLLOUT | EPOLLERR | EPOLLHUP))) {
    FlushOutgoing(id);
    return;
  }
  if (connection.awaitingWork) {
    // The client left before its work was done; the reply goes nowhere.
    if (events & (EPOLLHUP | EPOLLERR)) Close(id);
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
    connection.requestFirst = false;
    switch (Receive(connection.fd, buffer_, size)) {
      case Arrival::NotYet:
        return;
      case Arrival::EndOfFile:
        Close(id);
        return;
      case Arrival::Packet:
        HandlePacket(id, std::string_view(buffer_).substr(0, std::min(size, buffer_.size())), size);
        // A client sends its next request only once it has read the reply:
        // nothing more waits on a request channel now.
        if (const auto asked = connections_.find(id);
            asked != connections_.end() && asked->second.use == Channel::Request) {
          return;
        }
        break;
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
  Handling handling = dispatcher_.Handle(command, payload);
  if (handling.work) {
    Submit(requests_, id, command, std::move(handling));
  } else {
    Reply(id, handling.reply.value_or(""));
  }
}

void Server::AnswerSettled() {
  std::uint64_t batches = 0;
  [[maybe_unused]] const ssize_t got = read(activations_.SettledFd(), &batches, sizeof batches);
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
  const auto take = [&](const epoll_event* events, int from, int to) {
    for (int i = from; i < to; ++i) {
      const std::uint64_t id = events[i].data.u64;
      if (id == kListener) accepting = true;
      if (id >= kFirstConnection && id != asking && (events[i].events & EPOLLIN)) ids.push_back(id);
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
  // epoll names those at once, rather than a peek at every connection. It
  // reports levels, so what is not taken here is reported again later.
  const int count = epoll_wait(epoll_, ready_.data(), static_cast<int>(ready_.size()), 0);
  take(ready_.data(), 0, count);
  return ids;
}

void Server::Settle(std::uint64_t asking) {
  bool accepting = false;
  std::vector<std::uint64_t> ids = MaybeReadable(asking, accepting);
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
      if (connection.awaitingWork || connection.hasOutgoing || connection.requestFirst) break;
      const Peeked peeked = PeekCode(connection.fd);
      if (peeked.ended) {
        // Everything it sent has been taken: it goes now, rather than be
        // looked at again by every request until the loop reaches it.
        Close(id);
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
      if (Receive(found->second.fd, buffer_, size) != Arrival::Packet) break;
      HandlePacket(id, std::string_view(buffer_).substr(0, std::min(size, buffer_.size())), size);
    }
  }
}

void Server::Reply(std::uint64_t id, std::string text) {
  Connection& connection = connections_.at(id);
  connection.outgoing = std::move(text);
  connection.hasOutgoing = true;
  FlushOutgoing(id);
}

void Server::FlushOutgoing(std::uint64_t id) {
  Connection& connection = connections_.at(id);
  const ssize_t sent =
      send(connection.fd, connection.outgoing.data(), connection.outgoing.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  if (sent < 0 && (errno == EAGAIN || errno == EINTR)) {
    Watch(id);  // the client is not reading yet; try again when it is
    return;
  }
  if (sent < 0 && errno == EMSGSIZE && !connection.largeBuffer) {
    // Most replies fit the socket's own buffer: only a large one costs the
    // system call that makes room for it.
    connection.largeBuffer = true;
    setsockopt(connection.fd, SOL_SOCKET, SO_SNDBUF, &kSendBuffer, sizeof kSendBuffer);
    FlushOutgoing(id);
    return;
  }
  if (sent < 0 && errno == EMSGSIZE && connection.outgoing.size() > kMaxRefusal) {
    // The client is told, rather than left with a closed connection that
    // reads as an empty answer.
    const std::string why =
        "a reply of " + std::to_string(connection.outgoing.size()) + " bytes does not fit in one packet";
    log_.Error(why);
    connection.outgoing = dispatcher_.Refuse(std::nullopt, Result::InternalError, why);
    FlushOutgoing(id);
    return;
  }
  if (sent < 0) {
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
  std::uint32_t wanted = EPOLLIN;
  if (connection.hasOutgoing) {
    wanted = EPOLLOUT;
  } else if (connection.awaitingWork) {
    wanted = 0;
  }
  // Most replies go out at once and leave the connection as it was: no
  // system call for that.
  if (wanted == connection.watched) return;
  // Its packets were not reported while it was not read: the batch cannot
  // tell whether it holds any.
  if (wanted == EPOLLIN) batch_.unsettled.push_back(id);
  epoll_event event{wanted, {.u64 = id}};
  if (epoll_ctl(epoll_, EPOLL_CTL_MOD, connection.fd, &event) == 0) connection.watched = wanted;
}

void Server::Close(std::uint64_t id) {
  const auto found = connections_.find(id);
  if (found == connections_.end()) return;
  // The descriptor is never duplicated: closing it takes it out of the
  // epoll set, without a system call of its own.
  close(found->second.fd);
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
  epoll_ctl(epoll_, EPOLL_CTL_DEL, listener_.fd, nullptr);
  close(listener_.fd);
  listener_.fd = -1;
  struct stat status {};
  if (stat(listener_.path.c_str(), &status) == 0 && status.st_ino == listener_.inode) unlink(listener_.path.c_str());
  stopping_ = true;
  stopping_.notify_all();
  // Work that never started is answered as cancelled; work that runs gives
  // up at its next chance. Whoever waits gets an answer if the socket takes
  // it now.
  const auto answer = [&](std::uint64_t connection, const std::optional<std::string>& reply) {
    const auto found = connections_.find(connection);
    if (found == connections_.end()) return;
    const std::string text = reply.value_or(dispatcher_.Refuse(found->second.awaiting, Result::Cancelled, "the daemon stops"));
    send(found->second.fd, text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
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
