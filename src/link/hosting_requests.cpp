// The hosting-service requests, run from the protocol table: the arguments
// each followed by "|", the first three reply fields handed back as the
// daemon sent them.
#include "link/hosting_requests.h"

#include "link/daemon_link.h"
#include "link/request_payload.h"
#include "protocol/fields.h"
#include "runtime/debug_trace.h"

#include <vector>

namespace korvane::link {

bool CDaemonLink::RunHostingCommand(Command command, std::initializer_list<const std::u16string*> arguments,
                                    std::string& out1, std::string& out2, std::string& out3) {
  const protocol::CommandInfo& entry = protocol::Describe(command);
  // The space list alone reports a missing or silent daemon in its second
  // output and in the trace.
  const bool reportsDaemonState = command == Command::ListSpaces;
  if (reportsDaemonState) out2 = kDaemonUnreachableMessage;
  const std::optional<std::string> payload = RequestPayload(entry, arguments);
  if (!payload) return false;
  if (!EnsurePipeOpen()) {
    if (reportsDaemonState) {
      KORVANE_TRACE("CDaemonLink::ListSpaces: CDaemonLink::ListSpaces - EnsurePipeOpenWithRetry failed");
    }
    return false;
  }
  Exchange exchange = TransactCommand(command, *payload, *entry.limit);
  if (exchange.end == ExchangeEnd::TransactionFailed && reportsDaemonState) out2.clear();
  if (exchange.end != ExchangeEnd::Replied) return exchange.Answered();

  std::vector<std::string> fields;
  protocol::SplitString(fields, exchange.reply, protocol::kFieldSeparator);
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

}  // namespace korvane::link
