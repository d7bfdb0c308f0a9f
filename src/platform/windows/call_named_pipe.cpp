// The connection is opened for overlapped I/O so that the transaction can be
// waited on with the time that is left, and cancelled when none is.
#include "platform/call_named_pipe.h"

#include "platform/pipe_server.h"

#include <algorithm>

namespace korvane::platform {
namespace {

constexpr DWORD kPipeFlags = FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;

class Deadline {
 public:
  explicit Deadline(DWORD milliseconds) : end_(::GetTickCount64() + milliseconds) {}
  DWORD Left() const {
    const ULONGLONG now = ::GetTickCount64();
    return now >= end_ ? 0 : static_cast<DWORD>(std::min<ULONGLONG>(end_ - now, INFINITE - 1));
  }

 private:
  ULONGLONG end_;
};

BOOL Fail(DWORD error) {
  ::SetLastError(error);
  return FALSE;
}

// A connection to a free instance of the pipe, waiting for one while busy.
HANDLE Connect(LPCSTR pipeName, const Deadline& deadline) {
  for (;;) {
    HANDLE pipe = ::CreateFileA(pipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, kPipeFlags, nullptr);
    if (pipe != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_PIPE_BUSY) return pipe;
    const DWORD left = deadline.Left();
    if (left == 0 || !::WaitNamedPipeA(pipeName, left)) {
      ::SetLastError(ERROR_SEM_TIMEOUT);
      return INVALID_HANDLE_VALUE;
    }
  }
}

// The transaction on a connected pipe; its last error tells how it ended.
BOOL Transact(HANDLE pipe, LPVOID inBuffer, DWORD inSize, LPVOID outBuffer, DWORD outSize, LPDWORD bytesRead,
              const Deadline& deadline) {
  DWORD mode = PIPE_READMODE_MESSAGE;
  if (!::SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr)) return FALSE;
  OVERLAPPED overlapped{};
  overlapped.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (overlapped.hEvent == nullptr) return FALSE;

  BOOL done = ::TransactNamedPipe(pipe, inBuffer, inSize, outBuffer, outSize, bytesRead, &overlapped);
  DWORD error = done ? ERROR_SUCCESS : ::GetLastError();
  if (!done && error == ERROR_IO_PENDING) {
    if (::WaitForSingleObject(overlapped.hEvent, deadline.Left()) == WAIT_OBJECT_0) {
      done = ::GetOverlappedResult(pipe, &overlapped, bytesRead, FALSE);
      error = done ? ERROR_SUCCESS : ::GetLastError();
    } else {
      // The buffers must outlive the operation: cancel it and wait for that.
      ::CancelIoEx(pipe, &overlapped);
      DWORD ignored = 0;
      ::GetOverlappedResult(pipe, &overlapped, &ignored, TRUE);
      error = ERROR_SEM_TIMEOUT;
    }
  }
  ::CloseHandle(overlapped.hEvent);
  ::SetLastError(error);
  return done;
}

}  // namespace

BOOL CallNamedPipeWithin(LPCSTR pipeName, LPVOID inBuffer, DWORD inSize, LPVOID outBuffer, DWORD outSize,
                         LPDWORD bytesRead, DWORD timeoutMs) {
  DWORD read = 0;
  if (bytesRead == nullptr) bytesRead = &read;
  *bytesRead = 0;
  const Deadline deadline(timeoutMs);
  HANDLE pipe = Connect(pipeName, deadline);
  if (pipe == INVALID_HANDLE_VALUE) return FALSE;
  if (!PipeServerIsCallingUser(pipe)) {
    ::CloseHandle(pipe);
    return Fail(ERROR_ACCESS_DENIED);
  }
  const BOOL done = Transact(pipe, inBuffer, inSize, outBuffer, outSize, bytesRead, deadline);
  const DWORD error = ::GetLastError();
  ::CloseHandle(pipe);
  ::SetLastError(error);
  return done;
}

}  // namespace korvane::platform
