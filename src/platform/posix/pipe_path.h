// Where a named pipe \\.\pipe\NAME lives on POSIX: a SOCK_SEQPACKET socket
// in the user's runtime folder. Shared by the client calls and by servers.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace korvane::posix {

// The folder that holds pipe sockets: the runtime folder (user_folders.h),
// $XDG_RUNTIME_DIR or /tmp/korvane-UID.
std::string PipeFolder();

// The socket path for a pipe name such as \\.\pipe\DalvDaemonCommand (the
// "pipe" component is matched without regard to case, as on Windows).
// Nothing for a text that is not a pipe name or whose name could leave the
// folder (it holds a slash, or is "." or "..").
std::optional<std::string> PipeSocketPath(std::string_view pipeName);

}  // namespace korvane::posix
