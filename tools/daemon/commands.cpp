#include "commands.h"

#include "hosting_service.h"
#include "repository_commands.h"
#include "svn_runtime.h"

namespace korvane::server {

namespace {

// The path of a one-way command on a folder, in the form activations keep.
std::optional<std::string> FolderArgument(DaemonContext& context, const char* operation,
                                          const std::optional<std::string>& payload) {
  std::optional<std::string> folder = payload ? CanonicalFolder(*payload) : std::nullopt;
  if (!folder) context.log.Warning(std::string(operation) + ": ignored, not an absolute path: " + payload.value_or(""));
  return folder;
}

void ChangeActivation(DaemonContext& context, const char* operation, const std::optional<std::string>& payload,
                      int mode) {
  const std::optional<std::string> folder = FolderArgument(context, operation, payload);
  if (!folder) return;
  std::string error;
  switch (context.activations.Set(*folder, mode, error)) {
    case ActivationStore::Change::Made:
      context.log.Info(mode == 0 ? "deactivated " + *folder
                                 : "activated " + *folder + " in mode " + std::to_string(mode));
      break;
    case ActivationStore::Change::Unchanged:
      break;
    case ActivationStore::Change::Failed:
      // The reason first: a long path is cut short in the log.
      context.log.Error(std::string(operation) + " not done (" + error + "): " + *folder);
      break;
  }
}

// Mode 0 deactivates.
template <Command Code, int Mode>
Handling Activate(DaemonContext& context, const std::optional<std::string>& payload) {
  ChangeActivation(context, FindCommand(static_cast<std::uint32_t>(Code))->operation, payload, Mode);
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
Handling NotSupported(DaemonContext& context, const std::optional<std::string>&) {
  const CommandEntry* entry = FindCommand(static_cast<std::uint32_t>(Code));
  if (ChannelOf(static_cast<std::uint32_t>(Code)) == Channel::OneWay) {
    context.log.Warning(std::string(entry->operation) + ": not supported yet, ignored");
    return {};
  }
  return {Refusal(entry, Result::NotSupported, entry->operation), {}};
}

constexpr CommandEntry kCommands[] = {
    {Command::GetStatus, "getStatus", ReplyShape::Fields, GetStatus},
    {Command::ActivateKorvaneDialogs, "activatePath1", ReplyShape::Fields,
     Activate<Command::ActivateKorvaneDialogs, 1>},
    {Command::ActivateTortoiseSvnDialogs, "activatePath2", ReplyShape::Fields,
     Activate<Command::ActivateTortoiseSvnDialogs, 2>},
    {Command::ActivateAutomaticCommitUpdate, "activatePath3", ReplyShape::Fields,
     Activate<Command::ActivateAutomaticCommitUpdate, 3>},
    {Command::DeactivatePath, "deactivatePath", ReplyShape::Fields, Activate<Command::DeactivatePath, 0>},
    {Command::GetActivations, "getActivations", ReplyShape::Fields, GetActivations},
    {Command::ShareFolder, "shareFolder", ReplyShape::Fields, ShareFolder},
    {Command::Checkout, "checkout", ReplyShape::Fields, CheckoutInBackground},
    {Command::RenameLDir, "renameLDir", ReplyShape::Verdict, RenameLocalDirectory},
    {Command::CreateRepo, "createRepo", ReplyShape::Verdict, CreateRepository},
    {Command::OpenRepo, "openRepo", ReplyShape::Verdict, OpenRepository},
    {Command::SvnCheckoutWait, "svnCheckoutWait", ReplyShape::Verdict, CheckoutAndWait},
    {Command::CopyToRepo, "copyToRepo", ReplyShape::Verdict, CopyToRepository},
    {Command::SvnAdd, "svnAdd", ReplyShape::Verdict, AddToWorkingCopy},
    {Command::SvnCommit, "svnCommit", ReplyShape::Verdict, CommitWorkingCopy},
    {Command::RemoveLDir, "removeLDir", ReplyShape::Verdict, RemoveLocalDirectory},
    {Command::RemoveTmpDir, "removeTmpDir", ReplyShape::Verdict, RemoveTemporaryDirectory},
    {Command::RestoreLDir, "restoreLDir", ReplyShape::Verdict, RestoreLocalDirectory},
    {Command::ShareWithTeam, "shareWithTeam", ReplyShape::Fields, NotSupported<Command::ShareWithTeam>},
    {Command::ListSpaces, "listSpaces", ReplyShape::Hosting, ListSpaces},
    {Command::ShowSpace, "showSpace", ReplyShape::Hosting, ShowSpace},
    {Command::CreateSpace, "createSpace", ReplyShape::Hosting, CreateSpace},
    {Command::GetErrorText, "getErrorText", ReplyShape::Fields, GetErrorText},
    {Command::FindUsers, "findUsers", ReplyShape::Hosting, FindUsers},
    {Command::CheckoutFromService, "checkoutFromService", ReplyShape::Fields, CheckoutFromService},
    {Command::Invite, "invite", ReplyShape::Hosting, Invite},
};

}  // namespace

const CommandEntry* FindCommand(std::uint32_t code) {
  for (const CommandEntry& entry : kCommands) {
    if (static_cast<std::uint32_t>(entry.command) == code) return &entry;
  }
  return nullptr;
}

std::string Refusal(const CommandEntry* entry, Result result, std::string_view detail) {
  if (entry == nullptr || entry->shape == ReplyShape::Fields) return FailureReply(result, detail);
  if (entry->shape == ReplyShape::Hosting) return HostingFailure(result, detail);
  return Verdict(entry->operation, result, detail, 0, TextOf(result).key);
}

}  // namespace korvane::server
