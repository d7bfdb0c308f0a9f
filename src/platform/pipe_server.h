// Who serves a named pipe. A client that opens a well-known pipe name must
// not talk to whatever process of another user created that name first.
#pragma once

#include "platform/windows_api.h"

namespace korvane::platform {

// True when the process at the server end of the open pipe runs as the
// same user as the calling process; false when it does not or cannot be
// told.
bool PipeServerIsCallingUser(HANDLE pipe);

#ifdef _WIN32
// True when the process at the server end of the open pipe runs as user;
// false when it does not or cannot be told. Another signed-in user's daemon
// is told apart this way, since the pipe's name is machine-wide.
bool PipeServerRunsAs(HANDLE pipe, PSID user);
#endif

}  // namespace korvane::platform
