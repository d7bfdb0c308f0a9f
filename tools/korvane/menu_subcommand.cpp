// korvane menu: drives the context-menu handler exactly as a shell would,
// prints the entries it offers, and can run one of them by its verb.
#include "subcommands.h"

#include "platform/posix/data_object.h"
#include "platform/posix/wide_path.h"
#include "platform/windows_api.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

extern "C" HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv);

namespace korvane::cli {
namespace {

// The handler's class, as the shell finds it registered.
constexpr CLSID kHandlerClass = {0x3F6A1C52, 0xB8E4, 0x4A7D, {0x9C, 0x31, 0xE5, 0xD2, 0x0B, 0x7F, 0x4A, 0x96}};

// The canonical verbs the handler publishes, for completion; the shell
// extension answers each through GetCommandString and InvokeCommand.
constexpr const char* kHandlerVerbs[] = {
    "verb:add-dalv", "verb:add-tsvn", "verb:add-auto",     "verb:release",
    "verb:share",    "verb:checkout", "verb:shareteam", "verb:ascheckout",
};

constexpr UINT kFirstCommand = 1;

struct MenuRequest {
  std::string path;
  bool background = false;
  std::string verb;
};

bool ParseMenuRequest(const std::vector<std::string>& arguments, MenuRequest& request) {
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    if (arguments[i] == "--background") {
      request.background = true;
    } else if (arguments[i] == "--invoke" && i + 1 < arguments.size()) {
      request.verb = arguments[++i];
    } else if (request.path.empty() && arguments[i].rfind("--", 0) != 0) {
      request.path = arguments[i];
    } else {
      return false;
    }
  }
  return !request.path.empty();
}

// A handler initialised with the selection, as the shell makes one.
IContextMenu* CreateHandler(const MenuRequest& request) {
  IClassFactory* factory = nullptr;
  if (FAILED(DllGetClassObject(kHandlerClass, IID_IClassFactory, reinterpret_cast<void**>(&factory)))) {
    return nullptr;
  }
  IShellExtInit* init = nullptr;
  HRESULT created = factory->CreateInstance(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(&init));
  factory->Release();
  if (FAILED(created)) return nullptr;

  std::error_code error;
  std::u16string path = posix::WidePath(std::filesystem::absolute(request.path, error).lexically_normal().string());
  HRESULT initialised;
  if (request.background) {
    PIDLIST_ABSOLUTE folder = ILCreateFromPathW(reinterpret_cast<LPCWSTR>(path.c_str()));
    initialised = init->Initialize(folder, nullptr, nullptr);
    ILFree(folder);
  } else {
    IDataObject* selection = nullptr;
    posix::CreateFileListDataObject({path}, &selection);
    initialised = selection != nullptr ? init->Initialize(nullptr, selection, nullptr) : E_OUTOFMEMORY;
    if (selection != nullptr) selection->Release();
  }
  IContextMenu* handler = nullptr;
  if (SUCCEEDED(initialised)) init->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&handler));
  init->Release();
  return handler;
}

std::string CommandString(IContextMenu* handler, UINT offset, UINT type) {
  WCHAR text[256] = {};
  if (FAILED(handler->GetCommandString(offset, type, nullptr, reinterpret_cast<CHAR*>(text), 256))) return "";
  return posix::NarrowPath(text);
}

struct MenuLine {
  bool separator = false;
  std::string text;
  std::string verb;
  std::string help;
};

// The entries of the product's submenu, in menu order.
std::vector<MenuLine> Entries(IContextMenu* handler, HMENU menu) {
  MENUITEMINFOW entry{};
  entry.cbSize = sizeof entry;
  entry.fMask = MIIM_SUBMENU;
  GetMenuItemInfoW(menu, 0, TRUE, &entry);
  const int count = GetMenuItemCount(entry.hSubMenu);
  std::vector<MenuLine> lines;
  for (int index = 0; index < count; ++index) {
    WCHAR text[128] = {};
    MENUITEMINFOW item{};
    item.cbSize = sizeof item;
    item.fMask = MIIM_FTYPE | MIIM_STRING | MIIM_ID;
    item.dwTypeData = text;
    item.cch = 128;
    GetMenuItemInfoW(entry.hSubMenu, static_cast<UINT>(index), TRUE, &item);
    if ((item.fType & MFT_SEPARATOR) != 0) {
      lines.push_back({.separator = true});
      continue;
    }
    const UINT offset = item.wID - kFirstCommand;
    lines.push_back({false, posix::NarrowPath(text), CommandString(handler, offset, GCS_VERBW),
                     CommandString(handler, offset, GCS_HELPTEXTW)});
  }
  return lines;
}

void PrintEntries(const std::vector<MenuLine>& lines) {
  std::printf("Korvane\n");
  for (const MenuLine& line : lines) {
    if (line.separator) {
      std::printf("  ----------------------------\n");
    } else {
      std::printf("  %-30s %-17s %s\n", line.text.c_str(), line.verb.c_str(), line.help.c_str());
    }
  }
}

// Separators are left out: they carry nothing a script can use.
void WriteEntries(JsonWriter& json, const std::vector<MenuLine>& lines) {
  json.BeginArray();
  for (const MenuLine& line : lines) {
    if (line.separator) continue;
    json.BeginObject().Key("text").String(line.text).Key("verb").String(line.verb).Key("help").String(line.help);
    json.EndObject();
  }
  json.EndArray();
}

}  // namespace

std::vector<const char*> MenuVerbs() {
  return {std::begin(kHandlerVerbs), std::end(kHandlerVerbs)};
}

Outcome Menu(const std::vector<std::string>& arguments, Report& report) {
  MenuRequest request;
  if (!ParseMenuRequest(arguments, request)) return Outcome::WrongUse;
  IContextMenu* handler = CreateHandler(request);
  if (handler == nullptr) {
    std::fprintf(stderr, "The shell extension refused the selection (one folder or file, or a folder's background).\n");
    report.Result(0);
    report.Member("entries").BeginArray().EndArray();
    report.Member("invoked").Null();
    return Outcome::Failed;
  }
  HMENU menu = CreatePopupMenu();
  HRESULT built = handler->QueryContextMenu(menu, 0, kFirstCommand, 0x7FFF, CMF_NORMAL);
  const bool offered = SUCCEEDED(built) && HRESULT_CODE(built) != 0;
  std::vector<MenuLine> lines;
  if (offered) lines = Entries(handler, menu);
  if (!request.verb.empty()) {
    CMINVOKECOMMANDINFO info{};
    info.cbSize = sizeof info;
    info.lpVerb = request.verb.c_str();
    handler->InvokeCommand(&info);
  }
  handler->Release();
  DestroyMenu(menu);

  const bool succeeded = offered || !request.verb.empty();
  report.Result(succeeded ? 1 : 0);
  if (report.Json()) {
    WriteEntries(report.Member("entries"), lines);
    report.Member("invoked").String(request.verb.empty() ? nullptr : request.verb.c_str());
  } else {
    if (offered) {
      PrintEntries(lines);
    } else {
      std::printf("The shell extension offers nothing here.\n");
    }
    if (!request.verb.empty()) {
      std::printf("Invoked %s: the command was handed to the daemon if the verb names one.\n", request.verb.c_str());
    }
  }
  return succeeded ? Outcome::Succeeded : Outcome::Failed;
}

}  // namespace korvane::cli
