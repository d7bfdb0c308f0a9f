// korvane menu and korvane share: the shell extension driven exactly as a
// file manager drives it, through the library's exported class object and
// the COM interfaces alone. The entries it offers are printed, and one can
// be run by its verb; with --wait the tool waits for the work it started.
#include "subcommands.h"

#include "daemon_place.h"
#include "jobs.h"
#include "text.h"

#include "korvane/korvane.h"
#include "platform/posix/data_object.h"
#include "platform/windows_api.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string_view>

extern "C" HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv);

namespace korvane::cli {

namespace {

// The shell extension's class, as file managers register it.
constexpr CLSID kKorvaneExtension = {0x3F6A1C52, 0xB8E4, 0x4A7D, {0x9C, 0x31, 0xE5, 0xD2, 0x0B, 0x7F, 0x4A, 0x96}};
constexpr UINT kFirstCommand = 1;

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

// A handler initialised with the selection, as the shell makes one.
IContextMenu* CreateHandler(const std::string& path, bool background) {
  IClassFactory* factory = nullptr;
  if (FAILED(DllGetClassObject(kKorvaneExtension, IID_IClassFactory, reinterpret_cast<void**>(&factory)))) {
    return nullptr;
  }
  IShellExtInit* init = nullptr;
  const HRESULT created = factory->CreateInstance(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(&init));
  factory->Release();
  if (FAILED(created)) return nullptr;

  const std::u16string wide = Utf16(path);
  HRESULT initialised = E_OUTOFMEMORY;
  if (background) {
    PIDLIST_ABSOLUTE folder = ILCreateFromPathW(reinterpret_cast<LPCWSTR>(wide.c_str()));
    if (folder != nullptr) initialised = init->Initialize(folder, nullptr, nullptr);
    ILFree(folder);
  } else {
    // The selection as a file manager hands it over: the shell's data object
    // with the one name as CF_HDROP (on Linux, the system part's own).
    IDataObject* selection = nullptr;
    if (SUCCEEDED(posix::CreateFileListDataObject({wide}, &selection))) {
      initialised = init->Initialize(nullptr, selection, nullptr);
      selection->Release();
    }
  }
  IContextMenu* handler = nullptr;
  if (SUCCEEDED(initialised)) init->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&handler));
  init->Release();
  return handler;
}

std::string CommandString(IContextMenu* handler, UINT offset, UINT type) {
  WCHAR text[256] = {};
  if (FAILED(handler->GetCommandString(offset, type, nullptr, reinterpret_cast<CHAR*>(text), 256))) return "";
  return Utf8(reinterpret_cast<const char16_t*>(text));
}

// The entries of the product's submenu, in menu order; separators left out.
Json Entries(IContextMenu* handler, HMENU menu) {
  MENUITEMINFOW entry{};
  entry.cbSize = sizeof entry;
  entry.fMask = MIIM_SUBMENU;
  GetMenuItemInfoW(menu, 0, TRUE, &entry);
  const int count = GetMenuItemCount(entry.hSubMenu);
  Json entries = Json::array();
  for (int index = 0; index < count; ++index) {
    WCHAR text[128] = {};
    MENUITEMINFOW item{};
    item.cbSize = sizeof item;
    item.fMask = MIIM_FTYPE | MIIM_STRING | MIIM_ID;
    item.dwTypeData = text;
    item.cch = 128;
    GetMenuItemInfoW(entry.hSubMenu, static_cast<UINT>(index), TRUE, &item);
    if ((item.fType & MFT_SEPARATOR) != 0) continue;
    const UINT offset = item.wID - kFirstCommand;
    entries.push_back({{"text", Utf8(reinterpret_cast<const char16_t*>(text))},
                       {"verb", CommandString(handler, offset, GCS_VERBW)},
                       {"help", CommandString(handler, offset, GCS_HELPTEXTW)}});
  }
  return entries;
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
  IContextMenu* handler = CreateHandler(path, call.background);
  if (handler == nullptr) {
    report.Fields()["entries"] = Json::array();
    report.Fail(kFailed, "The shell extension refused the selection (one folder or file, or a folder's background).");
    return report.Finish();
  }
  HMENU menu = CreatePopupMenu();
  const HRESULT built = handler->QueryContextMenu(menu, 0, kFirstCommand, 0x7FFF, CMF_NORMAL);
  const bool offered = SUCCEEDED(built) && HRESULT_CODE(built) != 0;
  const Json entries = offered ? Entries(handler, menu) : Json::array();
  bool offersVerb = false;
  for (const Json& entry : entries) offersVerb = offersVerb || entry["verb"] == verb;

  const std::uint64_t before = HighestJobId(ReadJobs());
  std::optional<HRESULT> invoked;
  if (!verb.empty() && offersVerb) {
    CMINVOKECOMMANDINFO info{};
    info.cbSize = sizeof info;
    info.lpVerb = verb.c_str();
    invoked = handler->InvokeCommand(&info);
  }
  handler->Release();
  DestroyMenu(menu);

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
  if (FAILED(*invoked)) {
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
