// The repository and local-directory commands, run from their table: one
// request on the request channel, the daemon's verdict in the record.
#include "daemon/repository_commands.h"

#include "daemon/daemon_link.h"
#include "daemon/split_string.h"
#include "runtime/debug_trace.h"
#include "svn/svn_path.h"
#include "svn/utf_convert.h"

#include <vector>

namespace korvane::daemon {

namespace {

// Nothing when a "|"-separated argument holds "|" itself.
std::optional<std::string> RepositoryPayload(const RepositoryCommand& entry,
                                             std::initializer_list<const std::u16string*> arguments) {
  const std::u16string& first = **arguments.begin();
  switch (entry.shape) {
    case PayloadShape::LocalPath:
      // An empty path stays empty: Subversion's local style would turn it
      // into ".", the daemon's own folder.
      return first.empty() ? std::string() : svn::WideToUtf8(svn::SVNPath(first).GetLocalPath());
    case PayloadShape::Plain:
      return svn::WideToUtf8(first);
    case PayloadShape::Separated:
      break;
  }
  std::vector<std::string> texts;
  for (const std::u16string* argument : arguments) texts.push_back(svn::WideToUtf8(*argument));
  return JoinArguments(texts);
}

}  // namespace

const RepositoryCommand& RepositoryCommandFor(Command command) {
  for (const RepositoryCommand& entry : kRepositoryCommands) {
    if (entry.command == command) return entry;
  }
  return kRepositoryCommands[0];  // unreachable: every caller names a member of the family
}

bool CDaemonLink::RunRepositoryCommand(Command command, std::initializer_list<const std::u16string*> arguments,
                                       DaemonError& record) {
  const RepositoryCommand& entry = RepositoryCommandFor(command);
  const std::optional<std::string> payload = RepositoryPayload(entry, arguments);
  if (!payload) return false;
  Exchange exchange = TransactCommand(entry.command, *payload, entry.limitClass);
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
  if (entry.failureTrace != nullptr) KORVANE_TRACE("%s", entry.failureTrace);
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

}  // namespace korvane::daemon
