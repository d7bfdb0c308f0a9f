#include "subcommands.h"

#include "daemon_place.h"
#include "jobs.h"
#include "team_subcommands.h"
#include "text.h"

#include "korvane/korvane.h"

#include <cctype>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>
#include <thread>

namespace korvane::cli {

namespace {

using namespace std::chrono_literals;


// A text the library handed out, freed when done with.
using HandedOut = std::unique_ptr<char, decltype(&std::free)>;
HandedOut Own(char* text) { return HandedOut(text, &std::free); }

// Wide text for an export, alive as long as the holder.
struct Wide {
  explicit Wide(const std::string& utf8) : text(Utf16(utf8)) {}
  operator const KorvaneChar*() const { return reinterpret_cast<const KorvaneChar*>(text.c_str()); }
  std::u16string text;
};

std::vector<std::string> Split(std::string_view text, char separator) {
  std::vector<std::string> fields;
  for (;;) {
    const std::size_t end = text.find(separator);
    fields.emplace_back(text.substr(0, end));
    if (end == std::string_view::npos) return fields;
    text.remove_prefix(end + 1);
  }
}

// The items of a list the daemon sends one a line, each ending in a line feed.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines = Split(text, '\n');
  if (!lines.empty() && lines.back().empty()) lines.pop_back();
  return lines;
}

// A decimal field; the text itself when it is not one.
Json Number(const std::string& field) {
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), value);
  if (field.empty() || error != std::errc() || end != field.data() + field.size()) return field;
  return value;
}

const char* ModeName(std::int64_t mode) {
  switch (mode) {
    case 1: return "Korvane dialogs";
    case 2: return "TortoiseSVN dialogs";
    case 3: return "automatic commit and update";
    default: return "not activated";
  }
}

int NoDaemon(Report& report) {
  report.Fail(kNoDaemon, NotRunningMessage());
  return report.Finish();
}

// ---- Daemon control --------------------------------------------------------

int StartDaemon(const Call& call, Report& report) {
  report.Fields()["socket"] = SocketPath();
  report.Fields()["log"] = LogPath();
  switch (StartDaemonIfNeeded(call.timeoutSeconds)) {
    case Started::Already:
      report.Say("A daemon already serves " + SocketPath() + "; its log is " + LogPath() + ".");
      break;
    case Started::Now:
      report.Say("The daemon serves " + SocketPath() + "; its log is " + LogPath() + ".");
      break;
    case Started::Failed:
      report.Fail(kFailed, "The daemon program KorvaneBkgProc could not be started from the library's folder.");
      break;
    case Started::NotServing:
      report.Fail(kNoDaemon, "The daemon was started but does not serve " + SocketPath() + " after " +
                                 std::to_string(static_cast<int>(call.timeoutSeconds)) + " s; see its log, " +
                                 LogPath() + ".");
      break;
  }
  return report.Finish();
}

int StopDaemon(const Call& call, Report& report) {
  report.Fields()["socket"] = SocketPath();
  if (!Serves()) return NoDaemon(report);
  // The daemon may break the connection as it goes: then too it has the request.
  if (Korvane_StopDaemon() != 1 && Serves()) {
    report.Fail(kFailed, "The daemon at " + SocketPath() + " did not take the stop request.");
    return report.Finish();
  }
  if (!WaitUntil(call.timeoutSeconds, [] { return !Serves() && !HoldsStartLock(); })) {
    report.Fail(kFailed, "The daemon took the stop request but still runs after " +
                             std::to_string(static_cast<int>(call.timeoutSeconds)) + " s.");
    return report.Finish();
  }
  report.Say("The daemon has stopped.");
  return report.Finish();
}

int GetErrorText(const Call& call, Report& report) {
  char* handedOut = nullptr;
  const std::string key = call.Has("KEY") ? call["KEY"] : "";
  if (Korvane_GetErrorText(key.c_str(), &handedOut) != 1) return NoDaemon(report);
  const std::string text = Clean(Own(handedOut).get());
  report.Fields()["key"] = key;
  report.Fields()["text"] = text;
  report.Say(text.empty() ? "The daemon has no text for that key." : text);
  return report.Finish();
}

// ---- Activation and status -----------------------------------------------

int GetActivations(const Call&, Report& report) {
  char* handedOut = nullptr;
  if (Korvane_GetActivations(&handedOut) != 1) return NoDaemon(report);
  Json activations = Json::array();
  for (const std::string& line : Lines(Clean(Own(handedOut).get()))) {
    const std::size_t bar = line.find('|');
    const Json mode = Number(line.substr(0, bar));
    const std::string folder = bar == std::string::npos ? "" : line.substr(bar + 1);
    activations.push_back({{"mode", mode}, {"folder", folder}});
    report.Show(folder, mode.is_number() ? ModeName(mode.get<std::int64_t>()) : line);
  }
  if (activations.empty()) report.Say("No folder is activated.");
  report.Fields()["activations"] = std::move(activations);
  return report.Finish();
}

int GetStatus(const Call& call, Report& report) {
  char* handedOut = nullptr;
  if (Korvane_GetStatus(Wide(AbsolutePath(call["PATH"])), &handedOut) != 1) return NoDaemon(report);
  const std::vector<std::string> fields = Split(Clean(Own(handedOut).get()), '|');
  const auto field = [&](std::size_t i) { return i < fields.size() ? fields[i] : std::string(); };
  const Json mode = Number(field(0));
  report.Fields() = {{"mode", mode},
                     {"repositoryRoot", field(1)},
                     {"activatedFolder", field(2)},
                     {"path", field(3)}};
  report.Show("Mode", field(0) + " (" + (mode.is_number() ? ModeName(mode.get<std::int64_t>()) : "?") + ")");
  report.Show("Repository root", field(1).empty() ? "(not in a working copy)" : field(1));
  report.Show("Activated folder", field(2).empty() ? "(none)" : field(2));
  report.Show("Path", field(3));
  return report.Finish();
}

// A one-way command that went out: either the note that it did, or, with
// --wait, the work's end.
int AfterOneWay(const Call& call, Report& report, int32_t sent, const char* operation, const std::string& folder,
                std::uint64_t highestBefore) {
  if (sent != 1) return NoDaemon(report);
  if (!call.wait) {
    report.Fields()["job"] = nullptr;
    report.Say("Asked the daemon; `korvane jobs` shows how it goes, or add --wait.");
    return report.Finish();
  }
  WaitForJob(report, operation, folder, highestBefore);
  return report.Finish();
}

bool CheckActivation(const Call& call, Report& report) {
  const std::string& mode = call["MODE"];
  if (mode.size() != 1 || mode[0] < '1' || mode[0] > '3') {
    report.Fail(kWrongUse, "MODE must be 1 (Korvane dialogs), 2 (TortoiseSVN dialogs) or 3 (automatic commit and "
                           "update).");
    return false;
  }
  return CheckFolder(call, report);
}

int ActivatePath(const Call& call, Report& report) {
  const std::string& mode = call["MODE"];  // checked by CheckActivation
  const std::string path = AbsolutePath(call["PATH"]);
  report.Fields()["path"] = path;
  report.Fields()["mode"] = mode[0] - '0';
  const std::uint64_t before = HighestJobId(ReadJobs());
  const int32_t sent = Korvane_ActivatePath(Wide(path), mode[0] - '0');
  return AfterOneWay(call, report, sent, (std::string("activatePath") + mode).c_str(), path, before);
}

int DeactivatePath(const Call& call, Report& report) {
  const std::string path = AbsolutePath(call["PATH"]);
  report.Fields()["path"] = path;
  const std::uint64_t before = HighestJobId(ReadJobs());
  return AfterOneWay(call, report, Korvane_DeactivatePath(Wide(path)), "deactivatePath", path, before);
}

// Checkout's MODE, 0 when not given; nothing when it is not one.
std::optional<unsigned> CheckoutMode(const Call& call) {
  unsigned mode = 0;
  if (!call.Has("MODE")) return mode;
  const std::string& text = call["MODE"];
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), mode);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || mode > 3) return std::nullopt;
  return mode;
}

// Checkout makes PATH, but in a folder that is there.
bool CheckCheckout(const Call& call, Report& report) {
  if (!CheckoutMode(call)) {
    report.Fail(kWrongUse, "MODE must be 0 (not activated), 1, 2 or 3.");
    return false;
  }
  const std::filesystem::path path = AbsolutePath(call["PATH"]);
  std::error_code error;
  if (std::filesystem::is_directory(path.parent_path(), error)) {
    if (!std::filesystem::exists(path, error) || std::filesystem::is_directory(path, error)) return true;
    report.Fail(kFailed, "korvane checkout: " + path.string() + " is a file, not a folder to check out into.");
    return false;
  }
  report.Fail(kFailed, "korvane checkout: " + path.parent_path().string() + ", where " + path.filename().string() +
                           " would go, is not a folder.");
  return false;
}

int Checkout(const Call& call, Report& report) {
  const unsigned mode = CheckoutMode(call).value_or(0);  // checked by CheckCheckout
  const std::string path = AbsolutePath(call["PATH"]);
  report.Fields() = {{"url", call["URL"]}, {"path", path}, {"mode", mode}};
  const std::uint64_t before = HighestJobId(ReadJobs());
  const int32_t sent = Korvane_Checkout(Wide(call["URL"]), Wide(path), static_cast<uint8_t>(mode));
  return AfterOneWay(call, report, sent, "checkout", path, before);
}

int IsVersioned(const Call& call, Report& report) {
  const std::string path = AbsolutePath(call["PATH"]);
  const bool versioned = Korvane_IsVersioned(Wide(path)) == 1;
  report.Fields() = {{"path", path}, {"versioned", versioned}};
  report.Say(versioned ? "Versioned: " + path + " lies in a working copy." : "Not versioned: " + path);
  if (!versioned) report.Conclude(kFailed);
  return report.Finish();
}

// ---- Hosting service -------------------------------------------------------

// What a refusal's text holds beyond its key's general sentence: the
// specifics the daemon puts in the last parentheses.
std::string Specifics(const std::string& text) {
  if (text.empty() || text.back() != ')') return "";
  int depth = 0;
  for (std::size_t at = text.size(); at-- > 0;) {
    if (text[at] == ')') ++depth;
    if (text[at] == '(' && --depth == 0) return text.substr(at + 1, text.size() - at - 2);
  }
  return "";
}

// A refused hosting request in the words of what happened: the daemon's
// specifics ("no space is named x"), and for what the server refused, the
// server's own reason (its hook prints "Korvane: WHY").
std::string RefusalInWords(const std::string& key, const std::string& text) {
  // A credential the service refused is told with what to do about it.
  constexpr std::string_view kLoginAdvice = "run `korvane login`";
  if (const std::size_t advice = text.find(kLoginAdvice); advice != std::string::npos) {
    return text.substr(0, advice + kLoginAdvice.size());
  }
  const std::string specifics = Specifics(text);
  if (specifics.empty()) return text.empty() ? "The daemon refused: " + key : text;
  if (key != "NOT_ALLOWED") return specifics;
  std::string reason = specifics;
  if (const std::size_t hook = reason.find("Korvane: "); hook != std::string::npos) {
    reason = reason.substr(hook + 9);
  } else if (const std::size_t output = reason.find("with output:"); output != std::string::npos) {
    reason = reason.substr(output + 12);
  }
  while (!reason.empty() && (std::isspace(static_cast<unsigned char>(reason.front())) != 0)) reason.erase(0, 1);
  while (!reason.empty() && (std::isspace(static_cast<unsigned char>(reason.back())) != 0 || reason.back() == ';')) {
    reason.pop_back();
  }
  return "refused by the server because " + reason;
}

// The three fields a hosting export handed out.
struct HostingReply {
  std::string out[3];
};

// Runs a hosting export; false (with the report finished) when the daemon
// was not reached or said no.
template <typename Export>
bool Hosting(Report& report, Export call, HostingReply& reply, int& status) {
  char* out[3] = {};
  const int32_t result = call(&out[0], &out[1], &out[2]);
  HandedOut owned[] = {Own(out[0]), Own(out[1]), Own(out[2])};
  if (result != 1) {
    status = NoDaemon(report);
    return false;
  }
  for (int i = 0; i < 3; ++i) reply.out[i] = Clean(owned[i].get());
  if (reply.out[0].empty()) {
    // A refusal: the key of the outcome, then its text.
    report.Fields()["errorKey"] = reply.out[1];
    report.Fail(kFailed, RefusalInWords(reply.out[1], reply.out[2]));
    status = report.Finish();
    return false;
  }
  return true;
}

int ListSpaces(const Call& call, Report& report) {
  const std::string filter = call.Has("FILTER") ? call["FILTER"] : "";
  HostingReply reply;
  int status = 0;
  if (!Hosting(report, [&](char** a, char** b, char** c) { return Korvane_ListSpaces(Wide(filter), nullptr, a, b, c); },
               reply, status)) {
    return status;
  }
  const std::vector<std::string> spaces = Lines(reply.out[1]);
  report.Fields() = {{"filter", filter}, {"count", Number(reply.out[0])}, {"spaces", spaces}};
  if (spaces.empty()) report.Say("No space matches.");
  for (const std::string& space : spaces) report.Say(space);
  return report.Finish();
}

int ShowSpace(const Call& call, Report& report) {
  HostingReply reply;
  int status = 0;
  if (!Hosting(report,
               [&](char** a, char** b, char** c) {
                 return Korvane_ShowSpace(Wide(call["NAME"]), nullptr, nullptr, a, b, c);
               },
               reply, status)) {
    return status;
  }
  Json members = Json::array();
  report.Show("Space", call["NAME"]);
  report.Show("URL", reply.out[0]);
  report.Show("Youngest revision", reply.out[2]);
  for (const std::string& line : Lines(reply.out[1])) {
    const std::size_t tab = line.find('\t');
    const std::string user = line.substr(0, tab), role = tab == std::string::npos ? "" : line.substr(tab + 1);
    members.push_back({{"user", user}, {"role", role}});
    report.Show("Member", user + " (" + role + ")");
  }
  report.Fields() = {{"name", call["NAME"]},
                     {"url", reply.out[0]},
                     {"members", std::move(members)},
                     {"youngestRevision", Number(reply.out[2])}};
  return report.Finish();
}

int CreateSpace(const Call& call, Report& report) {
  if (RefusedSpaceName(call["NAME"], report) || RefusedUserName(call["OWNER"], report)) return report.Finish();
  HostingReply reply;
  int status = 0;
  if (!Hosting(report,
               [&](char** a, char** b, char** c) {
                 return Korvane_CreateSpace(Wide(call["NAME"]), Wide(call["DESCRIPTION"]), Wide(call["OWNER"]),
                                            nullptr, a, b, c);
               },
               reply, status)) {
    return status;
  }
  report.Fields() = {{"name", call["NAME"]}, {"url", reply.out[0]}};
  report.Say("Created the space " + call["NAME"] + " at " + reply.out[0] + ".");
  return report.Finish();
}

int FindUsers(const Call& call, Report& report) {
  const std::string pattern = call.Has("PATTERN") ? call["PATTERN"] : "";
  HostingReply reply;
  int status = 0;
  if (!Hosting(report, [&](char** a, char** b, char** c) { return Korvane_FindUsers(Wide(pattern), nullptr, a, b, c); },
               reply, status)) {
    return status;
  }
  const std::vector<std::string> users = Lines(reply.out[1]);
  report.Fields() = {{"pattern", pattern}, {"count", Number(reply.out[0])}, {"users", users}};
  if (users.empty()) report.Say("No user matches.");
  for (const std::string& user : users) report.Say(user);
  return report.Finish();
}

int Invite(const Call& call, Report& report) {
  if (RefusedUserName(call["USER"], report)) return report.Finish();
  const std::string role = call.Has("ROLE") ? call["ROLE"] : "";
  HostingReply reply;
  int status = 0;
  if (!Hosting(report,
               [&](char** a, char** b, char** c) {
                 return Korvane_Invite(Wide(call["SPACE"]), Wide(call["USER"]), Wide(role), nullptr, a, b, c);
               },
               reply, status)) {
    return status;
  }
  report.Fields() = {{"space", reply.out[1]}, {"user", reply.out[2]}, {"role", role.empty() ? "member" : role}};
  report.Say("Invited " + reply.out[2] + " to " + reply.out[1] + ".");
  return report.Finish();
}

// ---- Repositories and local directories ----------------------------------

// How a verdict's detail is named for a person and in JSON.
struct DetailName {
  const char* label;
  const char* member;
  bool number = false;  // a revision: a JSON number, null when there is none
};

int Verdict(Report& report, int32_t result, char* handedOut, DetailName detail) {
  HandedOut verdict = Own(handedOut);
  if (result != 1) return NoDaemon(report);
  if (verdict == nullptr) {
    report.Fail(kFailed, "The daemon closed the connection without a verdict.");
    return report.Finish();
  }
  const std::vector<std::string> fields = Split(Clean(verdict.get()), '|');
  const auto field = [&](std::size_t i) { return i < fields.size() ? fields[i] : std::string(); };
  const Json code = Number(field(0));
  report.Fields() = {{"code", code},
                     {"operation", field(1)},
                     {"message", field(2)},
                     {"systemError", Number(field(3))},
                     {"detail", field(4)}};
  if (code != 0) {
    report.Fail(kFailed, field(1) + ": " + field(2) + " (code " + field(0) + ")");
    return report.Finish();
  }
  report.Fields()[detail.member] = !detail.number ? Json(field(4)) : field(4).empty() ? Json(nullptr) : Number(field(4));
  report.Say(field(2));
  if (!field(4).empty()) report.Show(detail.label, field(4));
  return report.Finish();
}

// A repository or local-directory path: absolute, unless it is a URL.
std::string PathOrUrl(const std::string& argument) {
  return argument.find("://") != std::string::npos ? argument : AbsolutePath(argument);
}

template <int32_t (*Export)(const KorvaneChar*, char**)>
int OneArgument(Report& report, const std::string& argument, DetailName detail) {
  char* verdict = nullptr;
  const int32_t result = Export(Wide(argument), &verdict);
  return Verdict(report, result, verdict, detail);
}

template <int32_t (*Export)(const KorvaneChar*, const KorvaneChar*, char**)>
int TwoArguments(Report& report, const std::string& first, const std::string& second, DetailName detail) {
  char* verdict = nullptr;
  const int32_t result = Export(Wide(first), Wide(second), &verdict);
  return Verdict(report, result, verdict, detail);
}

int RenameLDir(const Call& c, Report& r) {
  return OneArgument<Korvane_RenameLDir>(r, AbsolutePath(c["DIRECTORY"]), {"Renamed to", "newPath"});
}
int CreateRepo(const Call& c, Report& r) {
  return OneArgument<Korvane_CreateRepo>(r, PathOrUrl(c["REPOSITORY"]), {"URL", "url"});
}
int OpenRepo(const Call& c, Report& r) {
  return OneArgument<Korvane_OpenRepo>(r, PathOrUrl(c["REPOSITORY"]), {"Root URL", "rootUrl"});
}
int SvnCheckoutWait(const Call& c, Report& r) {
  return TwoArguments<Korvane_SvnCheckoutWait>(r, c["URL"], AbsolutePath(c["PATH"]), {"Revision", "revision", true});
}
int CopyToRepo(const Call& c, Report& r) {
  return TwoArguments<Korvane_CopyToRepo>(r, AbsolutePath(c["FOLDER"]), c["URL"], {"Revision", "revision", true});
}
int SvnAdd(const Call& c, Report& r) {
  return OneArgument<Korvane_SvnAdd>(r, AbsolutePath(c["PATH"]), {"Added", "path"});
}
int SvnCommit(const Call& c, Report& r) {
  return OneArgument<Korvane_SvnCommit>(r, AbsolutePath(c["PATH"]), {"Revision", "revision", true});
}
int RemoveLDir(const Call& c, Report& r) {
  return TwoArguments<Korvane_RemoveLDir>(r, AbsolutePath(c["DIRECTORY"]), c.Has("KEY") ? c["KEY"] : "",
                                          {"Key", "key"});
}
int RemoveTmpDir(const Call& c, Report& r) {
  return OneArgument<Korvane_RemoveTmpDir>(r, AbsolutePath(c["DIRECTORY"]), {"Removed", "path"});
}
int RestoreLDir(const Call& c, Report& r) {
  return TwoArguments<Korvane_RestoreLDir>(r, c.Has("DIRECTORY") ? AbsolutePath(c["DIRECTORY"]) : "", c["KEY"],
                                           {"Restored to", "path"});
}

int Jobs(const Call&, Report& report) { return ListJobs(report); }

const std::vector<Subcommand> kSubcommands = {
    {"start-daemon", "Start the daemon and return once it serves.", {}, Options::Timeout, false, StartDaemon, false},
    {"stop-daemon", "Stop the daemon and return once it is gone.", {}, Options::Timeout, false, StopDaemon, false},
    {"get-error-text", "Show the daemon's text for an outcome key (NOT_FOUND, or its code -4).",
     {{"KEY", "the outcome's key or code", true}}, Options::None, false, GetErrorText},
    {"get-activations", "List the activated folders.", {}, Options::None, false, GetActivations},
    {"get-status", "Show a folder's activation status (starts the daemon when none runs).",
     {{"PATH", "the folder or file"}}, Options::None, false, GetStatus},
    {"activate-path", "Activate a folder: MODE 1 Korvane dialogs, 2 TortoiseSVN dialogs, 3 automatic commit and update.",
     {{"PATH", "the folder"}, {"MODE", "1, 2 or 3"}}, Options::Wait, false, ActivatePath, true, CheckActivation},
    {"deactivate-path", "Deactivate a folder.", {{"PATH", "the folder"}}, Options::Wait, false, DeactivatePath},
    {"checkout", "Check URL out into PATH in the background, then activate it in MODE (default 0: not activated).",
     {{"URL", "the repository URL"}, {"PATH", "the folder to check out into"}, {"MODE", "0, 1, 2 or 3", true}},
     Options::Wait, true, Checkout, true, CheckCheckout},
    {"share", "Share a folder as a new space of the hosting service (the menu's Share entry).",
     {{"PATH", "the folder"}}, Options::Wait, false, Share, true, CheckFolder},
    {"jobs", "List the daemon's background work: what, where, how far, and how it ended.", {}, Options::None, false,
     Jobs, false},
    {"is-versioned", "Tell whether PATH lies in a Subversion working copy (exit 0 when it does, 1 when not).",
     {{"PATH", "the path"}}, Options::None, false, IsVersioned, false},
    {"list-spaces", "List the spaces of the hosting service whose names hold FILTER.",
     {{"FILTER", "part of a name, any case (default: all)", true}}, Options::None, true, ListSpaces},
    {"show-space", "Show a space: its URL, members and youngest revision.", {{"NAME", "the space"}}, Options::None,
     true, ShowSpace},
    {"create-space", "Create a space on the hosting service; OWNER becomes its first member.",
     {{"NAME", "the space's name"}, {"DESCRIPTION", "what it is for"}, {"OWNER", "the user who owns it"}},
     Options::None, true, CreateSpace},
    {"find-users", "List the users of the hosting service whose names hold PATTERN.",
     {{"PATTERN", "part of a name, any case (default: all)", true}}, Options::None, true, FindUsers},
    {"invite", "Invite a user to a space, in ROLE (default: member).",
     {{"SPACE", "the space"}, {"USER", "the user"}, {"ROLE", "the role", true}}, Options::None, true, Invite},
    {"remove-member", "Remove a user from a space (its owner only; the only owner stays).",
     {{"SPACE", "the space"}, {"USER", "the user"}}, Options::None, true, RemoveMember},
    {"login", "Store the password of USER (default: daemon.conf's user) for the team service, once it accepts it.",
     {{"USER", "the user", true}}, Options::None, false, Login},
    {"rename-l-dir", "Move a local folder aside, to \"NAME (old)\".", {{"DIRECTORY", "the folder"}}, Options::None,
     false, RenameLDir},
    {"create-repo", "Create a repository at a local path or file:// URL.",
     {{"REPOSITORY", "the path or file:// URL"}}, Options::None, false, CreateRepo},
    {"open-repo", "Open the repository that holds a path or file:// URL.",
     {{"REPOSITORY", "the path or file:// URL"}}, Options::None, false, OpenRepo},
    {"svn-checkout-wait", "Check out the head of URL into PATH and wait until done.",
     {{"URL", "the repository URL"}, {"PATH", "the folder"}}, Options::None, true, SvnCheckoutWait},
    {"copy-to-repo", "Import a folder's contents to URL.", {{"FOLDER", "the folder"}, {"URL", "the target URL"}},
     Options::None, true, CopyToRepo},
    {"svn-add", "Schedule PATH and everything unversioned in it for addition.", {{"PATH", "the path"}},
     Options::None, true, SvnAdd},
    {"svn-commit", "Commit every change under PATH.", {{"PATH", "the working copy"}}, Options::None, true,
     SvnCommit},
    {"remove-l-dir", "Put a local folder aside under KEY (default: a new key), to restore it later.",
     {{"DIRECTORY", "the folder"}, {"KEY", "the key", true}}, Options::None, true, RemoveLDir},
    {"remove-tmp-dir", "Delete a folder inside the temporary folder for good.", {{"DIRECTORY", "the folder"}},
     Options::None, true, RemoveTmpDir},
    {"restore-l-dir", "Move the folder put aside under KEY back, to DIRECTORY (default: where it was).",
     {{"KEY", "the key remove-l-dir gave"}, {"DIRECTORY", "where to put it", true}}, Options::None, true,
     RestoreLDir},
    {"menu", "Show the context menu the shell extension offers for PATH, and run the entry with VERB.",
     {{"PATH", "the folder or file"}}, Options::Menu, false, Menu, true, CheckMenu},
};

}  // namespace

const std::string& Call::operator[](const std::string& name) const {
  static const std::string kNone;
  const auto found = values.find(name);
  return found != values.end() ? found->second : kNone;
}

std::string AbsolutePath(const std::string& argument) {
  std::error_code error;
  std::string path = std::filesystem::absolute(argument, error).lexically_normal().string();
  if (error) return argument;
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::span<const Subcommand> Subcommands() { return kSubcommands; }

bool CheckFolder(const Call& call, Report& report) {
  const std::string path = AbsolutePath(call["PATH"]);
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) return true;
  report.Fields()["path"] = path;
  report.Fail(kFailed, "korvane " + report.Command() + ": " + path +
                           (std::filesystem::exists(path, error) ? " is not a folder." : " does not exist."));
  return false;
}

}  // namespace korvane::cli
