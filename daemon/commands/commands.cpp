#include "daemon/commands/commands.h"

#include "daemon/commands/hosting_service.h"
#include "daemon/commands/repository_commands.h"
#include "daemon/svn/svn_runtime.h"

namespace korvane::server {

namespace {

// The path of a one-way command on a folder, in the form activations keep.
std::optional<std::string> FolderArgument(DaemonContext& context, const char* operation,
                                          const std::optional<std::string>& payload) {
  std::optional<std::string> folder = payload ? CanonicalFolder(*payload) : std::nullopt;
  if (!folder) {
    context.log.Warning(std::string(operation) + ": ignored, not an absolute path: " + payload.value_or(""));
    context.jobs.Record(operation, payload.value_or(""), static_cast<std::int32_t>(Result::BadArguments),
                        "not an absolute path");
  }
  return folder;
}

// The change is queued, not waited for: the store's writer makes it durable
// together with the others that arrive meanwhile, and the server answers no
// request before the changes that came ahead of it are settled.
void ChangeActivation(DaemonContext& context, const char* operation, const std::optional<std::string>& payload,
                      int mode) {
  const std::optional<std::string> folder = FolderArgument(context, operation, payload);
  if (!folder) return;
  const bool queued = context.activations.Submit(
      *folder, mode,
      [&log = context.log, &jobs = context.jobs, operation, folder = *folder, mode](const ActivationStore::Outcome& outcome) {
        switch (outcome.change) {
          case ActivationStore::Change::Made:
          case ActivationStore::Change::Unchanged:
            log.Info(mode == 0 ? "deactivated " + folder : "activated " + folder + " in mode " + std::to_string(mode));
            jobs.Record(operation, folder, 0, mode == 0 ? "deactivated" : "activated in mode " + std::to_string(mode));
            break;
          case ActivationStore::Change::Failed:
            // The reason first: a long path is cut short in the log.
            log.Error(std::string(operation) + " not done (" + outcome.error + "): " + folder);
            jobs.Record(operation, folder, static_cast<std::int32_t>(Result::FileSystemFailed),
                        "the state could not be saved: " + outcome.error);
            break;
        }
      }).has_value();
  if (!queued) {
    const std::string why = std::to_string(ActivationStore::kMaxPending) + " changes wait to be saved already";
    context.log.Warning(std::string(operation) + " refused (" + why + "): " + *folder);
    context.jobs.Record(operation, *folder, static_cast<std::int32_t>(Result::Busy), "refused: " + why);
  }
}

// Mode 0 deactivates.
template <Command Code, int Mode>
Handling Activate(DaemonContext& context, const std::optional<std::string>& payload) {
  ChangeActivation(context, FindCommand(static_cast<std::uint32_t>(Code))->Info().operation, payload, Mode);
  return {};
}

// mode|repository root|activated folder|path asked about. The activation
// is read here, in order with the changes; only the working-copy lookup
// runs on a thread of its own.
Handling GetStatus(DaemonContext& context, const std::optional<std::string>& payload) {
  if (!payload) return {FailureReply(Result::BadArguments, "getStatus needs a path"), {}};
  const std::optional<ActivationStore::Covering> covering = context.activations.Cover(*payload);
  const std::string mode = std::to_string(covering ? covering->mode : 0);
  const std::string folder = covering ? covering->folder : "";
  return {std::nullopt, [&stopping = context.stopping, path = *payload, mode, folder] {
            return JoinFields({mode, RepositoryRootOf(path, stopping), folder, path});
          }};
}

Handling GetActivations(DaemonContext& context, const std::optional<std::string>&) {
  return {context.activations.List(), {}};
}

Handling GetErrorText(DaemonContext&, const std::optional<std::string>& payload) {
  return {ErrorTextFor(payload.value_or("")), {}};
}

// Sharing with a team is not done by this daemon yet.
template <Command Code>
Handling NotSupported(DaemonContext& context, const std::optional<std::string>& payload) {
  const CommandEntry* entry = FindCommand(static_cast<std::uint32_t>(Code));
  const protocol::CommandInfo& info = entry->Info();
  if (info.channel == Channel::OneWay) {
    context.log.Warning(std::string(info.operation) + ": not supported yet, ignored");
    context.jobs.Record(info.operation, payload.value_or(""), static_cast<std::int32_t>(Result::NotSupported),
                        TextOf(Result::NotSupported).text);
    return {};
  }
  return {Refusal(entry, Result::NotSupported, info.operation), {}};
}

constexpr CommandEntry kCommands[] = {
    {Command::GetStatus, GetStatus},
    {Command::ActivateKorvaneDialogs, Activate<Command::ActivateKorvaneDialogs, 1>},
    {Command::ActivateTortoiseSvnDialogs, Activate<Command::ActivateTortoiseSvnDialogs, 2>},
    {Command::ActivateAutomaticCommitUpdate, Activate<Command::ActivateAutomaticCommitUpdate, 3>},
    {Command::DeactivatePath, Activate<Command::DeactivatePath, 0>},
    {Command::GetActivations, GetActivations},
    {Command::ShareFolder, ShareFolder},
    {Command::Checkout, CheckoutInBackground},
    {Command::RenameLDir, RenameLocalDirectory},
    {Command::CreateRepo, CreateRepository},
    {Command::OpenRepo, OpenRepository},
    {Command::SvnCheckoutWait, CheckoutAndWait},
    {Command::CopyToRepo, CopyToRepository},
    {Command::SvnAdd, AddToWorkingCopy},
    {Command::SvnCommit, CommitWorkingCopy},
    {Command::RemoveLDir, RemoveLocalDirectory},
    {Command::RemoveTmpDir, RemoveTemporaryDirectory},
    {Command::RestoreLDir, RestoreLocalDirectory},
    {Command::ShareWithTeam, NotSupported<Command::ShareWithTeam>},
    {Command::ListSpaces, ListSpaces},
    {Command::ShowSpace, ShowSpace},
    {Command::CreateSpace, CreateSpace},
    {Command::GetErrorText, GetErrorText, false},
    {Command::FindUsers, FindUsers},
    {Command::CheckoutFromService, CheckoutFromService},
    {Command::Invite, Invite},
};

}  // namespace

const CommandEntry* FindCommand(std::uint32_t code) {
  for (const CommandEntry& entry : kCommands) {
    if (static_cast<std::uint32_t>(entry.command) == code) return &entry;
  }
  return nullptr;
}

std::string Refusal(const CommandEntry* entry, Result result, std::string_view detail) {
  const protocol::ReplyShape shape = entry != nullptr ? entry->Info().reply : protocol::ReplyShape::Text;
  if (shape == protocol::ReplyShape::Hosting) return HostingFailure(result, detail);
  if (shape == protocol::ReplyShape::Verdict) {
    return Verdict(entry->Info().operation, result, detail, 0, TextOf(result).key);
  }
  return FailureReply(result, detail);
}

std::optional<Command> CommandDispatcher::Find(std::uint32_t code) const {
  const CommandEntry* entry = FindCommand(code);
  return entry != nullptr ? std::optional<Command>(entry->command) : std::nullopt;
}

Handling CommandDispatcher::Handle(Command command, const std::optional<std::string>& payload) {
  return FindCommand(static_cast<std::uint32_t>(command))->handle(context_, payload);
}

bool CommandDispatcher::ShowsActivations(Command command) const {
  return FindCommand(static_cast<std::uint32_t>(command))->showsActivations;
}

std::string CommandDispatcher::Refuse(std::optional<Command> command, Result result, std::string_view detail) const {
  return Refusal(command ? FindCommand(static_cast<std::uint32_t>(*command)) : nullptr, result, detail);
}

}  // namespace korvane::server
