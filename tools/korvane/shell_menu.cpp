#include "shell_menu.h"

#include "text.h"

#include "platform/posix/data_object.h"
#include "platform/windows_api.h"

extern "C" HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv);

namespace korvane::shellmenu {

namespace {

using cli::Utf16;
using cli::Utf8;

// The shell extension's class, as file managers register it.
constexpr CLSID kKorvaneExtension = {0x3F6A1C52, 0xB8E4, 0x4A7D, {0x9C, 0x31, 0xE5, 0xD2, 0x0B, 0x7F, 0x4A, 0x96}};
constexpr UINT kFirstCommand = 1;

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
std::vector<Entry> EntriesOf(IContextMenu* handler, HMENU menu) {
  MENUITEMINFOW entry{};
  entry.cbSize = sizeof entry;
  entry.fMask = MIIM_SUBMENU;
  GetMenuItemInfoW(menu, 0, TRUE, &entry);
  const int count = GetMenuItemCount(entry.hSubMenu);
  std::vector<Entry> entries;
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
    entries.push_back({Utf8(reinterpret_cast<const char16_t*>(text)), CommandString(handler, offset, GCS_VERBW),
                       CommandString(handler, offset, GCS_HELPTEXTW)});
  }
  return entries;
}

}  // namespace

struct Menu::Handler {
  IContextMenu* handler = nullptr;
  HMENU menu = nullptr;
  ~Handler() {
    if (handler != nullptr) handler->Release();
    if (menu != nullptr) DestroyMenu(menu);
  }
};

Menu::Menu(std::unique_ptr<Handler> handler) : handler_(std::move(handler)) {}
Menu::~Menu() = default;

std::unique_ptr<Menu> Menu::For(const std::string& path, bool background) {
  auto handler = std::make_unique<Handler>();
  handler->handler = CreateHandler(path, background);
  if (handler->handler == nullptr) return nullptr;
  handler->menu = CreatePopupMenu();
  std::unique_ptr<Menu> menu(new Menu(std::move(handler)));
  const HRESULT built =
      menu->handler_->handler->QueryContextMenu(menu->handler_->menu, 0, kFirstCommand, 0x7FFF, CMF_NORMAL);
  menu->offered_ = SUCCEEDED(built) && HRESULT_CODE(built) != 0;
  if (menu->offered_) menu->entries_ = EntriesOf(menu->handler_->handler, menu->handler_->menu);
  return menu;
}

bool Menu::Offers(const std::string& verb) const {
  for (const Entry& entry : entries_) {
    if (entry.verb == verb) return true;
  }
  return false;
}

bool Menu::Invoke(const std::string& verb) {
  CMINVOKECOMMANDINFO info{};
  info.cbSize = sizeof info;
  info.lpVerb = verb.c_str();
  return SUCCEEDED(handler_->handler->InvokeCommand(&info));
}

}  // namespace korvane::shellmenu
