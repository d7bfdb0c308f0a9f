// Activation and status: the status query and the activation list answer on
// the request channel; activating, deactivating, checking out and handing a
// folder to the daemon's sharing actions are one-way commands.
#include "daemon/daemon_link.h"

#include "daemon/split_string.h"
#include "svn/svn_path.h"
#include "svn/utf_convert.h"

namespace korvane::daemon {

namespace {

std::string CanonicalPath(const std::u16string& path) { return svn::SVNPath(path).GetInternalPath(); }

}  // namespace

bool CDaemonLink::GetStatus(const std::u16string& path, PathStatusInfo& status) {
  Exchange exchange = TransactCommand(Command::GetStatus, CanonicalPath(path), TimeLimitClass::LocalCall,
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
  Exchange exchange = TransactCommand(Command::GetActivations, std::nullopt, TimeLimitClass::LocalCall);
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
// starts with "|". One holding "|" is not sent at all.
bool CDaemonLink::Checkout(const std::u16string& url, const std::u16string& path, std::int32_t mode) {
  const std::string arguments[] = {svn::WideToUtf8(url), CanonicalPath(path), std::to_string(mode)};
  const std::optional<std::string> payload = JoinArguments(arguments, false);
  return payload && PostCommand(*payload, Command::Checkout);
}

bool CDaemonLink::PostPathCommand(const std::u16string& path, Command command) {
  return PostCommand(CanonicalPath(path), command);
}

bool CDaemonLink::IsVersioned(const std::u16string& path) { return svn::SVNPath(path).IsVersioned(); }

}  // namespace korvane::daemon
