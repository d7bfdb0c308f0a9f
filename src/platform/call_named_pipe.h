// One request and its reply on a fresh connection to a named pipe, all of it
// within one time limit. Windows's CallNamedPipe limits only the wait for a
// free instance: a server that takes the request and never answers would
// hold the caller, and Explorer with it, for good. This call cancels the
// transaction when the limit passes. Like the daemon link, it opens the pipe
// at identification level and refuses a server of another user.
#pragma once

#include "platform/windows_api.h"

namespace korvane::platform {

// CallNamedPipeA's contract, with timeoutMs covering the whole call. A reply
// that does not come in time fails with ERROR_SEM_TIMEOUT; a server of
// another user with ERROR_ACCESS_DENIED.
BOOL CallNamedPipeWithin(LPCSTR pipeName, LPVOID inBuffer, DWORD inSize, LPVOID outBuffer, DWORD outSize,
                         LPDWORD bytesRead, DWORD timeoutMs);

}  // namespace korvane::platform
