// The subcommands of the korvane tool: one per export of the library, named
// after the export without its prefix, in lower case with hyphens.
#pragma once

#include "report.h"

#include <span>
#include <string>
#include <vector>

namespace korvane::cli {

enum class Outcome { Succeeded, Failed, WrongUse };

struct Subcommand {
  const char* name;
  const char* arguments;  // for the usage line, e.g. "[KEY]"
  const char* summary;
  std::size_t fewestArguments;
  std::size_t mostArguments;
  // Calls the export and reports what it handed out.
  Outcome (*run)(const std::vector<std::string>& arguments, Report& report);
};

std::span<const Subcommand> Subcommands();

// The shell extension's menu, driven as a shell drives it (menu_subcommand.cpp).
Outcome Menu(const std::vector<std::string>& arguments, Report& report);
// The verbs the menu's entries answer to, in menu order.
std::vector<const char*> MenuVerbs();

}  // namespace korvane::cli
