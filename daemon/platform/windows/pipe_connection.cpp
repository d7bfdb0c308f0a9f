#include "daemon/platform/pipe_connection.h"

#include "daemon/platform/ready_set.h"
#include "daemon/platform/windows/pipe_instance.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

namespace korvane::server {

namespace windows {

namespace {

// The pipe's own buffers, and the room a connection gives a packet it sends
// until asked for more.
constexpr DWORD kPipeBuffer = 64 * 1024;
// The first read of a message; a longer one is read on through
// ERROR_MORE_DATA.
constexpr std::size_t kFirstRead = 4 * 1024;
// A message is kept whole up to this; of a longer one only its size is
// counted (its tail is read into a scratch buffer and dropped).
constexpr std::size_t kMaxKept = 1 << 20;
constexpr DWORD kDiscardChunk = 64 * 1024;
// How long a close waits for the system to end a cancelled operation.
constexpr DWORD kCancelWaitMs = 1000;

// Tails no one keeps are read here, by every instance at once.
char discarded[kDiscardChunk];

std::mutex registryMutex;
std::map<NativeHandle, std::shared_ptr<PipeEnd>>& Registry() {
  static std::map<NativeHandle, std::shared_ptr<PipeEnd>> ends;
  return ends;
}

// Instances whose cancelled I/O did not end in time: their buffers must
// outlive it, so they are never freed.
std::vector<std::shared_ptr<PipeInstance>>& Abandoned() {
  static std::vector<std::shared_ptr<PipeInstance>> instances;
  return instances;
}

}  // namespace

void RegisterPipeEnd(NativeHandle handle, std::shared_ptr<PipeEnd> end) {
  std::lock_guard lock(registryMutex);
  Registry()[handle] = std::move(end);
}

std::shared_ptr<PipeEnd> FindPipeEnd(NativeHandle handle) {
  std::lock_guard lock(registryMutex);
  const auto found = Registry().find(handle);
  return found == Registry().end() ? nullptr : found->second;
}

void ForgetPipeEnd(NativeHandle handle) {
  std::shared_ptr<PipeEnd> end;  // freed outside the lock
  std::lock_guard lock(registryMutex);
  if (const auto found = Registry().find(handle); found != Registry().end()) {
    end = std::move(found->second);
    Registry().erase(found);
  }
}

std::shared_ptr<PipeInstance> PipeInstance::Create(const std::wstring& name, SECURITY_ATTRIBUTES* security, bool first,
                                                   std::shared_ptr<std::atomic<std::size_t>> live) {
  const DWORD openMode = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
  const DWORD pipeMode = PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS;
  HANDLE pipe = ::CreateNamedPipeW(name.c_str(), openMode, pipeMode, PIPE_UNLIMITED_INSTANCES, kPipeBuffer,
                                   kPipeBuffer, 0, security);
  if (pipe == INVALID_HANDLE_VALUE) return nullptr;
  HANDLE inbound = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE outbound = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (inbound == nullptr || outbound == nullptr) {
    const DWORD error = ::GetLastError();
    for (HANDLE handle : {pipe, inbound, outbound}) {
      if (handle != nullptr) ::CloseHandle(handle);
    }
    ::SetLastError(error);
    return nullptr;
  }
  return std::shared_ptr<PipeInstance>(new PipeInstance(pipe, inbound, outbound, std::move(live)));
}

PipeInstance::PipeInstance(HANDLE pipe, HANDLE inbound, HANDLE outbound,
                           std::shared_ptr<std::atomic<std::size_t>> live)
    : pipe_(pipe), room_(kPipeBuffer), live_(std::move(live)) {
  inbound_.hEvent = inbound;
  outbound_.hEvent = outbound;
  ++*live_;
}

PipeInstance::~PipeInstance() {
  // No one else holds it: the wait for cancelled I/O to end is not cut short.
  CloseWithin(INFINITE);
  ::CloseHandle(inbound_.hEvent);
  ::CloseHandle(outbound_.hEvent);
}

void PipeInstance::Reset(OVERLAPPED& overlapped) {
  HANDLE event = overlapped.hEvent;
  std::memset(&overlapped, 0, sizeof overlapped);
  overlapped.hEvent = event;
}

bool PipeInstance::Bind(HANDLE port) {
  if (port_ == port) return true;
  if (port_ != nullptr || state_ == State::Closed) return false;
  if (::CreateIoCompletionPort(pipe_, port, kPipeIoKey, 0) == nullptr) return false;
  port_ = port;
  return true;
}

void PipeInstance::StartListening() {
  if (state_ != State::Created) return;
  Reset(inbound_);
  if (::ConnectNamedPipe(pipe_, &inbound_)) {
    state_ = State::Listening;  // done already; its result is taken as any other
    return;
  }
  switch (::GetLastError()) {
    case ERROR_IO_PENDING:
      state_ = State::Listening;
      return;
    case ERROR_PIPE_CONNECTED:
      // The client came before the wait for it: no completion follows.
      OnConnected();
      return;
    case ERROR_NO_DATA:
      // The client came and went: the instance is freed for the next one.
      ::DisconnectNamedPipe(pipe_);
      StartListening();
      return;
    default:
      Close();  // the listener drops it and makes another
      return;
  }
}

bool PipeInstance::Connected() {
  TakeFinishedIo();
  return state_ == State::Connected || state_ == State::Ended;
}

void PipeInstance::FinishConnect() {
  DWORD ignored = 0;
  if (::GetOverlappedResult(pipe_, &inbound_, &ignored, FALSE)) {
    OnConnected();
    return;
  }
  // A client that closed before it was seen leaves the instance to listen
  // again.
  ::DisconnectNamedPipe(pipe_);
  state_ = State::Created;
  StartListening();
}

void PipeInstance::OnConnected() {
  state_ = State::Connected;
  BeginMessage();
}

void PipeInstance::BeginMessage() {
  hasMessage_ = false;
  kept_ = 0;
  size_ = 0;
  if (message_.size() != kFirstRead) {
    message_.resize(kFirstRead);
    message_.shrink_to_fit();
  }
  readingKept_ = true;
  ReadInto(message_.data(), kFirstRead);
}

void PipeInstance::ReadInto(char* into, std::size_t size) {
  Reset(inbound_);
  if (!::ReadFile(pipe_, into, static_cast<DWORD>(size), nullptr, &inbound_)) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_IO_PENDING && error != ERROR_MORE_DATA) {
      state_ = State::Ended;
      return;
    }
  }
  reading_ = true;
}

void PipeInstance::FinishRead() {
  reading_ = false;
  DWORD got = 0;
  const bool whole = ::GetOverlappedResult(pipe_, &inbound_, &got, FALSE);
  const DWORD error = whole ? ERROR_SUCCESS : ::GetLastError();
  if (!whole && error != ERROR_MORE_DATA) {
    state_ = State::Ended;  // the client closed, or the pipe broke
    return;
  }
  size_ += got;
  if (readingKept_) kept_ += got;
  if (whole) {
    hasMessage_ = true;
    return;
  }
  ReadRestOfMessage();
}

void PipeInstance::ReadRestOfMessage() {
  DWORD left = 0;
  if (!::PeekNamedPipe(pipe_, nullptr, 0, nullptr, nullptr, &left) || left == 0) left = kDiscardChunk;
  if (kept_ < kMaxKept) {
    const std::size_t more = std::min<std::size_t>(left, kMaxKept - kept_);
    message_.resize(kept_ + more);
    readingKept_ = true;
    ReadInto(message_.data() + kept_, more);
    return;
  }
  readingKept_ = false;
  ReadInto(discarded, std::min<DWORD>(left, kDiscardChunk));
}

void PipeInstance::FinishWrite() {
  writing_ = false;
  DWORD written = 0;
  if (!::GetOverlappedResult(pipe_, &outbound_, &written, FALSE)) state_ = State::Ended;
  outgoing_.clear();
  if (outgoing_.capacity() > kPipeBuffer) outgoing_.shrink_to_fit();
}

void PipeInstance::TakeFinishedIo() {
  if (state_ == State::Listening && HasOverlappedIoCompleted(&inbound_)) FinishConnect();
  // A read that ends finds the next part of its message there at once:
  // the whole message is taken in one go.
  while (reading_ && HasOverlappedIoCompleted(&inbound_)) FinishRead();
  if (writing_ && HasOverlappedIoCompleted(&outbound_)) FinishWrite();
}

std::uint32_t PipeInstance::Poll() {
  TakeFinishedIo();
  switch (state_) {
    case State::Connected:
      return (hasMessage_ ? kReadable : 0u) | (writing_ ? 0u : kWritable);
    case State::Ended:
      return kReadable | kHungUp;
    case State::Closed:
      return kFailed;
    case State::Created:
    case State::Listening:
      break;
  }
  return 0;
}

Arrival PipeInstance::Receive(char* into, std::size_t capacity, std::size_t& size, bool peek) {
  TakeFinishedIo();
  if (hasMessage_) {
    if (capacity > 0) std::memcpy(into, message_.data(), std::min(capacity, kept_));
    size = size_;
    if (!peek) BeginMessage();
    return Arrival::Packet;
  }
  // Messages sent before the client closed are all taken before its end.
  return state_ == State::Connected ? Arrival::NotYet : Arrival::EndOfFile;
}

Sending PipeInstance::Send(std::string_view packet) {
  TakeFinishedIo();
  if (state_ != State::Connected) return Sending::Failed;
  if (writing_) return Sending::NotYet;
  if (packet.size() > room_) return Sending::TooLarge;
  outgoing_.assign(packet);
  Reset(outbound_);
  if (!::WriteFile(pipe_, outgoing_.data(), static_cast<DWORD>(outgoing_.size()), nullptr, &outbound_) &&
      ::GetLastError() != ERROR_IO_PENDING) {
    outgoing_.clear();
    state_ = State::Ended;
    return Sending::Failed;
  }
  // Written into the pipe, or on its way as the client reads: a packet
  // larger than the pipe's buffer goes out while the loop serves others.
  writing_ = true;
  TakeFinishedIo();
  return Sending::Sent;
}

void PipeInstance::Close() { CloseWithin(kCancelWaitMs); }

void PipeInstance::CloseWithin(DWORD waitMs) {
  if (state_ == State::Closed) return;
  const bool inboundPending = reading_ || state_ == State::Listening;
  if (inboundPending || writing_) ::CancelIoEx(pipe_, nullptr);
  bool ended = true;
  if (inboundPending) ended = ::WaitForSingleObject(inbound_.hEvent, waitMs) == WAIT_OBJECT_0;
  if (writing_) ended = ::WaitForSingleObject(outbound_.hEvent, waitMs) == WAIT_OBJECT_0 && ended;
  // Not disconnected: a reply written before the close stays readable.
  ::CloseHandle(pipe_);
  pipe_ = INVALID_HANDLE_VALUE;
  state_ = State::Closed;
  reading_ = writing_ = hasMessage_ = false;
  --*live_;
  if (!ended) {
    // The system may still write into its buffers: they are kept for good.
    std::lock_guard lock(registryMutex);
    Abandoned().push_back(shared_from_this());
  }
}

namespace {

std::shared_ptr<PipeInstance> FindConnection(NativeHandle connection) {
  return std::dynamic_pointer_cast<PipeInstance>(FindPipeEnd(connection));
}

}  // namespace

}  // namespace windows

Arrival ReceivePacket(NativeHandle connection, std::string& buffer, std::size_t& size) {
  const auto instance = windows::FindConnection(connection);
  return instance ? instance->Receive(buffer.data(), buffer.size(), size, false) : Arrival::EndOfFile;
}

Arrival PeekPacket(NativeHandle connection, char* into, std::size_t capacity, std::size_t& size) {
  const auto instance = windows::FindConnection(connection);
  return instance ? instance->Receive(into, capacity, size, true) : Arrival::EndOfFile;
}

Sending SendPacket(NativeHandle connection, std::string_view packet) {
  const auto instance = windows::FindConnection(connection);
  return instance ? instance->Send(packet) : Sending::Failed;
}

void MakeSendRoom(NativeHandle connection, int bytes) {
  if (const auto instance = windows::FindConnection(connection); instance && bytes > 0) instance->MakeRoom(bytes);
}

void CloseConnection(NativeHandle connection) {
  if (const auto instance = windows::FindConnection(connection)) {
    instance->Close();
    windows::ForgetPipeEnd(connection);
  }
}

}  // namespace korvane::server
