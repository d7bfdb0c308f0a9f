// The subcommands of the korvane tool: one per export of the library, named
// after the export without its prefix, in lower case with hyphens, and the
// shell extension's menu, a share through it, and the daemon's jobs.
#pragma once

#include "report.h"

#include <map>
#include <span>
#include <string>
#include <vector>

namespace korvane::cli {

// A positional argument, named in the usage line.
struct Argument {
  const char* name;
  const char* help;
  bool optional = false;
};

// What the command line gave a subcommand.
struct Call {
  std::map<std::string, std::string> values;  // by argument name; optional ones only when given
  bool wait = false;
  double timeoutSeconds = 10;
  bool background = false;  // menu
  std::string invoke;       // menu

  const std::string& operator[](const std::string& name) const;
  bool Has(const std::string& name) const { return values.contains(name); }
};

enum class Options {
  None,
  Wait,     // one-way work: --wait
  Timeout,  // daemon start and stop: --timeout SECONDS
  Menu,     // --background, --invoke VERB, --wait
};

struct Subcommand {
  const char* name;
  const char* summary;
  std::vector<Argument> arguments;
  Options options;
  // The daemon splits the arguments at "|", so none may hold one.
  bool joined;
  // Runs the subcommand and gives the exit status.
  int (*run)(const Call& call, Report& report);
  // Whether the subcommand talks to the daemon: the tool then starts one,
  // as the library does, when none serves, and goes on.
  bool needsDaemon = true;
  // What the tool can check before it starts or asks the daemon (a folder
  // that is not there); gives false with the report failed.
  bool (*check)(const Call& call, Report& report) = nullptr;
};

std::span<const Subcommand> Subcommands();

// Checks that PATH names a folder that is there, before anything is sent.
bool CheckFolder(const Call& call, Report& report);

// The shell extension's menu, driven as a file manager drives it
// (menu_subcommand.cpp); share is its "Share" entry.
int Menu(const Call& call, Report& report);
int Share(const Call& call, Report& report);
// The menu's verb is one it knows and its PATH is there.
bool CheckMenu(const Call& call, Report& report);
// The verbs the menu's entries answer to, in menu order.
std::vector<const char*> MenuVerbs();

// A path argument made absolute against the current folder, without a
// trailing slash, as the daemon keeps it.
std::string AbsolutePath(const std::string& argument);

}  // namespace korvane::cli
