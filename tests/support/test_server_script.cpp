// What the test server does the same on every transport: frames, answers by
// script, the record of connections and frames, and waiting for a change.
#include "support/test_server.h"

#include "support/test_server_state.h"

#include "protocol/frame.h"

namespace korvane::testing {

Answer Answer::Reply(std::string bytes, std::chrono::milliseconds delay) {
  return {Kind::kReply, std::move(bytes), delay};
}
Answer Answer::CloseWithoutReply(std::chrono::milliseconds delay) {
  return {Kind::kClose, {}, delay};
}
Answer Answer::Never() { return {Kind::kNever, {}, {}}; }

std::string MakeFrame(std::uint32_t code, std::string_view payload) {
  const auto length = static_cast<std::uint32_t>(protocol::kFrameHeaderSize + payload.size());
  return protocol::FrameHeader(length, code).append(payload);
}

std::optional<std::uint32_t> FrameCode(std::string_view frame) { return protocol::FrameCode(frame); }

ServerScript::ServerScript(TestServerOptions& options) : observer(std::move(options.observer)) {
  answers[TestServer::kStopCode] = Answer::Reply("");
  for (auto& [code, answer] : options.answers) answers[code] = std::move(answer);
}

bool ServerScript::Accepting() const {
  std::lock_guard lock(mutex);
  return !paused;
}

void ServerScript::StartServing(std::unique_ptr<DaemonConnection> connection) {
  const std::size_t index = connections.size();
  connections.push_back({static_cast<int>(index) + 1, {}, false});
  ++changes;
  changed.notify_all();
  servers.emplace_back(&ServerScript::Serve, this, index, std::move(connection));
}

void ServerScript::JoinThreads() {
  acceptor.join();
  // The acceptor has ended, so no server thread is added any more.
  for (std::thread& server : servers) server.join();
}

std::string FullPipeName(const std::string& pipeName) {
  return pipeName.starts_with(R"(\\)") ? pipeName : R"(\\.\pipe\)" + pipeName;
}

void ServerScript::Serve(std::size_t index, std::unique_ptr<DaemonConnection> connection) {
  using Received = DaemonConnection::Received;
  using Sent = DaemonConnection::Sent;
  std::string frame;
  for (;;) {
    const Received received = connection->Receive(frame);
    if (received == Received::kStopped) return;
    if (received == Received::kEnd) {
      MarkClientClosed(index);
      return;
    }
    Record(index, frame);
    Tell(TestServerEvent::Kind::kFrame, index, frame);
    const std::optional<std::uint32_t> code = FrameCode(frame);
    if (!code) continue;
    const Answer answer = Resolve(*code);
    if (answer.kind == Answer::Kind::kNever) {
      if (connection->WaitForHangUp()) MarkClientClosed(index);
      return;
    }
    if (answer.kind != Answer::Kind::kIgnore) {
      if (connection->Sleep(answer.delay)) return;
      const bool reply = answer.kind == Answer::Kind::kReply;
      const Sent sent = reply ? connection->Send(answer.bytes) : Sent::kFailed;
      if (sent == Sent::kStopped) return;
      if (sent == Sent::kFailed) {
        // Closed by script, or the client went away, or the reply cannot go
        // out as one packet: ending the connection shows the client a broken
        // pipe, not a hang.
        connection->Close();
        if (!reply) Tell(TestServerEvent::Kind::kHandled, index, frame);
        Tell(TestServerEvent::Kind::kClosed, index);
        return;
      }
    }
    Tell(TestServerEvent::Kind::kHandled, index, frame);
  }
}

Answer ServerScript::Resolve(std::uint32_t code) {
  std::lock_guard lock(mutex);
  if (!next.empty()) {
    Answer answer = std::move(next.front());
    next.pop_front();
    return answer;
  }
  const auto found = answers.find(code);
  return found != answers.end() ? found->second : Answer{};
}

void ServerScript::Record(std::size_t index, const std::string& frame) {
  std::lock_guard lock(mutex);
  connections[index].frames.push_back(frame);
  frames.push_back(frame);
  ++changes;
  changed.notify_all();
}

void ServerScript::MarkClientClosed(std::size_t index) {
  {
    std::lock_guard lock(mutex);
    connections[index].clientClosed = true;
    ++changes;
    changed.notify_all();
  }
  Tell(TestServerEvent::Kind::kClosed, index);
}

void ServerScript::Tell(TestServerEvent::Kind kind, std::size_t index, std::string_view frame) const {
  if (observer) observer({kind, static_cast<int>(index) + 1, frame});
}

TestServer::TestServer(std::string pipeName, int backlog)
    : TestServer(TestServerOptions{.pipeName = std::move(pipeName), .backlog = backlog, .answers = {}, .observer = {}}) {}

void TestServer::On(std::uint32_t code, Answer answer) {
  ServerScript& script = Script();
  std::lock_guard lock(script.mutex);
  script.answers[code] = std::move(answer);
}

void TestServer::Next(Answer answer) {
  ServerScript& script = Script();
  std::lock_guard lock(script.mutex);
  script.next.push_back(std::move(answer));
}

std::vector<Connection> TestServer::Connections() const {
  const ServerScript& script = Script();
  std::lock_guard lock(script.mutex);
  return script.connections;
}

std::vector<std::string> TestServer::Frames() const {
  const ServerScript& script = Script();
  std::lock_guard lock(script.mutex);
  return script.frames;
}

bool TestServer::WaitUntil(const std::function<bool(const TestServer&)>& condition,
                           std::chrono::milliseconds limit) const {
  const ServerScript& script = Script();
  const auto deadline = std::chrono::steady_clock::now() + limit;
  std::unique_lock lock(script.mutex);
  for (;;) {
    const std::uint64_t seen = script.changes;
    // The condition takes snapshots, which lock.
    lock.unlock();
    if (condition(*this)) return true;
    lock.lock();
    if (!script.changed.wait_until(lock, deadline, [&] { return script.changes != seen; })) {
      lock.unlock();
      return condition(*this);
    }
  }
}

void TestServer::PauseAccepting() {
  ServerScript& script = Script();
  std::lock_guard lock(script.mutex);
  script.paused = true;
}

RawClient::~RawClient() { Close(); }

}  // namespace korvane::testing
