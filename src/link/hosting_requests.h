// The hosting-service requests: one family, run from the protocol table,
// that differs only in code and number of arguments, and in what the space
// list adds.
#pragma once

namespace korvane::link {

// The message that the space list leaves in its second output whenever it
// fails before a reply arrived.
inline constexpr char kDaemonUnreachableMessage[] = "Daemon is not running or connection to daemon timed out.";

}  // namespace korvane::link
