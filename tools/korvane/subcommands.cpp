#include "subcommands.h"

#include "korvane/korvane.h"

#include <cstdio>
#include <cstdlib>

namespace korvane::cli {
namespace {

// Prints a text the library handed out and frees its buffer.
void PrintHandedOut(const char* label, char* text) {
  std::printf("%s%s\n", label, text != nullptr ? text : "(none)");
  std::free(text);
}

bool StartDaemon(const std::vector<std::string>&) {
  if (Korvane_StartDaemon() != 1) {
    std::fprintf(stderr, "The daemon program could not be started.\n");
    return false;
  }
  std::printf("Daemon process started.\n");
  return true;
}

bool StopDaemon(const std::vector<std::string>&) {
  if (Korvane_StopDaemon() != 1) {
    std::fprintf(stderr, "No daemon took the stop request.\n");
    return false;
  }
  std::printf("Stop request delivered.\n");
  return true;
}

bool GetErrorText(const std::vector<std::string>& arguments) {
  char* text = nullptr;
  if (Korvane_GetErrorText(arguments.empty() ? nullptr : arguments[0].c_str(), &text) != 1) {
    std::fprintf(stderr, "The daemon could not be asked.\n");
    return false;
  }
  PrintHandedOut("Error text: ", text);
  return true;
}

constexpr Subcommand kSubcommands[] = {
    {"start-daemon", "", "Start one more daemon process from the library's folder.", 0, 0, StartDaemon},
    {"stop-daemon", "", "Ask the running daemon to stop.", 0, 0, StopDaemon},
    {"get-error-text", "[KEY]", "Ask the daemon for the error text that KEY selects (none: the empty key).", 0, 1,
     GetErrorText},
};

}  // namespace

std::span<const Subcommand> Subcommands() { return kSubcommands; }

}  // namespace korvane::cli
