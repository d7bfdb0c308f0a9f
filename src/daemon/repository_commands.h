// The repository and local-directory commands: one family that differs only
// in code, operation name, arguments, payload shape and time limit.
#pragma once

#include "daemon/command_codes.h"
#include "daemon/time_limits.h"

namespace korvane::daemon {

enum class PayloadShape {
  LocalPath,   // the one argument as a canonical local-style path (empty stays empty)
  Plain,       // the one argument as it is
  Separated,   // each argument followed by "|"
};

// What a repository command does; the link runs every one the same way.
struct RepositoryCommand {
  Command command;
  const char* operation;  // the name a failed call records
  int arguments;
  PayloadShape shape;
  TimeLimitClass limitClass;
  // Written when the exchange fails after the request went out.
  const char* failureTrace = nullptr;
};

inline constexpr RepositoryCommand kRepositoryCommands[] = {
    {Command::RenameLDir, "renameLDir", 1, PayloadShape::LocalPath, TimeLimitClass::FsCall},
    {Command::CreateRepo, "createRepo", 1, PayloadShape::Plain, TimeLimitClass::HttpCall},
    {Command::OpenRepo, "openRepo", 1, PayloadShape::Plain, TimeLimitClass::HttpCall},
    {Command::SvnCheckoutWait, "svnCheckoutWait", 2, PayloadShape::Separated, TimeLimitClass::SvnCall},
    {Command::CopyToRepo, "copyToRepo", 2, PayloadShape::Separated, TimeLimitClass::FsCall},
    {Command::SvnAdd, "svnAdd", 1, PayloadShape::Separated, TimeLimitClass::SvnCall},
    {Command::SvnCommit, "svnCommit", 1, PayloadShape::Separated, TimeLimitClass::SvnCall,
     "CDaemonLink::SvnCommit: pipe call returning false\n"},
    {Command::RemoveLDir, "removeLDir", 2, PayloadShape::Separated, TimeLimitClass::FsCall},
    {Command::RemoveTmpDir, "removeTmpDir", 1, PayloadShape::Separated, TimeLimitClass::FsCall},
    {Command::RestoreLDir, "restoreLDir", 2, PayloadShape::Separated, TimeLimitClass::FsCall},
};

// The entry of the family for a command.
const RepositoryCommand& RepositoryCommandFor(Command command);

}  // namespace korvane::daemon
