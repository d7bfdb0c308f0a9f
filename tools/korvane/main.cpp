// korvane: drives the Korvane daemon through the library's exports.
//
//   korvane [--json] SUBCOMMAND [ARGUMENTS]   exit 0: done; 1: the daemon or the
//   korvane --help | --version                operation said no; 2: wrong use;
//                                             3: no daemon could be reached
//
// With --json, standard output carries one JSON object and nothing else.
#include "daemon_place.h"
#include "report.h"
#include "subcommands.h"

#include "korvane/korvane.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace korvane::cli;

constexpr char kExitStatuses[] =
    "Exit status: 0 when the operation succeeded; 1 when the daemon or the operation said no;\n"
    "2 on wrong use; 3 when no daemon could be reached or started.";

// The number of single-letter edits between two words.
std::size_t Distance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

// The subcommands a mistyped word most likely meant: the closest within a
// third of its length, and those it begins.
std::vector<std::string> Suggestions(const std::string& word) {
  std::vector<std::string> close;
  std::size_t best = std::max<std::size_t>(2, word.size() / 3) + 1;
  for (const Subcommand& subcommand : Subcommands()) {
    const std::size_t distance = Distance(word, subcommand.name);
    if (distance < best) {
      best = distance;
      close.clear();
    }
    if (distance == best) close.emplace_back(subcommand.name);
  }
  for (const Subcommand& subcommand : Subcommands()) {
    if (std::string_view(subcommand.name).starts_with(word) &&
        std::find(close.begin(), close.end(), subcommand.name) == close.end()) {
      close.emplace_back(subcommand.name);
    }
  }
  return close;
}

// The hidden lists the shell completion reads, one name a line.
bool PrintList(const std::string& option) {
  if (option == "--list-subcommands") {
    for (const Subcommand& subcommand : Subcommands()) std::printf("%s\n", subcommand.name);
    return true;
  }
  if (option == "--list-verbs") {
    for (const char* verb : MenuVerbs()) std::printf("%s\n", verb);
    return true;
  }
  return false;
}

// The first word that is not an option: the subcommand, if any.
std::string SubcommandWord(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (argv[i][0] != '-') return argv[i];
  }
  return "";
}

bool Given(int argc, char** argv, const char* option) {
  return std::any_of(argv + 1, argv + argc, [option](const char* a) { return std::strcmp(a, option) == 0; });
}

// --json --version: the version as the one JSON object.
int JsonVersion() {
  Report report("", true);
  report.Fields()["version"] = KORVANE_VERSION;
  return report.Finish();
}

// Before a subcommand that talks to the daemon: what can be checked here,
// then a daemon started as the library starts one when none serves.
bool Ready(const Subcommand& subcommand, const Call& call, Report& report) {
  if (subcommand.check != nullptr && !subcommand.check(call, report)) return false;
  if (!subcommand.needsDaemon) return true;
  switch (StartDaemonIfNeeded(kStartSeconds)) {
    case Started::Already:
      return true;
    case Started::Now:
      std::fprintf(stderr, "korvane: started the daemon; its log is %s\n", LogPath().c_str());
      return true;
    case Started::Failed:
      report.Fail(kNoDaemon, NotRunningMessage() + " The daemon program KorvaneBkgProc could not be started from "
                                                   "the library's folder.");
      return false;
    case Started::NotServing:
      report.Fail(kNoDaemon, NotRunningMessage() + " A daemon was started but did not serve within " +
                                 std::to_string(static_cast<int>(kStartSeconds)) + " s.");
      return false;
  }
  return false;
}

bool HoldsSeparator(const Call& call, std::string& name) {
  for (const auto& [argument, value] : call.values) {
    if (value.find('|') != std::string::npos) {
      name = argument;
      return true;
    }
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && PrintList(argv[1])) return kSucceeded;
  if (Given(argc, argv, "--json") && Given(argc, argv, "--version") && !Given(argc, argv, "--help") &&
      !Given(argc, argv, "-h")) {
    return JsonVersion();
  }

  if (!KnowsFolders()) {
    std::fprintf(stderr, "korvane: no home folder is known: set HOME, or XDG_STATE_HOME and XDG_CONFIG_HOME\n");
    return kWrongUse;
  }
  CLI::App app("Drives the Korvane daemon through the Korvane client library.", "korvane");
  app.footer(std::string("With --json, standard output carries one JSON object and nothing else.\n") + kExitStatuses +
             "\n\nThe daemon's log: " + LogPath() + "; its configuration: " + ConfigFile() +
             ".\nSee man korvane for every file.");
  app.set_version_flag("--version", std::string("korvane ") + KORVANE_VERSION);
  bool json = false;
  app.add_flag("--json", json, "Print one JSON object on standard output");
  app.require_subcommand(1, 1);
  app.fallthrough();

  Call call;
  std::vector<std::pair<CLI::App*, const Subcommand*>> commands;
  for (const Subcommand& subcommand : Subcommands()) {
    CLI::App* command = app.add_subcommand(subcommand.name, subcommand.summary);
    command->footer(kExitStatuses);
    for (const Argument& argument : subcommand.arguments) {
      command
          ->add_option_function<std::string>(
              argument.name, [&call, name = argument.name](const std::string& value) { call.values[name] = value; },
              argument.help)
          ->required(!argument.optional)
          ->type_name("");
    }
    if (subcommand.options == Options::Wait || subcommand.options == Options::Menu) {
      command->add_flag("--wait", call.wait, "Wait for the daemon's work to end and exit with its outcome");
    }
    if (subcommand.options == Options::Timeout) {
      command->add_option("--timeout", call.timeoutSeconds, "How long to wait, in seconds (default 10)")
          ->check(CLI::Range(0.0, 3600.0));
    }
    if (subcommand.options == Options::Menu) {
      command->add_flag("--background", call.background, "The menu of the folder's background");
      command->add_option("--invoke", call.invoke, "Run the entry that answers to VERB")->type_name("VERB");
    }
    commands.emplace_back(command, &subcommand);
  }

  const std::string word = SubcommandWord(argc, argv);
  const bool known = std::any_of(commands.begin(), commands.end(),
                                 [&](const auto& command) { return command.second->name == word; });
  const bool help = std::any_of(argv + 1, argv + argc, [](const char* a) {
    return std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0 || std::strcmp(a, "--version") == 0;
  });
  if (!word.empty() && !known && !help) {
    json = std::any_of(argv + 1, argv + argc, [](const char* a) { return std::strcmp(a, "--json") == 0; });
    Report report("", json);
    std::string message = "korvane: '" + word + "' is not a korvane subcommand. See 'korvane --help'.";
    if (const std::vector<std::string> close = Suggestions(word); !close.empty()) {
      message += "\n\nThe most similar subcommand" + std::string(close.size() > 1 ? "s are" : " is");
      for (const std::string& name : close) message += "\n        " + name;
    }
    report.Fail(kWrongUse, message);
    return report.Finish();
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    if (error.get_exit_code() == 0) return app.exit(error);  // --help, --version
    Report report(word, json);
    report.Fail(kWrongUse, std::string("korvane") + (word.empty() ? "" : " " + word) + ": " + error.what());
    const auto found = std::find_if(commands.begin(), commands.end(),
                                    [&](const auto& command) { return command.second->name == word; });
    std::fprintf(stderr, "%s", found != commands.end() ? found->first->help("korvane").c_str() : app.help().c_str());
    return report.Finish();
  }
  for (const auto& [command, subcommand] : commands) {
    if (!command->parsed()) continue;
    Report report(subcommand->name, json);
    std::string holder;
    if (subcommand->joined && HoldsSeparator(call, holder)) {
      report.Fail(kWrongUse, std::string("korvane ") + subcommand->name + ": " + holder +
                                 " may not hold '|', which separates the daemon's arguments.");
      return report.Finish();
    }
    if (!Ready(*subcommand, call, report)) return report.Finish();
    return subcommand->run(call, report);
  }
  return kWrongUse;  // require_subcommand makes this unreachable
}
