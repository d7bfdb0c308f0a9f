// korvane: drives the Korvane daemon through the library's exports.
//
//   korvane SUBCOMMAND [ARGUMENTS] [--json]   exit 0 when the export returned 1,
//   korvane --help                            1 when it returned 0, 2 on wrong use
//
// With --json, standard output carries one JSON object and nothing else.
#include "subcommands.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using korvane::cli::Subcommand;
using korvane::cli::Subcommands;

constexpr int kSucceeded = 0;
constexpr int kFailed = 1;
constexpr int kWrongUse = 2;

bool IsHelp(const char* argument) {
  return std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "-h") == 0;
}

void PrintUsage(std::FILE* out) {
  std::fprintf(out,
               "Usage: korvane SUBCOMMAND [ARGUMENTS] [--json]\n"
               "       korvane SUBCOMMAND --help\n\n"
               "Drives the Korvane daemon through the client library.\n"
               "With --json, standard output carries one JSON object and nothing else.\n"
               "Exit status: 0 when the call succeeded, 1 when it failed, 2 on wrong use.\n\n"
               "Subcommands:\n");
  for (const Subcommand& subcommand : Subcommands()) {
    std::fprintf(out, "  %-19s %s\n", subcommand.name, subcommand.summary);
  }
}

void PrintSubcommandUsage(std::FILE* out, const Subcommand& subcommand) {
  std::fprintf(out, "Usage: korvane %s%s%s\n\n%s\n", subcommand.name, *subcommand.arguments ? " " : "",
               subcommand.arguments, subcommand.summary);
}

const Subcommand* Find(const char* name) {
  for (const Subcommand& subcommand : Subcommands()) {
    if (std::strcmp(subcommand.name, name) == 0) return &subcommand;
  }
  return nullptr;
}

// The hidden lists the shell completion reads, one name a line.
bool PrintList(const std::string& option) {
  if (option == "--list-subcommands") {
    for (const Subcommand& subcommand : Subcommands()) std::printf("%s\n", subcommand.name);
    return true;
  }
  if (option == "--list-verbs") {
    for (const char* verb : korvane::cli::MenuVerbs()) std::printf("%s\n", verb);
    return true;
  }
  return false;
}

// Wrong use: a message and the usage for a person on standard error and,
// with --json, the JSON object that records it.
int WrongUse(const char* command, bool json, const std::string& message, const Subcommand* subcommand) {
  korvane::cli::Report report(command, json);
  report.WrongUse(message);
  if (subcommand != nullptr) {
    PrintSubcommandUsage(stderr, *subcommand);
  } else {
    std::fprintf(stderr, "\n");
    PrintUsage(stderr);
  }
  report.Finish();
  return kWrongUse;
}

}  // namespace

int main(int argc, char** argv) {
  // --json may stand anywhere; every other word keeps its place.
  std::vector<std::string> words;
  bool json = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--json") == 0) {
      json = true;
    } else {
      words.emplace_back(argv[i]);
    }
  }
  if (words.empty()) return WrongUse(nullptr, json, "korvane: no subcommand given", nullptr);
  if (IsHelp(words[0].c_str()) || words[0] == "help") {
    PrintUsage(stdout);
    return kSucceeded;
  }
  if (words.size() == 1 && PrintList(words[0])) return kSucceeded;
  const Subcommand* subcommand = Find(words[0].c_str());
  if (subcommand == nullptr) {
    return WrongUse(words[0].c_str(), json, "korvane: unknown subcommand '" + words[0] + "'", nullptr);
  }
  std::vector<std::string> arguments(words.begin() + 1, words.end());
  for (const std::string& argument : arguments) {
    if (IsHelp(argument.c_str())) {
      PrintSubcommandUsage(stdout, *subcommand);
      return kSucceeded;
    }
  }
  if (arguments.size() < subcommand->fewestArguments || arguments.size() > subcommand->mostArguments) {
    return WrongUse(subcommand->name, json, std::string("korvane ") + subcommand->name + ": wrong number of arguments",
                    subcommand);
  }
  korvane::cli::Report report(subcommand->name, json);
  korvane::cli::Outcome outcome = subcommand->run(arguments, report);
  if (outcome == korvane::cli::Outcome::WrongUse) {
    // A subcommand that found its arguments wrong may not have said why.
    if (!report.HasError()) report.WrongUse(std::string("korvane ") + subcommand->name + ": wrong arguments");
    PrintSubcommandUsage(stderr, *subcommand);
  }
  report.Finish();
  switch (outcome) {
    case korvane::cli::Outcome::Succeeded: return kSucceeded;
    case korvane::cli::Outcome::Failed: return kFailed;
    case korvane::cli::Outcome::WrongUse: break;
  }
  return kWrongUse;
}
