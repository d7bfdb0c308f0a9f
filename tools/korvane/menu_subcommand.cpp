// korvane menu and korvane share: the shell extension driven exactly as a
// file manager drives it, through the library's exported class object and
// the COM interfaces alone (shell_menu.h, which the file managers'
// extensions use too). The entries it offers are printed, and one can
// be run by its verb; with --wait the tool waits for the work it started.
#include "subcommands.h"

#include "daemon_place.h"
#include "jobs.h"
#include "text.h"

#include "shell_menu.h"

#include "korvane/korvane.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>

namespace korvane::cli {

namespace {

// The verbs of the menu's entries, in menu order, and the daemon's work
// each one starts (nothing for one that starts none the daemon publishes).
struct VerbWork {
  const char* verb;
  const char* operation;
};
constexpr VerbWork kVerbs[] = {
    {"verb:add-dalv", "activatePath1"}, {"verb:add-tsvn", "activatePath2"},   {"verb:add-auto", "activatePath3"},
    {"verb:release", "deactivatePath"}, {"verb:share", "shareFolder"},        {"verb:checkout", "checkout"},
    {"verb:shareteam", "shareWithTeam"}, {"verb:ascheckout", "checkoutFromService"},
};

// The entries as the JSON object lists them.
Json EntriesJson(const std::vector<shellmenu::Entry>& entries) {
  Json list = Json::array();
  for (const shellmenu::Entry& entry : entries) {
    list.push_back({{"text", entry.text}, {"verb", entry.verb}, {"help", entry.help}});
  }
  return list;
}

// The space a repository root URL of the hosting service names: the part
// after "svn.halcyra.com/svn/", up to the next "/".
std::string SpaceOf(const std::string& root) {
  constexpr std::string_view kSpaces = "svn.halcyra.com/svn/";
  const std::size_t at = root.find(kSpaces);
  if (at == std::string::npos) return "";
  const std::string rest = root.substr(at + kSpaces.size());
  return rest.substr(0, rest.find('/'));
}

// Why a folder cannot be shared because it is already, in a person's words;
// nothing when it is not in a working copy (or the daemon cannot tell).
std::optional<std::string> AlreadyShared(const std::string& path) {
  char* handedOut = nullptr;
  if (Korvane_GetStatus(reinterpret_cast<const KorvaneChar*>(Utf16(path).c_str()), &handedOut) != 1) {
    std::free(handedOut);
    return std::nullopt;
  }
  const std::string status = Clean(handedOut);
  std::free(handedOut);
  // mode|repository root|activated folder|path
  const std::size_t first = status.find('|');
  const std::size_t second = first == std::string::npos ? first : status.find('|', first + 1);
  if (second == std::string::npos) return std::nullopt;
  const std::string root = status.substr(first + 1, second - first - 1);
  if (root.empty()) return std::nullopt;
  const std::size_t third = status.find('|', second + 1);
  const std::string activated = status.substr(second + 1, third == std::string::npos ? third : third - second - 1);
  const std::string space = SpaceOf(root);
  const std::string as = space.empty() ? "from " + root : "as the space " + space;
  if (!activated.empty() && activated != path) return path + " lies in " + activated + ", already shared " + as + ".";
  return path + " is already shared " + as + ".";
}

const VerbWork* WorkOf(const std::string& verb) {
  for (const VerbWork& work : kVerbs) {
    if (verb == work.verb) return &work;
  }
  return nullptr;
}

// Builds the menu for path, runs verb when one is given, and reports both.
int DriveMenu(const Call& call, Report& report, const std::string& verb, bool showEntries) {
  const std::string path = AbsolutePath(call["PATH"]);
  report.Fields()["path"] = path;
  report.Fields()["job"] = nullptr;
  std::unique_ptr<shellmenu::Menu> menu = shellmenu::Menu::For(path, call.background);
  if (menu == nullptr) {
    report.Fields()["entries"] = Json::array();
    report.Fail(kFailed, "The shell extension refused the selection (one folder or file, or a folder's background).");
    return report.Finish();
  }
  const bool offered = menu->Offered();
  const Json entries = EntriesJson(menu->Entries());
  const bool offersVerb = !verb.empty() && menu->Offers(verb);

  const std::uint64_t before = HighestJobId(ReadJobs());
  std::optional<bool> invoked;
  if (offersVerb) invoked = menu->Invoke(verb);
  menu.reset();

  if (showEntries) {
    report.Fields()["entries"] = entries;
    report.Fields()["invoked"] = invoked ? Json(verb) : Json(nullptr);
    if (!offered) report.Say("The shell extension offers nothing here.");
    if (offered) report.Say("Korvane");
    // The verbs padded to one width, so that the help texts line up too.
    std::size_t verbWidth = 0;
    for (const Json& entry : entries) verbWidth = std::max(verbWidth, entry["verb"].get<std::string>().size());
    for (const Json& entry : entries) {
      std::string verbColumn = entry["verb"].get<std::string>();
      verbColumn.resize(verbWidth, ' ');
      report.Show("  " + entry["text"].get<std::string>(), verbColumn + "  " + entry["help"].get<std::string>());
    }
  }
  if (verb.empty()) {
    if (!offered) report.Conclude(kFailed);
    return report.Finish();
  }
  if (!offersVerb) {
    if (verb == "verb:share") {
      if (const std::optional<std::string> shared = AlreadyShared(path)) {
        report.Fail(kFailed, "korvane " + report.Command() + ": " + *shared);
        return report.Finish();
      }
    }
    report.Fail(kFailed, "The menu for " + path + " offers no entry " + verb + " here.");
    return report.Finish();
  }
  if (!*invoked) {
    report.Fail(kFailed, "The shell extension could not run " + verb + ".");
    return report.Finish();
  }
  if (!call.wait) {
    if (!Serves()) {
      report.Fail(kNoDaemon, NotRunningMessage());
      return report.Finish();
    }
    report.Say("Ran " + verb + "; `korvane jobs` shows how the daemon's work goes, or add --wait.");
    return report.Finish();
  }
  WaitForJob(report, WorkOf(verb)->operation, path, before);
  return report.Finish();
}

}  // namespace

bool CheckMenu(const Call& call, Report& report) {
  if (!call.invoke.empty() && WorkOf(call.invoke) == nullptr) {
    report.Fail(kWrongUse, "korvane menu: no entry answers to " + call.invoke + "; the verbs are verb:add-dalv, "
                           "verb:add-tsvn, verb:add-auto, verb:release, verb:share, verb:checkout, "
                           "verb:shareteam and verb:ascheckout.");
    return false;
  }
  const std::string path = AbsolutePath(call["PATH"]);
  std::error_code error;
  if (std::filesystem::exists(path, error)) return true;
  report.Fields()["path"] = path;
  report.Fail(kFailed, "korvane menu: " + path + " does not exist.");
  return false;
}

std::vector<const char*> MenuVerbs() {
  std::vector<const char*> verbs;
  for (const VerbWork& work : kVerbs) verbs.push_back(work.verb);
  return verbs;
}

int Menu(const Call& call, Report& report) { return DriveMenu(call, report, call.invoke, true); }

int Share(const Call& call, Report& report) {
  const std::string path = AbsolutePath(call["PATH"]);
  if (const std::optional<std::string> shared = AlreadyShared(path)) {
    report.Fields()["path"] = path;
    report.Fields()["job"] = nullptr;
    report.Fail(kFailed, "korvane share: " + *shared);
    return report.Finish();
  }
  return DriveMenu(call, report, "verb:share", false);
}

}  // namespace korvane::cli
