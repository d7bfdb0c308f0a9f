// Translation of errno values into the Windows error numbers that the
// library's callers of the subset rely on, and the per-thread last error.
#include "errno_to_win32.h"

#include <cerrno>

namespace {
thread_local DWORD lastError = ERROR_SUCCESS;
}

DWORD GetLastError() { return lastError; }
void SetLastError(DWORD error) { lastError = error; }

namespace korvane::posix {

DWORD Win32ErrorFromErrno(int error) {
  switch (error) {
    case 0: return ERROR_SUCCESS;
    case ENOENT:
    case ECONNREFUSED:
    case ENOTDIR: return ERROR_FILE_NOT_FOUND;
    case EACCES:
    case EPERM: return ERROR_ACCESS_DENIED;
    case EAGAIN: return ERROR_PIPE_BUSY;
    case EPIPE: return ERROR_NO_DATA;
    case ECONNRESET:
    case ENOTCONN: return ERROR_BROKEN_PIPE;
    case EBADF:
    case ENOTSOCK: return ERROR_INVALID_HANDLE;
    case ENOMEM:
    case ENOBUFS:
    case EMSGSIZE: return ERROR_NOT_ENOUGH_MEMORY;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ETIMEDOUT: return ERROR_SEM_TIMEOUT;
    default: return ERROR_GEN_FAILURE;
  }
}

BOOL FailWithErrno(int error) { return Fail(Win32ErrorFromErrno(error)); }

BOOL Fail(DWORD win32Error) {
  SetLastError(win32Error);
  return FALSE;
}

}  // namespace korvane::posix
