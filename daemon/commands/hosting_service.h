// The hosting commands, on the backend the daemon chose at start
// (daemon/hosting/hosting_backend.h): the embedded spaces or a team's
// repository. The requests (20 to 26) answer in three "|"-separated
// fields, which the library hands back as out1, out2 and out3; lists hold
// one item a line:
//
//  20  listSpaces FILTER|x|         count | names (sorted) | ""
//  21  showSpace NAME|x|x|          URL | members ("USER<TAB>ROLE" lines) |
//                                   youngest revision
//  22  createSpace NAME|DESC|OWNER|x|  URL | "created" | ""
//  24  findUsers PATTERN|x|         count | users (sorted) | ""
//  26  invite SPACE|USER|ROLE|x|    "invited" (or "removed") | SPACE | USER
//
// FILTER and PATTERN match any part of a name, ignoring case; empty matches
// all. ROLE defaults to "member"; the owner of a new space is its member
// with the role "owner"; ROLE "none" removes USER (korvane remove-member).
// On a team service, names follow the rule of names (tools/names/names.h,
// README "Names"; a space name is taken in NFC); on the embedded service
// they hold neither "/" nor control characters nor "|", and are not "." or
// "..". A failure answers "" | KEY | text, KEY being a key of results.h; a
// refusal of the team server's hook is its own words as text.
//
// The one-way commands on folders log what they did:
//   7  shareFolder PATH         makes a space named after the folder ("NAME
//                               2", "NAME 3", ... when taken; refused with
//                               the reason when the name breaks the rule of
//                               names), imports the
//                               folder into it, turns the folder into its
//                               working copy in place and activates it in
//                               mode 1
//  25  checkoutFromService PATH checks out the space named after the
//                               folder's last component into PATH
#pragma once

#include "daemon/commands/commands.h"

namespace korvane::server {

Handling ListSpaces(DaemonContext& context, const std::optional<std::string>& payload);
Handling ShowSpace(DaemonContext& context, const std::optional<std::string>& payload);
Handling CreateSpace(DaemonContext& context, const std::optional<std::string>& payload);
Handling FindUsers(DaemonContext& context, const std::optional<std::string>& payload);
Handling Invite(DaemonContext& context, const std::optional<std::string>& payload);
Handling ShareFolder(DaemonContext& context, const std::optional<std::string>& payload);
Handling CheckoutFromService(DaemonContext& context, const std::optional<std::string>& payload);

}  // namespace korvane::server
