// The test server over Windows message-mode named pipes: an accept
// thread that keeps `backlog` pipe instances listening, and one thread per
// accepted instance. All I/O is overlapped and waits on the daemon's stop
// event too, so no delay, read or large write can hold up the destructor.
#include "support/test_server.h"

#include "support/test_server_state.h"
#include "support/windows/windows_helpers.h"

#include "platform/windows_api.h"

#include <winternl.h>

#include <algorithm>
#include <deque>
#include <memory>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace korvane::testing {
namespace {

// Pipe buffer sizes: a hint only; longer messages wait for the reader.
constexpr DWORD kPipeBuffer = 64 * 1024;
constexpr std::size_t kReadChunk = 64 * 1024;
// WaitForMultipleObjects takes 64 handles, one of which is the stop event.
constexpr int kMaxListening = MAXIMUM_WAIT_OBJECTS - 1;
constexpr auto kBusyWait = std::chrono::seconds(5);
// How often a connection answered with Never() looks at its pipe's state.
constexpr DWORD kHangUpPollMs = 10;

UniqueHandle NewEvent() { return Checked(::CreateEventW(nullptr, TRUE, FALSE, nullptr), "CreateEventW"); }

// How an overlapped operation on a pipe ended.
enum class Outcome { kDone, kMoreData, kEnded, kStopped, kTimedOut };

// Waits for the overlapped ReadFile or WriteFile (which returned `started`).
// When `stop` (if any) is signalled or `limit` passes first, the operation is
// cancelled and its cancellation waited for, so that its buffer and
// OVERLAPPED may go. Every failure but a message longer than the buffer
// counts as the end of the pipe.
Outcome Complete(HANDLE pipe, OVERLAPPED& overlapped, BOOL started, HANDLE stop, DWORD limit, DWORD& bytes) {
  bytes = 0;
  if (!started) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_IO_PENDING && error != ERROR_MORE_DATA) return Outcome::kEnded;
  }
  const HANDLE handles[] = {overlapped.hEvent, stop};
  const DWORD waited = ::WaitForMultipleObjects(stop != nullptr ? 2 : 1, handles, FALSE, limit);
  const bool finished = waited == WAIT_OBJECT_0;
  if (!finished) ::CancelIoEx(pipe, &overlapped);
  if (::GetOverlappedResult(pipe, &overlapped, &bytes, TRUE)) return Outcome::kDone;
  const DWORD error = ::GetLastError();
  if (error == ERROR_MORE_DATA) return Outcome::kMoreData;
  if (!finished) return waited == WAIT_TIMEOUT ? Outcome::kTimedOut : Outcome::kStopped;
  return Outcome::kEnded;
}

// Reads the next message whole: a read that finds the message longer than
// the buffer (ERROR_MORE_DATA) leaves the rest for the next read.
Outcome ReadMessage(HANDLE pipe, HANDLE event, HANDLE stop, DWORD limit, std::string& message) {
  message.clear();
  std::string chunk(kReadChunk, '\0');
  for (;;) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    const BOOL started = ::ReadFile(pipe, chunk.data(), static_cast<DWORD>(chunk.size()), nullptr, &overlapped);
    DWORD bytes = 0;
    const Outcome outcome = Complete(pipe, overlapped, started, stop, limit, bytes);
    message.append(chunk.data(), bytes);
    if (outcome != Outcome::kMoreData) return outcome;
  }
}

Outcome WriteMessage(HANDLE pipe, HANDLE event, HANDLE stop, std::string_view bytes) {
  OVERLAPPED overlapped{};
  overlapped.hEvent = event;
  const BOOL started = ::WriteFile(pipe, bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, &overlapped);
  DWORD written = 0;
  const Outcome outcome = Complete(pipe, overlapped, started, stop, INFINITE, written);
  return outcome == Outcome::kDone && written != bytes.size() ? Outcome::kEnded : outcome;
}

// NamedPipeState's value for a connected pipe, from the driver kit's headers,
// which mingw-w64 does not put beside <windows.h>.
constexpr ULONG kPipeConnectedState = 3;
using QueryInformationFile = decltype(&::NtQueryInformationFile);

// Whether the client end is still open. Its close shows in the server end's
// state even while messages it sent are unread, where PeekNamedPipe and
// ReadFile would still hand out data.
bool ClientConnected(HANDLE pipe) {
  static const auto query = NtFunction<QueryInformationFile>("NtQueryInformationFile");
  FILE_PIPE_LOCAL_INFORMATION information{};
  IO_STATUS_BLOCK status{};
  if (query == nullptr || query(pipe, &status, &information, sizeof(information), FilePipeLocalInformation) < 0) {
    return false;
  }
  return information.NamedPipeState == kPipeConnectedState;
}

struct Instance {
  UniqueHandle pipe;
  UniqueHandle event = NewEvent();
  OVERLAPPED connect{};  // ConnectNamedPipe's, while listening
  // ERROR_IO_PENDING while `connect` is under way; else how ConnectNamedPipe
  // ended at once (0, ERROR_PIPE_CONNECTED, ...), which `connect` does not
  // hold.
  DWORD connectError = ERROR_IO_PENDING;
};

class PipeConnection final : public DaemonConnection {
 public:
  PipeConnection(std::unique_ptr<Instance> instance, HANDLE stop) : instance_(std::move(instance)), stop_(stop) {}

  Received Receive(std::string& frame) override {
    const Outcome read = ReadMessage(instance_->pipe.get(), instance_->event.get(), stop_, INFINITE, frame);
    if (read == Outcome::kDone) return Received::kFrame;
    return read == Outcome::kStopped ? Received::kStopped : Received::kEnd;
  }

  Sent Send(const std::string& bytes) override {
    const Outcome sent = WriteMessage(instance_->pipe.get(), instance_->event.get(), stop_, bytes);
    if (sent == Outcome::kStopped) return Sent::kStopped;
    return sent == Outcome::kDone ? Sent::kSent : Sent::kFailed;
  }

  // Looks at the pipe's state rather than reading, so later messages stay in
  // the pipe.
  bool WaitForHangUp() override {
    while (::WaitForSingleObject(stop_, kHangUpPollMs) == WAIT_TIMEOUT) {
      if (!ClientConnected(instance_->pipe.get())) return true;
    }
    return false;
  }

  bool Sleep(std::chrono::milliseconds delay) override {
    const auto ms = std::clamp<std::int64_t>(delay.count(), 0, INFINITE - 1);
    return ::WaitForSingleObject(stop_, static_cast<DWORD>(ms)) == WAIT_OBJECT_0;
  }

  // Closing without DisconnectNamedPipe leaves what the client has not read
  // yet readable, then ERROR_BROKEN_PIPE: a socket's close.
  void Close() override { instance_.reset(); }

 private:
  std::unique_ptr<Instance> instance_;
  HANDLE stop_;
};

}  // namespace

struct TestServer::State : ServerScript {
  explicit State(TestServerOptions options);
  ~State();

  std::unique_ptr<Instance> Listen();
  void AcceptLoop();
  void AcceptOne(std::size_t position);

  std::string pipeName;  // the full name, UTF-8
  std::wstring widePipeName;
  UniqueHandle stop = NewEvent();   // set once by the destructor
  // The instances waiting for a client, oldest first; the accept thread's
  // alone once it runs.
  std::deque<std::unique_ptr<Instance>> listening;
};

TestServer::State::State(TestServerOptions options)
    : ServerScript(options), pipeName(FullPipeName(options.pipeName)), widePipeName(Wide(pipeName)) {
  // The first instance makes the name; a failure there is the daemon's.
  const int count = std::clamp(options.backlog, 1, kMaxListening);
  for (int i = 0; i < count; ++i) {
    std::unique_ptr<Instance> instance = Listen();
    if (!instance) ThrowLastError("CreateNamedPipeW " + pipeName);
    listening.push_back(std::move(instance));
  }
}

// Runs once every thread has ended: only listening instances are left, and
// their ConnectNamedPipe must end before its OVERLAPPED goes.
TestServer::State::~State() {
  for (const std::unique_ptr<Instance>& instance : listening) {
    if (instance->connectError != ERROR_IO_PENDING) continue;
    DWORD ignored = 0;
    ::CancelIoEx(instance->pipe.get(), &instance->connect);
    ::GetOverlappedResult(instance->pipe.get(), &instance->connect, &ignored, TRUE);
  }
}

// A new instance with ConnectNamedPipe under way, or nothing (the error in
// GetLastError) when the instance cannot be made. A client that came between
// the two calls, or came and went, shows as a connection at once.
std::unique_ptr<Instance> TestServer::State::Listen() {
  auto instance = std::make_unique<Instance>();
  instance->pipe.reset(::CreateNamedPipeW(
      widePipeName.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
      PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, PIPE_UNLIMITED_INSTANCES,
      kPipeBuffer, kPipeBuffer, 0, nullptr));
  if (instance->pipe.get() == INVALID_HANDLE_VALUE) return nullptr;
  instance->connect.hEvent = instance->event.get();
  instance->connectError = ::ConnectNamedPipe(instance->pipe.get(), &instance->connect) ? 0 : ::GetLastError();
  if (instance->connectError != ERROR_IO_PENDING) ::SetEvent(instance->event.get());
  return instance;
}

void TestServer::State::AcceptLoop() {
  for (;;) {
    std::vector<HANDLE> handles = {stop.get()};
    if (Accepting()) {
      for (const std::unique_ptr<Instance>& instance : listening) handles.push_back(instance->event.get());
    }
    const DWORD waited =
        ::WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, INFINITE);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_FAILED) return;
    if (waited > WAIT_OBJECT_0 && waited < WAIT_OBJECT_0 + handles.size()) AcceptOne(waited - WAIT_OBJECT_0 - 1);
  }
}

void TestServer::State::AcceptOne(std::size_t position) {
  // Accepting under the lock is what makes PauseAccepting() take effect at
  // once.
  std::lock_guard lock(mutex);
  if (paused) return;
  std::unique_ptr<Instance> instance = std::move(listening[position]);
  listening.erase(listening.begin() + static_cast<std::ptrdiff_t>(position));
  if (std::unique_ptr<Instance> replacement = Listen()) listening.push_back(std::move(replacement));
  DWORD error = instance->connectError;
  DWORD ignored = 0;
  if (error == ERROR_IO_PENDING) {
    error = ::GetOverlappedResult(instance->pipe.get(), &instance->connect, &ignored, FALSE) ? 0 : ::GetLastError();
  }
  // ERROR_NO_DATA: the client came and went already; served, it shows as a
  // connection its client closed, as on POSIX.
  if (error != 0 && error != ERROR_PIPE_CONNECTED && error != ERROR_NO_DATA) return;
  StartServing(std::make_unique<PipeConnection>(std::move(instance), stop.get()));
}

TestServer::TestServer(TestServerOptions options) : state_(std::make_unique<State>(std::move(options))) {
  state_->acceptor = std::thread(&State::AcceptLoop, state_.get());
}

TestServer::~TestServer() {
  ::SetEvent(state_->stop.get());
  state_->JoinThreads();
}

ServerScript& TestServer::Script() const { return *state_; }

const std::string& TestServer::SocketPath() const { return state_->pipeName; }

RawClient::RawClient(const std::string& socketPath) {
  const std::wstring name = Wide(socketPath);
  const auto deadline = std::chrono::steady_clock::now() + kBusyWait;
  HANDLE pipe;
  for (;;) {
    pipe = ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                         nullptr);
    if (pipe != INVALID_HANDLE_VALUE) break;
    const DWORD error = ::GetLastError();
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (error != ERROR_PIPE_BUSY || left.count() <= 0) {
      throw std::system_error(static_cast<int>(error), std::system_category(), "open " + socketPath);
    }
    // Fails at once when the name went away; the next open tells why.
    ::WaitNamedPipeW(name.c_str(), static_cast<DWORD>(left.count()));
  }
  handle_ = reinterpret_cast<std::intptr_t>(pipe);
  DWORD mode = PIPE_READMODE_MESSAGE;
  if (!::SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr)) {
    const std::system_error error(static_cast<int>(::GetLastError()), std::system_category(), "message mode");
    Close();
    throw error;
  }
}

bool RawClient::Send(std::string_view bytes) {
  const UniqueHandle event = NewEvent();
  return WriteMessage(reinterpret_cast<HANDLE>(handle_), event.get(), nullptr, bytes) == Outcome::kDone;
}

std::optional<std::string> RawClient::Receive(std::chrono::milliseconds limit) {
  const UniqueHandle event = NewEvent();
  const auto ms = std::clamp<std::int64_t>(limit.count(), 0, INFINITE - 1);
  std::string message;
  const HANDLE pipe = reinterpret_cast<HANDLE>(handle_);
  const Outcome read = ReadMessage(pipe, event.get(), nullptr, static_cast<DWORD>(ms), message);
  if (read == Outcome::kTimedOut) throw std::runtime_error("no message and no end of pipe within the limit");
  if (read == Outcome::kDone) return message;
  return std::nullopt;
}

void RawClient::Close() {
  if (handle_ != -1) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = -1;
}

}  // namespace korvane::testing
