#include "subcommands.h"

#include "korvane/korvane.h"
#include "platform/posix/wide_path.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace korvane::cli {
namespace {

using Arguments = std::vector<std::string>;

std::u16string Text(const std::string& argument) { return posix::WidePath(argument); }

// Paths are made absolute against the current folder, as a person means them.
std::u16string Path(const std::string& argument) {
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(argument, error);
  return posix::WidePath(error ? argument : absolute.lexically_normal().string());
}

const KorvaneChar* Wide(const std::u16string& text) { return text.c_str(); }

// Prints a text the library handed out and frees its buffer.
void PrintHandedOut(const char* label, char* text) {
  std::printf("%s%s\n", label, text != nullptr ? text : "(none)");
  std::free(text);
}

Outcome Unreachable() {
  std::fprintf(stderr, "The daemon could not be asked: it is not running, or it did not answer in time.\n");
  return Outcome::Failed;
}

Outcome OneWay(int32_t result) {
  if (result != 1) return Unreachable();
  std::printf("Command written to the daemon.\n");
  return Outcome::Succeeded;
}

// A repository verdict, code|operation|message|systemError|detail|, field by field.
Outcome Verdict(int32_t result, char* verdict) {
  if (result != 1) return Unreachable();
  if (verdict == nullptr) {
    std::printf("The daemon answered without a verdict.\n");
    return Outcome::Succeeded;
  }
  static const char* const kFields[] = {"code", "operation", "message", "system error", "detail"};
  std::string text = verdict;
  std::free(verdict);
  std::printf("Verdict: %s\n", text.c_str());
  std::size_t start = 0;
  for (const char* field : kFields) {
    std::size_t end = text.find('|', start);
    std::printf("  %-13s %s\n", field, text.substr(start, end - start).c_str());
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return Outcome::Succeeded;
}

Outcome Fields(int32_t result, char* out1, char* out2, char* out3) {
  if (result != 1) return Unreachable();
  PrintHandedOut("Field 1: ", out1);
  PrintHandedOut("Field 2: ", out2);
  PrintHandedOut("Field 3: ", out3);
  return Outcome::Succeeded;
}

Outcome StartDaemon(const Arguments&) {
  if (Korvane_StartDaemon() != 1) {
    std::fprintf(stderr, "The daemon program could not be started.\n");
    return Outcome::Failed;
  }
  std::printf("Daemon process started.\n");
  return Outcome::Succeeded;
}

Outcome StopDaemon(const Arguments&) {
  if (Korvane_StopDaemon() != 1) {
    std::fprintf(stderr, "No daemon took the stop request.\n");
    return Outcome::Failed;
  }
  std::printf("Stop request delivered.\n");
  return Outcome::Succeeded;
}

Outcome GetErrorText(const Arguments& a) {
  char* text = nullptr;
  if (Korvane_GetErrorText(a.empty() ? nullptr : a[0].c_str(), &text) != 1) return Unreachable();
  PrintHandedOut("Error text: ", text);
  return Outcome::Succeeded;
}

Outcome GetActivations(const Arguments&) {
  char* list = nullptr;
  if (Korvane_GetActivations(&list) != 1) return Unreachable();
  PrintHandedOut("Activations:\n", list);
  return Outcome::Succeeded;
}

Outcome GetStatus(const Arguments& a) {
  char* status = nullptr;
  if (Korvane_GetStatus(Wide(Path(a[0])), &status) != 1) return Unreachable();
  PrintHandedOut("Status (mode|text1|text2|text3|): ", status);
  return Outcome::Succeeded;
}

Outcome IsVersioned(const Arguments& a) {
  bool versioned = Korvane_IsVersioned(Wide(Path(a[0]))) == 1;
  std::printf("%s\n", versioned ? "Versioned: the path lies in a working copy." : "Not versioned.");
  return versioned ? Outcome::Succeeded : Outcome::Failed;
}

Outcome ActivatePath(const Arguments& a) {
  char* end = nullptr;
  long mode = std::strtol(a[1].c_str(), &end, 10);
  if (*end != '\0' || mode < 1 || mode > 3) {
    std::fprintf(stderr, "MODE must be 1 (Korvane dialogs), 2 (TortoiseSVN dialogs) or 3 (automatic commit and update).\n");
    return Outcome::WrongUse;
  }
  return OneWay(Korvane_ActivatePath(Wide(Path(a[0])), static_cast<int32_t>(mode)));
}

Outcome DeactivatePath(const Arguments& a) { return OneWay(Korvane_DeactivatePath(Wide(Path(a[0])))); }

Outcome Checkout(const Arguments& a) {
  char* end = nullptr;
  unsigned long mode = std::strtoul(a[2].c_str(), &end, 10);
  if (*end != '\0' || mode > 255) {
    std::fprintf(stderr, "MODE must be a number from 0 to 255.\n");
    return Outcome::WrongUse;
  }
  return OneWay(Korvane_Checkout(Wide(Text(a[0])), Wide(Path(a[1])), static_cast<uint8_t>(mode)));
}

template <int32_t (*Export)(const KorvaneChar*, const KorvaneChar*, char**, char**, char**)>
Outcome TwoTextFields(const Arguments& a) {
  char* out[3] = {};
  int32_t result = Export(Wide(Text(a[0])), Wide(Text(a[1])), &out[0], &out[1], &out[2]);
  return Fields(result, out[0], out[1], out[2]);
}

Outcome ShowSpace(const Arguments& a) {
  char* out[3] = {};
  int32_t result = Korvane_ShowSpace(Wide(Text(a[0])), Wide(Text(a[1])), Wide(Text(a[2])), &out[0], &out[1], &out[2]);
  return Fields(result, out[0], out[1], out[2]);
}

template <int32_t (*Export)(const KorvaneChar*, const KorvaneChar*, const KorvaneChar*, const KorvaneChar*, char**,
                            char**, char**)>
Outcome FourTextFields(const Arguments& a) {
  char* out[3] = {};
  int32_t result =
      Export(Wide(Text(a[0])), Wide(Text(a[1])), Wide(Text(a[2])), Wide(Text(a[3])), &out[0], &out[1], &out[2]);
  return Fields(result, out[0], out[1], out[2]);
}

template <int32_t (*Export)(const KorvaneChar*, char**)>
Outcome OneTextVerdict(const Arguments& a) {
  char* verdict = nullptr;
  int32_t result = Export(Wide(Text(a[0])), &verdict);
  return Verdict(result, verdict);
}

template <int32_t (*Export)(const KorvaneChar*, const KorvaneChar*, char**)>
Outcome TwoTextVerdict(const Arguments& a) {
  char* verdict = nullptr;
  int32_t result = Export(Wide(Text(a[0])), Wide(Text(a[1])), &verdict);
  return Verdict(result, verdict);
}

constexpr Subcommand kSubcommands[] = {
    {"menu", "PATH [--background] [--invoke VERB]",
     "Show the context menu the shell extension offers for PATH (or for the background of the folder PATH), "
     "and run the entry with VERB.",
     1, 4, Menu},
    {"start-daemon", "", "Start one more daemon process from the library's folder.", 0, 0, StartDaemon},
    {"stop-daemon", "", "Ask the running daemon to stop.", 0, 0, StopDaemon},
    {"get-error-text", "[KEY]", "Ask the daemon for the error text that KEY selects (none: the empty key).", 0, 1,
     GetErrorText},
    {"get-activations", "", "List the activated folders.", 0, 0, GetActivations},
    {"get-status", "PATH", "Show a folder's activation status (starts the daemon when none runs).", 1, 1, GetStatus},
    {"activate-path", "PATH MODE",
     "Activate a folder: MODE 1 Korvane dialogs, 2 TortoiseSVN dialogs, 3 automatic commit and update.", 2, 2,
     ActivatePath},
    {"deactivate-path", "PATH", "Deactivate a folder.", 1, 1, DeactivatePath},
    {"checkout", "URL PATH MODE", "Ask the daemon to check URL out into PATH in MODE.", 3, 3, Checkout},
    {"is-versioned", "PATH", "Tell whether PATH lies in a Subversion working copy (exit 0 when it does).", 1, 1,
     IsVersioned},
    {"list-spaces", "ARG1 ARG2", "List spaces on the hosting service.", 2, 2, TwoTextFields<Korvane_ListSpaces>},
    {"show-space", "ARG1 ARG2 ARG3", "Show a space on the hosting service.", 3, 3, ShowSpace},
    {"create-space", "ARG1 ARG2 ARG3 ARG4", "Create a space on the hosting service.", 4, 4,
     FourTextFields<Korvane_CreateSpace>},
    {"find-users", "ARG1 ARG2", "Find users of the hosting service.", 2, 2, TwoTextFields<Korvane_FindUsers>},
    {"invite", "ARG1 ARG2 ARG3 ARG4", "Invite a user to a space.", 4, 4, FourTextFields<Korvane_Invite>},
    {"rename-l-dir", "DIRECTORY", "Rename a local directory of a share.", 1, 1, OneTextVerdict<Korvane_RenameLDir>},
    {"create-repo", "REPOSITORY", "Create a repository.", 1, 1, OneTextVerdict<Korvane_CreateRepo>},
    {"open-repo", "REPOSITORY", "Open a repository.", 1, 1, OneTextVerdict<Korvane_OpenRepo>},
    {"svn-checkout-wait", "ARG1 ARG2", "Check out and wait until done.", 2, 2,
     TwoTextVerdict<Korvane_SvnCheckoutWait>},
    {"copy-to-repo", "ARG1 ARG2", "Copy a folder into a repository.", 2, 2, TwoTextVerdict<Korvane_CopyToRepo>},
    {"svn-add", "PATH", "Add a path to version control.", 1, 1, OneTextVerdict<Korvane_SvnAdd>},
    {"svn-commit", "PATH", "Commit a working copy.", 1, 1, OneTextVerdict<Korvane_SvnCommit>},
    {"remove-l-dir", "ARG1 ARG2", "Remove a local directory of a share.", 2, 2, TwoTextVerdict<Korvane_RemoveLDir>},
    {"remove-tmp-dir", "DIRECTORY", "Remove a temporary directory.", 1, 1, OneTextVerdict<Korvane_RemoveTmpDir>},
    {"restore-l-dir", "ARG1 ARG2", "Restore a removed local directory.", 2, 2, TwoTextVerdict<Korvane_RestoreLDir>},
};

}  // namespace

std::span<const Subcommand> Subcommands() { return kSubcommands; }

}  // namespace korvane::cli
