// The korvane tool's subcommands for a team service beyond the library's
// exports: removing a member (through the Invite export with the role
// "none", which the daemon takes as no role) and storing the credential
// the daemon and Subversion's own tools use.
#pragma once

#include "subcommands.h"

namespace korvane::cli {

int RemoveMember(const Call& call, Report& report);
int Login(const Call& call, Report& report);

// A name given to create-space or invite that breaks the rule of names is
// refused here, before it reaches the daemon: true when name was refused.
bool RefusedSpaceName(const std::string& name, Report& report);
bool RefusedUserName(const std::string& name, Report& report);

}  // namespace korvane::cli
