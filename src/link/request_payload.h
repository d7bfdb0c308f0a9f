// The payload of a request, made from the caller's wide arguments in the
// shape that the command's row of the protocol table gives.
#pragma once

#include "protocol/commands.h"

#include <initializer_list>
#include <optional>
#include <span>
#include <string>

namespace korvane::link {

// The UTF-8 payload; arguments holds the command's number of arguments.
// Nothing when the daemon would split an argument: one holding "|" in a
// payload whose arguments are "|"-separated would reach the daemon as other
// arguments (a description as an owner, say), so such a request is not sent.
std::optional<std::string> RequestPayload(const protocol::CommandInfo& command,
                                          std::span<const std::u16string* const> arguments);

inline std::optional<std::string> RequestPayload(const protocol::CommandInfo& command,
                                  std::initializer_list<const std::u16string*> arguments) {
  return RequestPayload(command, std::span(arguments.begin(), arguments.size()));
}

}  // namespace korvane::link
