// The hosting-service commands, run from their table: the arguments joined
// with "|", the first three reply fields handed back as the daemon sent them.
#include "daemon/hosting_commands.h"

#include "daemon/daemon_link.h"
#include "daemon/split_string.h"
#include "runtime/debug_trace.h"
#include "svn/utf_convert.h"

#include <vector>

namespace korvane::daemon {

const HostingCommand& HostingCommandFor(Command command) {
  for (const HostingCommand& entry : kHostingCommands) {
    if (entry.command == command) return entry;
  }
  return kHostingCommands[0];  // unreachable: every caller names a member of the family
}

bool CDaemonLink::RunHostingCommand(Command command, std::initializer_list<const std::u16string*> arguments,
                                    std::string& out1, std::string& out2, std::string& out3) {
  const HostingCommand& entry = HostingCommandFor(command);
  if (entry.reportsDaemonState) out2 = kDaemonUnreachableMessage;
  std::vector<std::string> texts;
  for (const std::u16string* argument : arguments) texts.push_back(svn::WideToUtf8(*argument));
  const std::optional<std::string> request = JoinArguments(texts);
  if (!request) return false;
  if (!EnsurePipeOpen()) {
    if (entry.reportsDaemonState) {
      KORVANE_TRACE("CDaemonLink::ListSpaces: CDaemonLink::ListSpaces - EnsurePipeOpenWithRetry failed");
    }
    return false;
  }
  Exchange exchange = TransactCommand(entry.command, *request, TimeLimitClass::HttpCall);
  if (exchange.end == ExchangeEnd::TransactionFailed && entry.reportsDaemonState) out2.clear();
  if (exchange.end != ExchangeEnd::Replied) return exchange.Answered();

  std::vector<std::string> fields;
  SplitString(fields, exchange.reply, kFieldSeparator);
  std::string* outputs[] = {&out1, &out2, &out3};
  for (std::size_t i = 0; i < fields.size() && i < std::size(outputs); ++i) *outputs[i] = std::move(fields[i]);
  return true;
}

bool CDaemonLink::ListSpaces(const std::u16string& arg1, const std::u16string& arg2, std::string& out1,
                             std::string& out2, std::string& out3) {
  return RunHostingCommand(Command::ListSpaces, {&arg1, &arg2}, out1, out2, out3);
}
bool CDaemonLink::ShowSpace(const std::u16string& arg1, const std::u16string& arg2, const std::u16string& arg3,
                            std::string& out1, std::string& out2, std::string& out3) {
  return RunHostingCommand(Command::ShowSpace, {&arg1, &arg2, &arg3}, out1, out2, out3);
}
bool CDaemonLink::CreateSpace(const std::u16string& arg1, const std::u16string& arg2, const std::u16string& arg3,
                              const std::u16string& arg4, std::string& out1, std::string& out2, std::string& out3) {
  return RunHostingCommand(Command::CreateSpace, {&arg1, &arg2, &arg3, &arg4}, out1, out2, out3);
}
bool CDaemonLink::FindUsers(const std::u16string& arg1, const std::u16string& arg2, std::string& out1,
                            std::string& out2, std::string& out3) {
  return RunHostingCommand(Command::FindUsers, {&arg1, &arg2}, out1, out2, out3);
}
bool CDaemonLink::Invite(const std::u16string& arg1, const std::u16string& arg2, const std::u16string& arg3,
                         const std::u16string& arg4, std::string& out1, std::string& out2, std::string& out3) {
  return RunHostingCommand(Command::Invite, {&arg1, &arg2, &arg3, &arg4}, out1, out2, out3);
}

}  // namespace korvane::daemon
