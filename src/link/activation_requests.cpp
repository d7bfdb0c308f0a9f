// Activation and status: the status query and the activation list answer on
// the request channel; activating, deactivating, checking out and handing a
// folder to the daemon's sharing actions are one-way commands.
#include "link/daemon_link.h"

#include "link/request_payload.h"
#include "protocol/fields.h"
#include "svn/svn_path.h"
#include "text/utf_convert.h"

namespace korvane::link {

namespace {

std::string CanonicalPath(const std::u16string& path) { return svn::SVNPath(path).GetInternalPath(); }

}  // namespace

bool CDaemonLink::GetStatus(const std::u16string& path, PathStatusInfo& status) {
  const protocol::CommandInfo& entry = protocol::Describe(Command::GetStatus);
  Exchange exchange =
      TransactCommand(entry.command, RequestPayload(entry, {&path}).value_or(std::string()), *entry.limit,
                      ChannelOpening::StartDaemonIfMissing);
  if (exchange.end == ExchangeEnd::ClosedWithoutReply) {
    // The status query alone counts a silent close as a failure.
    ClosePipe();
    return false;
  }
  if (exchange.end != ExchangeEnd::Replied) return false;
  ParseStatusReply(exchange.reply, status);
  return true;
}

bool CDaemonLink::GetActivations(std::string& list) {
  const protocol::CommandInfo& entry = protocol::Describe(Command::GetActivations);
  Exchange exchange = TransactCommand(entry.command, std::nullopt, *entry.limit);
  if (exchange.end == ExchangeEnd::Replied) list += exchange.reply;
  return exchange.Answered();
}

bool CDaemonLink::ActivatePath(const std::u16string& path, std::int32_t mode) {
  static constexpr Command kByMode[] = {Command::ActivateKorvaneDialogs, Command::ActivateTortoiseSvnDialogs,
                                        Command::ActivateAutomaticCommitUpdate};
  if (mode < 1 || mode > 3) return false;
  return PostPathCommand(path, kByMode[mode - 1]);
}

bool CDaemonLink::DeactivatePath(const std::u16string& path) { return PostPathCommand(path, Command::DeactivatePath); }

bool CDaemonLink::ShareFolder(const std::u16string& path) { return PostPathCommand(path, Command::ShareFolder); }

bool CDaemonLink::ShareWithTeam(const std::u16string& path) { return PostPathCommand(path, Command::ShareWithTeam); }

bool CDaemonLink::CheckoutFromService(const std::u16string& path) {
  return PostPathCommand(path, Command::CheckoutFromService);
}

// Neither the URL nor the path is checked: an empty URL gives a payload that
// starts with "|". One holding "|" is not sent at all: the daemon would read
// its pieces as the other fields.
bool CDaemonLink::Checkout(const std::u16string& url, const std::u16string& path, std::int32_t mode) {
  const std::string urlText = text::WideToUtf8(url);
  const std::string pathText = CanonicalPath(path);
  if (urlText.find('|') != std::string::npos || pathText.find('|') != std::string::npos) return false;
  return PostCommand(protocol::JoinArguments({urlText, pathText, std::to_string(mode)}), Command::Checkout);
}

bool CDaemonLink::PostPathCommand(const std::u16string& path, Command command) {
  const std::optional<std::string> payload = RequestPayload(protocol::Describe(command), {&path});
  return payload && PostCommand(*payload, command);
}

bool CDaemonLink::IsVersioned(const std::u16string& path) { return svn::SVNPath(path).IsVersioned(); }

}  // namespace korvane::link
