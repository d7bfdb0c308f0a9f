// The payload of a request, made from the caller's wide arguments in the
// shape that the command's row of the protocol table gives.
#pragma once

#include "protocol/commands.h"

#include <initializer_list>
#include <span>
#include <string>

namespace korvane::daemon {

// The UTF-8 payload; arguments holds the command's number of arguments.
std::string RequestPayload(const protocol::CommandInfo& command, std::span<const std::u16string* const> arguments);

inline std::string RequestPayload(const protocol::CommandInfo& command,
                                  std::initializer_list<const std::u16string*> arguments) {
  return RequestPayload(command, std::span(arguments.begin(), arguments.size()));
}

}  // namespace korvane::daemon
