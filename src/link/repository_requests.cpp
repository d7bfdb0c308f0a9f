// The repository and local-directory requests, run from the protocol table:
// one request on the request channel, the daemon's verdict in the record.
#include "link/daemon_link.h"
#include "link/request_payload.h"
#include "runtime/debug_trace.h"

namespace korvane::link {

bool CDaemonLink::RunRepositoryCommand(Command command, std::initializer_list<const std::u16string*> arguments,
                                       DaemonError& record) {
  const protocol::CommandInfo& entry = protocol::Describe(command);
  const std::optional<std::string> payload = RequestPayload(entry, arguments);
  if (!payload) return false;
  Exchange exchange = TransactCommand(command, *payload, *entry.limit);
  switch (exchange.end) {
    case ExchangeEnd::Replied:
      record.ParseErrorReply(exchange.reply);
      return true;
    case ExchangeEnd::ClosedWithoutReply:
      return true;
    case ExchangeEnd::NotConnected:
      return false;
    case ExchangeEnd::TransactionFailed:
      record.SetError(kPipeCallFailed, entry.operation, kPipeCallFailedMessage,
                      static_cast<std::int32_t>(exchange.systemError));
      return false;
    case ExchangeEnd::WaitTimedOut:
    case ExchangeEnd::WaitFailed:
      record.SetError(kPipeCallFailed, entry.operation, kPipeCallFailedMessage,
                      static_cast<std::int32_t>(exchange.systemError));
      break;
    case ExchangeEnd::ResultFailed:
    case ExchangeEnd::ReadFailed:
      break;
  }
  // The commit alone leaves a trace when its exchange fails after the
  // request went out.
  if (command == Command::SvnCommit) KORVANE_TRACE("%s", "CDaemonLink::SvnCommit: pipe call returning false\n");
  return false;
}

bool CDaemonLink::RenameLDir(const std::u16string& directory, DaemonError& record) {
  return RunRepositoryCommand(Command::RenameLDir, {&directory}, record);
}
bool CDaemonLink::CreateRepo(const std::u16string& repository, DaemonError& record) {
  return RunRepositoryCommand(Command::CreateRepo, {&repository}, record);
}
bool CDaemonLink::OpenRepo(const std::u16string& repository, DaemonError& record) {
  return RunRepositoryCommand(Command::OpenRepo, {&repository}, record);
}
bool CDaemonLink::SvnCheckoutWait(const std::u16string& first, const std::u16string& second, DaemonError& record) {
  return RunRepositoryCommand(Command::SvnCheckoutWait, {&first, &second}, record);
}
bool CDaemonLink::CopyToRepo(const std::u16string& first, const std::u16string& second, DaemonError& record) {
  return RunRepositoryCommand(Command::CopyToRepo, {&first, &second}, record);
}
bool CDaemonLink::SvnAdd(const std::u16string& path, DaemonError& record) {
  return RunRepositoryCommand(Command::SvnAdd, {&path}, record);
}
bool CDaemonLink::SvnCommit(const std::u16string& path, DaemonError& record) {
  return RunRepositoryCommand(Command::SvnCommit, {&path}, record);
}
bool CDaemonLink::RemoveLDir(const std::u16string& first, const std::u16string& second, DaemonError& record) {
  return RunRepositoryCommand(Command::RemoveLDir, {&first, &second}, record);
}
bool CDaemonLink::RemoveTmpDir(const std::u16string& directory, DaemonError& record) {
  return RunRepositoryCommand(Command::RemoveTmpDir, {&directory}, record);
}
bool CDaemonLink::RestoreLDir(const std::u16string& first, const std::u16string& second, DaemonError& record) {
  return RunRepositoryCommand(Command::RestoreLDir, {&first, &second}, record);
}

}  // namespace korvane::link
