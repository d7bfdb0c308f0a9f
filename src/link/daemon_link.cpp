// The daemon link's transport: opening the channels, the request/reply
// transaction with its time limit, one-way sends and closing.
#include "link/daemon_link.h"

#include "link/automatic_start.h"
#include "protocol/frame.h"
#include "runtime/debug_trace.h"

#include <cstdint>
#include <cstring>
#include <new>

namespace korvane::link {

using runtime::AprLock;

namespace {
constexpr int kOpenAttempts = 2;
constexpr DWORD kBusyWaitMs = 50;
constexpr int kPeekRetries = 10;
constexpr DWORD kPeekRetryPauseMs = 5;
constexpr DWORD kDaemonStartWaitMs = 1000;
}  // namespace

CDaemonLink::CDaemonLink(HMODULE module, SystemCalls& calls) : module_(module), calls_(calls) {}

// A link is destroyed by the one thread that used it, so its channels close
// without taking the lock.
CDaemonLink::~CDaemonLink() {
  CloseRequestChannel();
  SendCloseFrameAndClose();
}

bool CDaemonLink::InternalEnsurePipeOpen(HANDLE& channel) {
  if (channel != INVALID_HANDLE_VALUE) return true;
  for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
    // Identification level only: the server may learn who calls, never act
    // with the caller's rights.
    HANDLE opened = calls_.CreateFileA(kPipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
    if (opened != INVALID_HANDLE_VALUE) {
      pipeHeldByAnotherUser_ = !calls_.PipeServerIsCallingUser(opened);
      if (pipeHeldByAnotherUser_) {
        // A pipe of another user's process is as good as no daemon, and
        // says so in the thread's last error.
        KORVANE_TRACE(
            "CDaemonLink::InternalEnsurePipeOpen: the daemon pipe is served by a process of another user; "
            "refused\n");
        calls_.CloseHandle(opened);
        ::SetLastError(ERROR_ACCESS_DENIED);
        return false;
      }
      channel = opened;
      break;
    }
    if (calls_.GetLastError() == ERROR_PIPE_BUSY) calls_.WaitNamedPipeA(kPipeName, kBusyWaitMs);
  }
  if (channel == INVALID_HANDLE_VALUE) return false;

  DWORD mode = PIPE_READMODE_MESSAGE;
  if (!calls_.SetNamedPipeHandleState(channel, &mode, nullptr, nullptr)) {
    KORVANE_TRACE("CDaemonLink::InternalEnsurePipeOpen: SetNamedPipeHandleState failed");
    CloseChannel(channel);
    return false;
  }
  return true;
}

bool CDaemonLink::EnsurePipeOpen() {
  AprLock lock(lock_);
  return OpenRequestChannel();
}

bool CDaemonLink::OpenRequestChannel() {
  if (!InternalEnsurePipeOpen(request_)) return false;
  if (event_ != nullptr) return true;
  event_ = calls_.CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (event_ != nullptr) return true;
  KORVANE_TRACE("CDaemonLink::EnsurePipeOpen: CreateEvent failed");
  CloseRequestChannel();
  return false;
}

bool CDaemonLink::EnsurePipeOpenWithRetry(bool startDaemon) {
  if (EnsurePipeOpen()) return true;
  if (!startDaemon) return false;
  if (pipeHeldByAnotherUser_) {
    KORVANE_TRACE("CDaemonLink::EnsurePipeOpenWithRetry: another user's process holds the daemon pipe; no start\n");
    ::SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  if (GetIntegrityLevel() < SECURITY_MANDATORY_MEDIUM_RID) return false;
  AutomaticStartHoldOff& holdOff = AutomaticStartHoldOff::Process();
  if (!holdOff.TryClaim(calls_.GetTickCount())) return false;
  if (!StartDaemon()) {
    holdOff.Release();
    return false;
  }

  auto ticksUntil = [this](DWORD tick) { return static_cast<std::int32_t>(calls_.GetTickCount() - tick); };
  const DWORD deadline = calls_.GetTickCount() + kDaemonStartWaitMs;
  bool opened = EnsurePipeOpen();
  while (!opened && !pipeHeldByAnotherUser_ && ticksUntil(deadline) <= 0) opened = EnsurePipeOpen();
  holdOff.HoldFrom(calls_.GetTickCount());
  if (pipeHeldByAnotherUser_) ::SetLastError(ERROR_ACCESS_DENIED);
  return opened;
}

Exchange CDaemonLink::TransactCommand(Command command, std::optional<std::string_view> payload,
                                      TimeLimitClass limitClass, ChannelOpening opening) {
  // One hold of the lock from the open to the reply.
  AprLock lock(lock_);
  bool open = opening == ChannelOpening::StartDaemonIfMissing ? EnsurePipeOpenWithRetry(true) : OpenRequestChannel();
  if (!open) return {ExchangeEnd::NotConnected};
  try {
    std::optional<std::string> frame = protocol::BuildRequestFrame(command, payload);
    if (!frame) return Fail(ExchangeEnd::TransactionFailed, ERROR_INVALID_PARAMETER);
    return Transact(*frame, limitClass);
  } catch (const std::bad_alloc&) {
    return Fail(ExchangeEnd::TransactionFailed, ERROR_NOT_ENOUGH_MEMORY);
  }
}

// The first byte of the reply travels in the transaction's own one-byte
// buffer; whatever follows is fetched by ReadPipeStringData, sized by a peek.
Exchange CDaemonLink::Transact(const std::string& frame, TimeLimitClass limitClass) {
  std::memset(&overlapped_, 0, sizeof overlapped_);
  overlapped_.hEvent = event_;
  char firstByte = '\0';
  DWORD bytesRead = 0;
  if (calls_.TransactNamedPipe(request_, const_cast<char*>(frame.data()), static_cast<DWORD>(frame.size()),
                               &firstByte, 1, &bytesRead, &overlapped_)) {
    return {ExchangeEnd::Replied, 0, std::string(1, firstByte)};
  }
  DWORD error = calls_.GetLastError();
  if (error == ERROR_MORE_DATA) return ReadRestOfReply(firstByte);
  if (error != ERROR_IO_PENDING) return Fail(ExchangeEnd::TransactionFailed, error);

  DWORD waited = calls_.WaitForSingleObject(event_, LimitOf(limitClass));
  if (waited == WAIT_TIMEOUT) return Fail(ExchangeEnd::WaitTimedOut, WAIT_TIMEOUT);
  if (waited != WAIT_OBJECT_0) return Fail(ExchangeEnd::WaitFailed, ERROR_IO_PENDING);

  DWORD transferred = 0;
  BOOL completed = calls_.GetOverlappedResult(request_, &overlapped_, &transferred, FALSE);
  error = calls_.GetLastError();
  // A reply of one byte that arrived during the wait is as complete as one
  // that was there at once.
  if (completed) return {ExchangeEnd::Replied, 0, std::string(1, firstByte)};
  if (error == ERROR_MORE_DATA) return ReadRestOfReply(firstByte);
  if (error == ERROR_BROKEN_PIPE && transferred == 0) return {ExchangeEnd::ClosedWithoutReply};
  return Fail(ExchangeEnd::ResultFailed, error);
}

Exchange CDaemonLink::ReadRestOfReply(char firstByte) {
  std::string rest;
  if (ReadPipeStringData(rest) == 0) return Fail(ExchangeEnd::ReadFailed, 0);
  rest.insert(rest.begin(), firstByte);
  return {ExchangeEnd::Replied, 0, std::move(rest)};
}

Exchange CDaemonLink::Fail(ExchangeEnd end, DWORD systemError) {
  CloseRequestChannel();
  return {end, systemError};
}

BOOL CDaemonLink::ReadPipeStringData(std::string& text) {
  DWORD peeked = 0;
  DWORD available = 0;
  DWORD leftInMessage = 0;
  long retries = 0;
  while (!calls_.PeekNamedPipe(request_, nullptr, 0, &peeked, &available, &leftInMessage)) {
    calls_.Sleep(kPeekRetryPauseMs);
    if (++retries > kPeekRetries) {
      KORVANE_TRACE(
          "CDaemonLink::ReadPipeStringData: PeekNamedPipe returns 0, server did not write yet, 10 retries and no "
          "data. bail out.\n");
      return 0;
    }
    KORVANE_TRACE(
        "CDaemonLink::ReadPipeStringData: PeekNamedPipe returns 0, server maybe did not write yet, retry %ld of "
        "10\n",
        retries);
  }
  if (available == 0) return 0;

  std::string buffer;
  try {
    buffer.assign(static_cast<std::size_t>(available) + 1, '\0');
  } catch (const std::bad_alloc&) {
    return 0;
  }
  DWORD bytesRead = 0;
  BOOL read = calls_.ReadFile(request_, buffer.data(), available, &bytesRead, nullptr);
  if (!read) return 0;
  text.assign(buffer.c_str());
  return read;
}

bool CDaemonLink::PostCommand(std::string_view payload, Command command) {
  {
    AprLock lock(lock_);
    InternalEnsurePipeOpen(notify_);
  }
  if (notify_ == INVALID_HANDLE_VALUE) return false;

  std::optional<std::string> frame;
  try {
    frame = protocol::BuildRequestFrame(command, payload);
  } catch (const std::bad_alloc&) {
  }
  DWORD written = 0;
  if (frame && calls_.WriteFile(notify_, frame->data(), static_cast<DWORD>(frame->size()), &written, nullptr) &&
      written == frame->size()) {
    return true;
  }
  CloseNotifyPipe();
  return false;
}

void CDaemonLink::ClosePipe() {
  AprLock lock(lock_);
  CloseRequestChannel();
}

void CDaemonLink::CloseRequestChannel() {
  CloseChannel(request_);
  if (event_ != nullptr) {
    calls_.CloseHandle(event_);
    event_ = nullptr;
  }
}

void CDaemonLink::CloseNotifyPipe() {
  AprLock lock(lock_);
  SendCloseFrameAndClose();
}

void CDaemonLink::SendCloseFrameAndClose() {
  if (notify_ == INVALID_HANDLE_VALUE) return;
  static const std::string kCloseFrame = *protocol::BuildRequestFrame(Command::Close, std::nullopt);
  DWORD written = 0;
  calls_.WriteFile(notify_, kCloseFrame.data(), static_cast<DWORD>(kCloseFrame.size()), &written, nullptr);
  calls_.DisconnectNamedPipe(notify_);
  CloseChannel(notify_);
}

void CDaemonLink::CloseChannel(HANDLE& channel) {
  if (channel == INVALID_HANDLE_VALUE) return;
  calls_.CloseHandle(channel);
  channel = INVALID_HANDLE_VALUE;
}

DWORD CDaemonLink::GetIntegrityLevel() {
  constexpr DWORD kUnknownLevel = SECURITY_MANDATORY_MEDIUM_RID;
  HANDLE token = nullptr;
  if (!calls_.OpenProcessToken(calls_.GetCurrentProcess(), TOKEN_QUERY | TOKEN_QUERY_SOURCE, &token)) {
    return kUnknownLevel;
  }
  DWORD level = kUnknownLevel;
  DWORD size = 0;
  if (!calls_.GetTokenInformation(token, TokenIntegrityLevel, nullptr, 0, &size) &&
      calls_.GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
    auto* label = static_cast<TOKEN_MANDATORY_LABEL*>(LocalAlloc(LMEM_FIXED, size));
    if (label != nullptr) {
      if (calls_.GetTokenInformation(token, TokenIntegrityLevel, label, size, &size)) {
        PSID sid = label->Label.Sid;
        UCHAR count = *GetSidSubAuthorityCount(sid);
        if (count > 0) level = *GetSidSubAuthority(sid, count - 1u);
      }
      LocalFree(label);
    }
  }
  calls_.CloseHandle(token);
  return level;
}

}  // namespace korvane::link
