// Named-pipe client calls over AF_UNIX SOCK_SEQPACKET sockets: one pipe
// message is one packet, an empty message an empty packet, and the server's
// close is end-of-file. A reply is received whole into the handle and served
// from there, so ERROR_MORE_DATA, PeekNamedPipe and ReadFile behave as on a
// message-mode pipe.
#include "platform/call_named_pipe.h"
#include "platform/pipe_server.h"

#include "errno_to_win32.h"
#include "kernel_object.h"
#include "pipe_path.h"
#include "seqpacket.h"
#include "win32_calls.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <string>

namespace korvane::posix {
namespace {

// Completion states that an OVERLAPPED block carries in Internal, with the
// NTSTATUS values Windows uses.
constexpr ULONG_PTR kStatusSuccess = 0;
constexpr ULONG_PTR kStatusPending = 0x103;
constexpr ULONG_PTR kStatusBufferOverflow = 0x80000005;
constexpr ULONG_PTR kStatusPipeBroken = 0xC000014B;

enum class Arrival { Message, EndOfFile, NotYet, Failed };

struct Received {
  Arrival arrival;
  std::string bytes;
  int error = 0;
};

// Waits until the socket has a packet or end-of-file. False with errno set
// on failure, false with errno 0 when the time ran out. queued tells
// whether a packet was seen queued with the peer still there: a socket
// reports input without a hang-up only for a packet, so a packet of 0
// bytes read next is an empty message, not the end.
bool WaitReadable(int fd, DWORD milliseconds, bool& queued) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
  for (;;) {
    int timeout = -1;
    if (milliseconds != INFINITE) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      timeout = static_cast<int>(std::clamp<long long>(left, 0, INT_MAX));
    }
    pollfd entry{fd, POLLIN | POLLRDHUP, 0};
    int ready = poll(&entry, 1, timeout);
    if (ready > 0) {
      queued = (entry.revents & (POLLIN | POLLRDHUP | POLLHUP | POLLERR)) == POLLIN;
      return true;
    }
    if (ready < 0 && errno != EINTR) return false;
    if (ready == 0 && timeout >= 0 && Clock::now() >= deadline) {
      errno = 0;
      return false;
    }
  }
}

bool WaitWritable(int fd) {
  pollfd entry{fd, POLLOUT, 0};
  int ready;
  do {
    ready = poll(&entry, 1, -1);
  } while (ready < 0 && errno == EINTR);
  return ready > 0;
}

// Takes the next packet whole, if one is there.
Received ReceiveNow(int fd) {
  Received message{Arrival::Message, {}};
  const PacketArrival arrival = ReceiveWholePacket(fd, message.bytes, Credentials::AskedWhenEmpty);
  switch (arrival.kind) {
    case PacketArrival::Kind::Packet:
      return message;
    case PacketArrival::Kind::EndOfFile:
      return {Arrival::EndOfFile, {}};
    case PacketArrival::Kind::NotYet:
      return {Arrival::NotYet, {}};
    case PacketArrival::Kind::Failed:
      break;
  }
  return {Arrival::Failed, {}, arrival.error};
}

// Replies up to this size are taken with one receive: the packet is peeked
// into the handle's buffer and, already served, left queued until the next
// receive or the close discards it. Larger ones are peeked for their size
// and then taken.
constexpr std::size_t kOneReceiveCapacity = 16 * 1024;

class PipeClient final : public KernelObject, public OverlappedOperation {
 public:
  // The connect has checked the server's user; SO_PEERCRED keeps the
  // credentials of the connect for the socket's life, so the answer stands.
  explicit PipeClient(int fd) : fd_(fd) {}
  ~PipeClient() override {
    Abandon();
    close(fd_);
  }
  PipeClient(const PipeClient&) = delete;
  PipeClient& operator=(const PipeClient&) = delete;

  BOOL SetReadMode(DWORD mode) {
    if (mode != PIPE_READMODE_MESSAGE && mode != PIPE_READMODE_BYTE) return Fail(ERROR_INVALID_PARAMETER);
    return TRUE;
  }

  BOOL Transact(const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* bytesRead, OVERLAPPED* overlapped) {
    if (pending_ != nullptr || Unread() > 0) return Fail(ERROR_PIPE_BUSY);
    if (!Send(in, inSize)) return FailWithErrno(errno);
    if (overlapped == nullptr) return FinishSynchronously(ReceiveReply(INFINITE), out, outSize, bytesRead);

    overlapped->Internal = kStatusPending;
    overlapped->InternalHigh = 0;
    auto* event = ObjectFromHandle<EventObject>(overlapped->hEvent);
    if (event != nullptr) event->Reset();
    // The reply is left to the wait, as it is on Windows whenever the server
    // has not answered by the time the request is written: a daemon never
    // has, so looking now would cost a system call for nothing.
    pending_ = overlapped;
    replyBuffer_ = out;
    replySize_ = outSize;
    event_ = event;
    if (event_ != nullptr) event_->AttachOperation(this);
    return Fail(ERROR_IO_PENDING);
  }

  DWORD WaitForCompletion(DWORD milliseconds) override {
    if (pending_ == nullptr) return WAIT_OBJECT_0;
    Received reply = ReceiveReply(milliseconds);
    if (reply.arrival == Arrival::NotYet) return WAIT_TIMEOUT;
    if (reply.arrival == Arrival::Failed) {
      SetLastError(Win32ErrorFromErrno(reply.error));
      return WAIT_FAILED;
    }
    OVERLAPPED* overlapped = pending_;
    EventObject* event = event_;
    Abandon();
    Complete(overlapped, std::move(reply), replyBuffer_, replySize_);
    if (event != nullptr) event->Set();
    return WAIT_OBJECT_0;
  }

  void ForgetEvent() override { event_ = nullptr; }

  BOOL Result(OVERLAPPED* overlapped, DWORD* transferred, BOOL wait) {
    if (overlapped->Internal == kStatusPending) {
      if (overlapped != pending_) return Fail(ERROR_INVALID_PARAMETER);
      if (!wait) return Fail(ERROR_IO_INCOMPLETE);
      if (WaitForCompletion(INFINITE) != WAIT_OBJECT_0) return FALSE;
    }
    if (transferred != nullptr) *transferred = static_cast<DWORD>(overlapped->InternalHigh);
    switch (overlapped->Internal) {
      case kStatusSuccess: return TRUE;
      case kStatusBufferOverflow: return Fail(ERROR_MORE_DATA);
      case kStatusPipeBroken: return Fail(ERROR_BROKEN_PIPE);
      default: return Fail(ERROR_GEN_FAILURE);
    }
  }

  BOOL Peek(void* buffer, DWORD size, DWORD* bytesRead, DWORD* totalAvailable, DWORD* leftThisMessage) {
    DWORD available = 0;
    DWORD copied = 0;
    if (Unread() > 0) {
      available = static_cast<DWORD>(Unread());
      copied = std::min(available, buffer != nullptr ? size : 0u);
      if (copied > 0) std::memcpy(buffer, unread_.data() + unreadOffset_, copied);
    } else if (pending_ == nullptr) {
      DiscardServedPacket();
      const PacketArrival next =
          ReceivePacket(fd_, buffer, buffer != nullptr ? size : 0, true, Credentials::AskedWhenEmpty);
      if (next.kind == PacketArrival::Kind::Failed) return FailWithErrno(next.error);
      if (next.kind == PacketArrival::Kind::EndOfFile) return Fail(ERROR_BROKEN_PIPE);
      if (next.kind == PacketArrival::Kind::Packet && next.size > 0) {
        available = static_cast<DWORD>(next.size);
        copied = std::min(available, buffer != nullptr ? size : 0u);
      }
    }
    if (bytesRead != nullptr) *bytesRead = copied;
    if (totalAvailable != nullptr) *totalAvailable = available;
    if (leftThisMessage != nullptr) *leftThisMessage = available;
    return TRUE;
  }

  BOOL Read(void* buffer, DWORD size, DWORD* bytesRead) {
    if (pending_ != nullptr) return Fail(ERROR_PIPE_BUSY);
    if (Unread() == 0) {
      Received message = ReceiveReply(INFINITE);
      if (message.arrival == Arrival::EndOfFile) return Fail(ERROR_BROKEN_PIPE);
      if (message.arrival != Arrival::Message) return FailWithErrno(message.error);
      unread_ = std::move(message.bytes);
      unreadOffset_ = 0;
    }
    DWORD copied = static_cast<DWORD>(std::min<size_t>(Unread(), size));
    std::memcpy(buffer, unread_.data() + unreadOffset_, copied);
    unreadOffset_ += copied;
    if (bytesRead != nullptr) *bytesRead = copied;
    return Unread() == 0 ? TRUE : Fail(ERROR_MORE_DATA);
  }

  BOOL Write(const void* buffer, DWORD size, DWORD* bytesWritten) {
    if (bytesWritten != nullptr) *bytesWritten = 0;
    if (!Send(buffer, size)) return FailWithErrno(errno);
    if (bytesWritten != nullptr) *bytesWritten = size;
    return TRUE;
  }

  BOOL Disconnect() {
    shutdown(fd_, SHUT_RDWR);
    return TRUE;
  }

 private:
  size_t Unread() const { return unread_.size() - unreadOffset_; }

  // The next packet, whole, waiting up to the time given. One receive when
  // it fits the handle's buffer (see kOneReceiveCapacity).
  Received ReceiveReply(DWORD milliseconds) {
    DiscardServedPacket();
    bool queued = false;
    if (milliseconds != 0 && !WaitReadable(fd_, milliseconds, queued)) {
      if (errno == 0) return {Arrival::NotYet, {}};
      return {Arrival::Failed, {}, errno};
    }
    if (!peekBuffer_) peekBuffer_.reset(new (std::nothrow) char[kOneReceiveCapacity]);
    if (!peekBuffer_) return ReceiveNow(fd_);
    // A packet seen queued needs no credentials to tell it from the end.
    const PacketArrival next = ReceivePacket(fd_, peekBuffer_.get(), kOneReceiveCapacity, true,
                                             queued ? Credentials::Passed : Credentials::AskedWhenEmpty);
    switch (next.kind) {
      case PacketArrival::Kind::Packet:
        break;
      case PacketArrival::Kind::EndOfFile:
        if (queued && next.error == 0) break;  // the empty message seen queued, not a reset since
        return {Arrival::EndOfFile, {}};
      case PacketArrival::Kind::NotYet:
        return {Arrival::NotYet, {}};
      case PacketArrival::Kind::Failed:
        return {Arrival::Failed, {}, next.error};
    }
    if (next.size > kOneReceiveCapacity) return ReceiveNow(fd_);
    Received message{Arrival::Message, {}};
    try {
      message.bytes.assign(peekBuffer_.get(), next.size);
    } catch (const std::bad_alloc&) {
      return {Arrival::Failed, {}, ENOMEM};
    }
    servedStillQueued_ = true;
    return message;
  }

  // Takes off the queue the packet that was peeked and served already.
  void DiscardServedPacket() {
    if (!servedStillQueued_) return;
    ReceivePacket(fd_, nullptr, 0);
    servedStillQueued_ = false;
  }

  // The socket stays non-blocking; a send that finds no room waits for it.
  bool Send(const void* buffer, DWORD size) {
    for (;;) {
      ssize_t sent = send(fd_, buffer, size, MSG_NOSIGNAL);
      if (sent == static_cast<ssize_t>(size)) return true;
      if (sent >= 0 || (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)) return false;
      if (errno != EINTR && !WaitWritable(fd_)) return false;
    }
  }

  // Puts a received reply into the caller's buffer and the OVERLAPPED block;
  // what does not fit stays for PeekNamedPipe and ReadFile.
  void Complete(OVERLAPPED* overlapped, Received reply, void* out, DWORD outSize) {
    if (reply.arrival == Arrival::EndOfFile) {
      overlapped->Internal = kStatusPipeBroken;
      overlapped->InternalHigh = 0;
      return;
    }
    size_t copied = std::min<size_t>(reply.bytes.size(), outSize);
    if (copied > 0) std::memcpy(out, reply.bytes.data(), copied);
    overlapped->InternalHigh = copied;
    overlapped->Internal = copied == reply.bytes.size() ? kStatusSuccess : kStatusBufferOverflow;
    unread_ = std::move(reply.bytes);
    unreadOffset_ = copied;
  }

  BOOL FinishSynchronously(Received reply, void* out, DWORD outSize, DWORD* bytesRead) {
    if (reply.arrival == Arrival::Failed) return FailWithErrno(reply.error);
    OVERLAPPED block{};
    Complete(&block, std::move(reply), out, outSize);
    if (bytesRead != nullptr) *bytesRead = static_cast<DWORD>(block.InternalHigh);
    return Result(&block, nullptr, FALSE);
  }

  // Forgets the transaction in flight; a reply that comes later is never read.
  void Abandon() {
    if (event_ != nullptr) event_->DetachOperation(this);
    event_ = nullptr;
    pending_ = nullptr;
  }

  int fd_;
  std::unique_ptr<char[]> peekBuffer_;  // uninitialised: only what a peek wrote is read
  bool servedStillQueued_ = false;
  std::string unread_;
  size_t unreadOffset_ = 0;
  OVERLAPPED* pending_ = nullptr;
  void* replyBuffer_ = nullptr;
  DWORD replySize_ = 0;
  EventObject* event_ = nullptr;
};

PipeClient* PipeFromHandle(HANDLE handle) {
  auto* pipe = ObjectFromHandle<PipeClient>(handle);
  if (pipe == nullptr) SetLastError(ERROR_INVALID_HANDLE);
  return pipe;
}

bool FillAddress(const std::string& path, sockaddr_un* address) {
  if (path.size() >= sizeof address->sun_path) return false;
  address->sun_family = AF_UNIX;
  std::memcpy(address->sun_path, path.c_str(), path.size() + 1);
  return true;
}

HANDLE FailHandle(DWORD error) {
  SetLastError(error);
  return INVALID_HANDLE_VALUE;
}

}  // namespace
}  // namespace korvane::posix

using namespace korvane::posix;

HANDLE CreateFileA(LPCSTR fileName, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD creationDisposition, DWORD, HANDLE) {
  if (fileName == nullptr || creationDisposition != OPEN_EXISTING) return FailHandle(ERROR_INVALID_PARAMETER);
  auto path = PipeSocketPath(fileName);
  if (!path) return FailHandle(ERROR_INVALID_NAME);
  sockaddr_un address{};
  if (!FillAddress(*path, &address)) return FailHandle(ERROR_FILENAME_EXCED_RANGE);

  // Non-blocking for good: every wait is a poll with its own limit.
  int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return FailHandle(Win32ErrorFromErrno(errno));
  // No SO_PASSCRED: the server's user is read once below, and an empty
  // reply is told from the server's close only when one is read (see
  // seqpacket.h).
  // A non-blocking connect fails with EAGAIN when the listen queue is full:
  // every instance is busy.
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    int error = errno;
    close(fd);
    return FailHandle(Win32ErrorFromErrno(error));
  }
  // Only a server of this user, or of root, may answer.
  if (!PeerIsTrusted(fd)) {
    close(fd);
    return FailHandle(ERROR_ACCESS_DENIED);
  }
  auto* pipe = new (std::nothrow) PipeClient(fd);
  if (pipe == nullptr) {
    close(fd);
    return FailHandle(ERROR_NOT_ENOUGH_MEMORY);
  }
  return pipe;
}

// The stand-in cannot see a free instance without taking it, so it waits the
// time given (a bounded time for the default and "forever") and then lets the
// caller try again; a pipe that does not exist fails at once.
BOOL WaitNamedPipeA(LPCSTR pipeName, DWORD timeoutMs) {
  constexpr DWORD kDefaultWaitMs = 50;
  constexpr DWORD kLongestWaitMs = 1000;
  if (pipeName == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  auto path = PipeSocketPath(pipeName);
  if (!path) return Fail(ERROR_INVALID_NAME);
  struct stat status{};
  if (stat(path->c_str(), &status) != 0) return FailWithErrno(errno);
  Sleep(timeoutMs == 0 ? kDefaultWaitMs : std::min(timeoutMs, kLongestWaitMs));
  return TRUE;
}

BOOL SetNamedPipeHandleState(HANDLE handle, LPDWORD mode, LPDWORD, LPDWORD) {
  PipeClient* pipe = PipeFromHandle(handle);
  if (pipe == nullptr) return FALSE;
  return mode == nullptr ? TRUE : pipe->SetReadMode(*mode);
}

BOOL TransactNamedPipe(HANDLE handle, LPVOID inBuffer, DWORD inSize, LPVOID outBuffer, DWORD outSize,
                       LPDWORD bytesRead, LPOVERLAPPED overlapped) {
  PipeClient* pipe = PipeFromHandle(handle);
  if (pipe == nullptr) return FALSE;
  if ((inBuffer == nullptr && inSize > 0) || (outBuffer == nullptr && outSize > 0)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  return pipe->Transact(inBuffer, inSize, outBuffer, outSize, bytesRead, overlapped);
}

BOOL GetOverlappedResult(HANDLE handle, LPOVERLAPPED overlapped, LPDWORD transferred, BOOL wait) {
  PipeClient* pipe = PipeFromHandle(handle);
  if (pipe == nullptr) return FALSE;
  if (overlapped == nullptr) return Fail(ERROR_INVALID_PARAMETER);
  return pipe->Result(overlapped, transferred, wait);
}

BOOL PeekNamedPipe(HANDLE handle, LPVOID buffer, DWORD bufferSize, LPDWORD bytesRead, LPDWORD totalAvailable,
                   LPDWORD bytesLeftThisMessage) {
  PipeClient* pipe = PipeFromHandle(handle);
  if (pipe == nullptr) return FALSE;
  return pipe->Peek(buffer, bufferSize, bytesRead, totalAvailable, bytesLeftThisMessage);
}

BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD bytesRead, LPOVERLAPPED overlapped) {
  PipeClient* pipe = PipeFromHandle(handle);
  if (pipe == nullptr) return FALSE;
  if (overlapped != nullptr || (buffer == nullptr && toRead > 0)) return Fail(ERROR_INVALID_PARAMETER);
  return pipe->Read(buffer, toRead, bytesRead);
}

BOOL WriteFile(HANDLE handle, LPCVOID buffer, DWORD toWrite, LPDWORD bytesWritten, LPOVERLAPPED overlapped) {
  PipeClient* pipe = PipeFromHandle(handle);
  if (pipe == nullptr) return FALSE;
  if (overlapped != nullptr || (buffer == nullptr && toWrite > 0)) return Fail(ERROR_INVALID_PARAMETER);
  return pipe->Write(buffer, toWrite, bytesWritten);
}

BOOL DisconnectNamedPipe(HANDLE handle) {
  PipeClient* pipe = PipeFromHandle(handle);
  if (pipe == nullptr) return FALSE;
  return pipe->Disconnect();
}

// Opens the pipe (waiting while every instance is busy, up to the time
// limit), sends one message, waits up to the limit for the reply and closes.
BOOL CallNamedPipeA(LPCSTR pipeName, LPVOID inBuffer, DWORD inSize, LPVOID outBuffer, DWORD outSize,
                    LPDWORD bytesRead, DWORD timeoutMs) {
  constexpr DWORD kDefaultTimeoutMs = 50;
  constexpr DWORD kBusyPauseMs = 10;
  if (timeoutMs == NMPWAIT_USE_DEFAULT_WAIT) timeoutMs = kDefaultTimeoutMs;
  const DWORD started = GetTickCount();
  auto timeLeft = [&]() -> DWORD {
    if (timeoutMs == NMPWAIT_WAIT_FOREVER) return INFINITE;
    DWORD spent = GetTickCount() - started;
    return spent >= timeoutMs ? 0 : timeoutMs - spent;
  };

  HANDLE pipe;
  for (;;) {
    pipe = CreateFileA(pipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (pipe != INVALID_HANDLE_VALUE || GetLastError() != ERROR_PIPE_BUSY) break;
    if (timeLeft() == 0) return Fail(ERROR_SEM_TIMEOUT);
    Sleep(kBusyPauseMs);
  }
  if (pipe == INVALID_HANDLE_VALUE) return FALSE;

  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  OVERLAPPED overlapped{};
  overlapped.hEvent = event;
  DWORD read = 0;
  BOOL done = event != nullptr &&
              TransactNamedPipe(pipe, inBuffer, inSize, outBuffer, outSize, &read, &overlapped);
  DWORD error = done ? ERROR_SUCCESS : GetLastError();
  if (!done && event != nullptr && error == ERROR_IO_PENDING) {
    DWORD waited = WaitForSingleObject(event, timeLeft());
    if (waited == WAIT_OBJECT_0) {
      done = GetOverlappedResult(pipe, &overlapped, &read, FALSE);
      error = done ? ERROR_SUCCESS : GetLastError();
    } else {
      error = waited == WAIT_TIMEOUT ? ERROR_SEM_TIMEOUT : GetLastError();
    }
  }
  if (bytesRead != nullptr) *bytesRead = read;
  CloseHandle(pipe);
  if (event != nullptr) CloseHandle(event);
  SetLastError(error);
  return done;
}

namespace korvane::platform {

// The stand-in's CallNamedPipeA already limits the whole call, and its
// connect refuses a server of another user.
BOOL CallNamedPipeWithin(LPCSTR pipeName, LPVOID inBuffer, DWORD inSize, LPVOID outBuffer, DWORD outSize,
                         LPDWORD bytesRead, DWORD timeoutMs) {
  return ::CallNamedPipeA(pipeName, inBuffer, inSize, outBuffer, outSize, bytesRead, timeoutMs);
}

// The connect has already refused a server of another user, and a socket's
// peer credentials are those of the connect for its whole life.
bool PipeServerIsCallingUser(HANDLE pipe) { return PipeFromHandle(pipe) != nullptr; }

}  // namespace korvane::platform
