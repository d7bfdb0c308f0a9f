#include "protocol/commands.h"

namespace korvane::protocol {

const CommandInfo* DescribeCode(std::uint32_t code) {
  for (const CommandInfo& info : kCommands) {
    if (CodeOf(info.command) == code) return &info;
  }
  return nullptr;
}

const CommandInfo& Describe(Command command) {
  const CommandInfo* info = DescribeCode(CodeOf(command));
  return info != nullptr ? *info : kCommands[0];  // unreachable: every enumerator has its row
}

const CommandInfo* FindOperation(std::string_view operation) {
  for (const CommandInfo& info : kCommands) {
    if (operation == info.operation) return &info;
  }
  return nullptr;
}

Channel ChannelOf(std::uint32_t code) {
  const CommandInfo* info = DescribeCode(code);
  return info != nullptr ? info->channel : Channel::Unknown;
}

}  // namespace korvane::protocol
