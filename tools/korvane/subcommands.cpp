#include "subcommands.h"

#include "korvane/korvane.h"
#include "platform/posix/wide_path.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

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

// A text the library handed out, freed when done with.
using HandedOut = std::unique_ptr<char, decltype(&std::free)>;
HandedOut Own(char* text) { return HandedOut(text, &std::free); }

// The fields of a record the library built, each followed by "|"; no field
// holds a "|". Missing fields are left out.
std::vector<std::string_view> SplitRecord(std::string_view record) {
  std::vector<std::string_view> fields;
  while (!record.empty()) {
    std::size_t end = record.find('|');
    fields.push_back(record.substr(0, end));
    if (end == std::string_view::npos) break;
    record.remove_prefix(end + 1);
  }
  return fields;
}

struct RecordField {
  const char* name;
  bool numeric;
};

constexpr RecordField kVerdictFields[] = {
    {"code", true}, {"operation", false}, {"message", false}, {"systemError", true}, {"detail", false}};
constexpr RecordField kStatusFields[] = {{"mode", true}, {"text1", false}, {"text2", false}, {"text3", false}};

// A numeric field of a record: the library writes these in decimal, so the
// text form appears only if that ever changes.
void NumberOrText(JsonWriter& json, std::string_view field) {
  std::int64_t value = 0;
  auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value);
  if (!field.empty() && error == std::errc() && end == field.data() + field.size()) {
    json.Number(value);
  } else {
    json.String(field);
  }
}

// A record's fields as members of the open JSON object; absent ones (no
// record at all, or one cut short) are null.
void RecordMembers(JsonWriter& json, const char* record, std::span<const RecordField> names) {
  std::vector<std::string_view> fields = record != nullptr ? SplitRecord(record) : std::vector<std::string_view>();
  for (std::size_t i = 0; i < names.size(); ++i) {
    json.Key(names[i].name);
    if (i >= fields.size()) {
      json.Null();
    } else if (names[i].numeric) {
      NumberOrText(json, fields[i]);
    } else {
      json.String(fields[i]);
    }
  }
}

Outcome Unreachable() {
  std::fprintf(stderr, "The daemon could not be asked: it is not running, or it did not answer in time.\n");
  return Outcome::Failed;
}

Outcome Answered(int32_t result) { return result == 1 ? Outcome::Succeeded : Unreachable(); }

Outcome OneWay(Report& report, int32_t result) {
  report.Result(result);
  if (result == 1) report.Say("Command written to the daemon.\n");
  return Answered(result);
}

void PrintVerdict(const char* verdict) {
  if (verdict == nullptr) {
    std::printf("The daemon answered without a verdict.\n");
    return;
  }
  static const char* const kLabels[] = {"code", "operation", "message", "system error", "detail"};
  std::printf("Verdict: %s\n", verdict);
  std::vector<std::string_view> fields = SplitRecord(verdict);
  for (std::size_t i = 0; i < fields.size() && i < std::size(kLabels); ++i) {
    std::printf("  %-13s %.*s\n", kLabels[i], static_cast<int>(fields[i].size()), fields[i].data());
  }
}

// A repository verdict, code|operation|message|systemError|detail|, field by field.
Outcome Verdict(Report& report, int32_t result, char* handedOut) {
  HandedOut verdict = Own(handedOut);
  report.Result(result);
  if (report.Json()) {
    report.Member("verdict").String(verdict.get());
    JsonWriter& record = report.Member("record");
    if (verdict == nullptr) {
      record.Null();
    } else {
      RecordMembers(record.BeginObject(), verdict.get(), kVerdictFields);
      record.EndObject();
    }
  } else if (result == 1) {
    PrintVerdict(verdict.get());
  }
  return Answered(result);
}

// The three fields of a hosting call. A person sees them only when the
// daemon answered; JSON always names them.
Outcome Fields(Report& report, int32_t result, char* (&out)[3]) {
  HandedOut owned[] = {Own(out[0]), Own(out[1]), Own(out[2])};
  report.Result(result);
  if (result == 1 || report.Json()) {
    report.HandedOut("out1", "Field 1: ", owned[0].get());
    report.HandedOut("out2", "Field 2: ", owned[1].get());
    report.HandedOut("out3", "Field 3: ", owned[2].get());
  }
  return Answered(result);
}

Outcome StartDaemon(const Arguments&, Report& report) {
  int32_t result = Korvane_StartDaemon();
  report.Result(result);
  if (result != 1) {
    std::fprintf(stderr, "The daemon program could not be started.\n");
    return Outcome::Failed;
  }
  report.Say("Daemon process started.\n");
  return Outcome::Succeeded;
}

Outcome StopDaemon(const Arguments&, Report& report) {
  int32_t result = Korvane_StopDaemon();
  report.Result(result);
  if (result != 1) {
    std::fprintf(stderr, "No daemon took the stop request.\n");
    return Outcome::Failed;
  }
  report.Say("Stop request delivered.\n");
  return Outcome::Succeeded;
}

// An export that hands out one text: its outcome, and the text under name.
Outcome OneText(Report& report, int32_t result, char* handedOut, const char* name, const char* label) {
  HandedOut text = Own(handedOut);
  report.Result(result);
  if (result == 1 || report.Json()) report.HandedOut(name, label, text.get());
  return Answered(result);
}

Outcome GetErrorText(const Arguments& a, Report& report) {
  char* text = nullptr;
  int32_t result = Korvane_GetErrorText(a.empty() ? nullptr : a[0].c_str(), &text);
  return OneText(report, result, text, "text", "Error text: ");
}

Outcome GetActivations(const Arguments&, Report& report) {
  char* list = nullptr;
  int32_t result = Korvane_GetActivations(&list);
  return OneText(report, result, list, "list", "Activations:\n");
}

// The whole status record, and in JSON its fields too.
Outcome GetStatus(const Arguments& a, Report& report) {
  char* handedOut = nullptr;
  int32_t result = Korvane_GetStatus(Wide(Path(a[0])), &handedOut);
  HandedOut status = Own(handedOut);
  report.Result(result);
  if (result == 1 || report.Json()) report.HandedOut("status", "Status (mode|text1|text2|text3|): ", status.get());
  if (report.Json()) RecordMembers(report.Members(), status.get(), kStatusFields);
  return Answered(result);
}

Outcome IsVersioned(const Arguments& a, Report& report) {
  bool versioned = Korvane_IsVersioned(Wide(Path(a[0]))) == 1;
  report.Result(versioned ? 1 : 0);
  report.Say("%s\n", versioned ? "Versioned: the path lies in a working copy." : "Not versioned.");
  return versioned ? Outcome::Succeeded : Outcome::Failed;
}

Outcome ActivatePath(const Arguments& a, Report& report) {
  char* end = nullptr;
  long mode = std::strtol(a[1].c_str(), &end, 10);
  if (*end != '\0' || mode < 1 || mode > 3) {
    report.WrongUse("MODE must be 1 (Korvane dialogs), 2 (TortoiseSVN dialogs) or 3 (automatic commit and update).");
    return Outcome::WrongUse;
  }
  return OneWay(report, Korvane_ActivatePath(Wide(Path(a[0])), static_cast<int32_t>(mode)));
}

Outcome DeactivatePath(const Arguments& a, Report& report) {
  return OneWay(report, Korvane_DeactivatePath(Wide(Path(a[0]))));
}

Outcome Checkout(const Arguments& a, Report& report) {
  char* end = nullptr;
  unsigned long mode = std::strtoul(a[2].c_str(), &end, 10);
  if (*end != '\0' || mode > 255) {
    report.WrongUse("MODE must be a number from 0 to 255.");
    return Outcome::WrongUse;
  }
  return OneWay(report, Korvane_Checkout(Wide(Text(a[0])), Wide(Path(a[1])), static_cast<uint8_t>(mode)));
}

template <int32_t (*Export)(const KorvaneChar*, const KorvaneChar*, char**, char**, char**)>
Outcome TwoTextFields(const Arguments& a, Report& report) {
  char* out[3] = {};
  int32_t result = Export(Wide(Text(a[0])), Wide(Text(a[1])), &out[0], &out[1], &out[2]);
  return Fields(report, result, out);
}

Outcome ShowSpace(const Arguments& a, Report& report) {
  char* out[3] = {};
  int32_t result = Korvane_ShowSpace(Wide(Text(a[0])), Wide(Text(a[1])), Wide(Text(a[2])), &out[0], &out[1], &out[2]);
  return Fields(report, result, out);
}

template <int32_t (*Export)(const KorvaneChar*, const KorvaneChar*, const KorvaneChar*, const KorvaneChar*, char**,
                            char**, char**)>
Outcome FourTextFields(const Arguments& a, Report& report) {
  char* out[3] = {};
  int32_t result =
      Export(Wide(Text(a[0])), Wide(Text(a[1])), Wide(Text(a[2])), Wide(Text(a[3])), &out[0], &out[1], &out[2]);
  return Fields(report, result, out);
}

template <int32_t (*Export)(const KorvaneChar*, char**)>
Outcome OneTextVerdict(const Arguments& a, Report& report) {
  char* verdict = nullptr;
  int32_t result = Export(Wide(Text(a[0])), &verdict);
  return Verdict(report, result, verdict);
}

template <int32_t (*Export)(const KorvaneChar*, const KorvaneChar*, char**)>
Outcome TwoTextVerdict(const Arguments& a, Report& report) {
  char* verdict = nullptr;
  int32_t result = Export(Wide(Text(a[0])), Wide(Text(a[1])), &verdict);
  return Verdict(report, result, verdict);
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
