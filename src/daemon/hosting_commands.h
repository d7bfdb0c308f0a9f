// The hosting-service commands: one family that differs only in code and
// number of arguments, and in what the space list adds.
#pragma once

#include "daemon/command_codes.h"

namespace korvane::daemon {

struct HostingCommand {
  Command command;
  int arguments;
  // The space list reports a missing or silent daemon in its second output
  // and in the trace.
  bool reportsDaemonState;
};

inline constexpr HostingCommand kHostingCommands[] = {
    {Command::ListSpaces, 2, true},  {Command::ShowSpace, 3, false}, {Command::CreateSpace, 4, false},
    {Command::FindUsers, 2, false}, {Command::Invite, 4, false},
};

// The message that the space list leaves in its second output whenever it
// fails before a reply arrived.
inline constexpr char kDaemonUnreachableMessage[] = "Daemon is not running or connection to daemon timed out.";

const HostingCommand& HostingCommandFor(Command command);

}  // namespace korvane::daemon
