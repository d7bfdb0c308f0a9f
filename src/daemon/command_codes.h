// The command codes of the daemon's pipe protocol.
#pragma once

#include <cstdint>

namespace korvane::daemon {

// The daemon's pipe, the same for every user of the library.
inline constexpr char kPipeName[] = R"(\\.\pipe\DalvDaemonCommand)";

enum class Command : std::uint32_t {
  Close = 0,  // ends a notification channel
  GetStatus = 1,
  ActivateKorvaneDialogs = 2,
  ActivateTortoiseSvnDialogs = 3,
  ActivateAutomaticCommitUpdate = 4,
  DeactivatePath = 5,
  GetActivations = 6,
  ShareFolder = 7,
  Checkout = 8,
  RenameLDir = 9,
  CreateRepo = 10,
  OpenRepo = 11,
  SvnCheckoutWait = 12,
  CopyToRepo = 13,
  SvnAdd = 14,
  SvnCommit = 15,
  RemoveLDir = 16,
  RemoveTmpDir = 17,
  RestoreLDir = 18,
  ShareWithTeam = 19,
  ListSpaces = 20,
  ShowSpace = 21,
  CreateSpace = 22,
  GetErrorText = 23,
  FindUsers = 24,
  CheckoutFromService = 25,
  Invite = 26,
  StopDaemon = 254,
};

}  // namespace korvane::daemon
