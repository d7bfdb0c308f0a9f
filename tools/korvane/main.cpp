// korvane: drives the Korvane daemon through the library's exports.
//
//   korvane SUBCOMMAND [ARGUMENTS]     exit 0 when the export returned 1,
//   korvane --help                     1 when it returned 0, 2 on wrong use
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
               "Usage: korvane SUBCOMMAND [ARGUMENTS]\n"
               "       korvane SUBCOMMAND --help\n\n"
               "Drives the Korvane daemon through the client library.\n"
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

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    PrintUsage(stderr);
    return kWrongUse;
  }
  if (IsHelp(argv[1]) || std::strcmp(argv[1], "help") == 0) {
    PrintUsage(stdout);
    return kSucceeded;
  }
  const Subcommand* subcommand = Find(argv[1]);
  if (subcommand == nullptr) {
    std::fprintf(stderr, "korvane: unknown subcommand '%s'\n\n", argv[1]);
    PrintUsage(stderr);
    return kWrongUse;
  }
  std::vector<std::string> arguments(argv + 2, argv + argc);
  for (const std::string& argument : arguments) {
    if (IsHelp(argument.c_str())) {
      PrintSubcommandUsage(stdout, *subcommand);
      return kSucceeded;
    }
  }
  if (arguments.size() < subcommand->fewestArguments || arguments.size() > subcommand->mostArguments) {
    std::fprintf(stderr, "korvane %s: wrong number of arguments\n", subcommand->name);
    PrintSubcommandUsage(stderr, *subcommand);
    return kWrongUse;
  }
  switch (subcommand->run(arguments)) {
    case korvane::cli::Outcome::Succeeded: return kSucceeded;
    case korvane::cli::Outcome::Failed: return kFailed;
    case korvane::cli::Outcome::WrongUse: break;
  }
  PrintSubcommandUsage(stderr, *subcommand);
  return kWrongUse;
}
