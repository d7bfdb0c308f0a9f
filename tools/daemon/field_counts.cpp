#include "field_counts.h"

#include "daemon/command_codes.h"

#include <algorithm>

namespace korvane::server {

namespace {

using daemon::Command;

struct FieldCountRow {
  Command command;
  std::size_t fields;
};

// The library ends each argument of the separated shapes with "|", which
// gives one empty field after the last argument.
constexpr FieldCountRow kFieldCounts[] = {
    {Command::GetStatus, 1},
    {Command::ActivateKorvaneDialogs, 1},
    {Command::ActivateTortoiseSvnDialogs, 1},
    {Command::ActivateAutomaticCommitUpdate, 1},
    {Command::DeactivatePath, 1},
    {Command::GetActivations, 1},
    {Command::ShareFolder, 1},
    {Command::Checkout, 3},         // URL|PATH|MODE
    {Command::RenameLDir, 1},       // PATH
    {Command::CreateRepo, 1},       // PATH or URL
    {Command::OpenRepo, 1},         // PATH or URL
    {Command::SvnCheckoutWait, 3},  // URL|PATH|
    {Command::CopyToRepo, 3},       // FOLDER|URL|
    {Command::SvnAdd, 2},           // PATH|
    {Command::SvnCommit, 2},        // PATH|
    {Command::RemoveLDir, 3},       // PATH|KEY|
    {Command::RemoveTmpDir, 2},     // PATH|
    {Command::RestoreLDir, 3},      // PATH|KEY|
    {Command::ShareWithTeam, 1},
    {Command::ListSpaces, 3},       // FILTER|x|
    {Command::ShowSpace, 4},        // NAME|x|x|
    {Command::CreateSpace, 5},      // NAME|DESC|OWNER|x|
    {Command::GetErrorText, 1},
    {Command::FindUsers, 3},        // PATTERN|x|
    {Command::CheckoutFromService, 1},
    {Command::Invite, 5},           // SPACE|USER|ROLE|x|
};

}  // namespace

std::optional<std::size_t> ExpectedFieldCount(std::uint32_t code) {
  for (const FieldCountRow& row : kFieldCounts) {
    if (static_cast<std::uint32_t>(row.command) == code) return row.fields;
  }
  return std::nullopt;
}

std::size_t FieldCount(std::string_view payload) {
  return static_cast<std::size_t>(std::count(payload.begin(), payload.end(), '|')) + 1;
}

bool FieldCountFits(std::uint32_t code, const std::optional<std::string_view>& payload) {
  const std::optional<std::size_t> expected = ExpectedFieldCount(code);
  return !expected || !payload || FieldCount(*payload) == *expected;
}

}  // namespace korvane::server
