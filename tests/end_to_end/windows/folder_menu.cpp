// Builds a folder's context menu the way a file manager does. Wine's own
// composition (CDefFolderMenu_Create2, SHCreateDefaultContextMenu) takes the
// registry keys but reads no handlers from them, so the handlers are found
// here, under the classes a file manager asks for a folder, and created by
// COM from their class ids.
#include "folder_menu.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace korvane::end_to_end {
namespace {

using Microsoft::WRL::ComPtr;

// The highest command identifier the menu hands out.
constexpr UINT kLastId = 0x7FFF;

// The classes whose handlers a folder item's menu gathers, in the order a
// file manager asks them.
constexpr const wchar_t* kFolderClasses[] = {L"Directory", L"Folder", L"AllFilesystemObjects"};

std::string Hex(HRESULT result) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(result));
  return text;
}

void Check(HRESULT result, const std::string& step) {
  if (FAILED(result)) throw std::runtime_error(step + " failed: " + Hex(result));
}

std::wstring ClassIdText(const CLSID& id) {
  wchar_t text[40] = {};
  ::StringFromGUID2(id, text, 40);
  return text;
}

// A registry text value, or nothing.
std::wstring TextValue(HKEY key, const std::wstring& subkey) {
  wchar_t value[MAX_PATH] = {};
  DWORD size = sizeof value;
  if (::RegGetValueW(key, subkey.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS) return {};
  return value;
}

// A handler's key is named by its class id, or names it in its default
// value; both forms are registered in the field.
bool HandlerClassId(HKEY handlers, const std::wstring& name, CLSID* id) {
  if (!name.empty() && name.front() == L'{' && SUCCEEDED(::CLSIDFromString(name.c_str(), id))) return true;
  const std::wstring value = TextValue(handlers, name);
  return !value.empty() && SUCCEEDED(::CLSIDFromString(value.c_str(), id));
}

struct MenuItem {
  std::wstring path;  // "Parent > Entry"
  UINT id = 0;
};

void CollectItems(HMENU menu, const std::wstring& prefix, std::vector<MenuItem>* items) {
  for (int index = 0, count = ::GetMenuItemCount(menu); index < count; ++index) {
    wchar_t text[256] = {};
    MENUITEMINFOW item{};
    item.cbSize = sizeof item;
    item.fMask = MIIM_FTYPE | MIIM_STRING | MIIM_ID | MIIM_SUBMENU;
    item.dwTypeData = text;
    item.cch = 256;
    if (!::GetMenuItemInfoW(menu, static_cast<UINT>(index), TRUE, &item) || (item.fType & MFT_SEPARATOR) != 0) {
      continue;
    }
    items->push_back({prefix + text, item.wID});
    if (item.hSubMenu != nullptr) CollectItems(item.hSubMenu, prefix + text + L" > ", items);
  }
}

std::vector<MenuItem> Items(HMENU menu) {
  std::vector<MenuItem> items;
  CollectItems(menu, L"", &items);
  return items;
}

}  // namespace

std::string Narrow(const std::wstring& text) {
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return {};
  std::string narrow(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, narrow.data(), size, nullptr, nullptr);
  narrow.resize(static_cast<std::size_t>(size - 1));
  return narrow;
}

FolderMenu::FolderMenu(const std::wstring& folder) {
  PIDLIST_ABSOLUTE item = nullptr;
  Check(::SHParseDisplayName(folder.c_str(), nullptr, &item, 0, nullptr), "SHParseDisplayName");
  item_.reset(item);
  parentFolder_.reset(::ILClone(item));
  if (!parentFolder_ || !::ILRemoveLastID(parentFolder_.get())) throw std::runtime_error("ILRemoveLastID failed");
  ComPtr<IShellFolder> parent;
  PCUITEMID_CHILD child = nullptr;
  Check(::SHBindToParent(item, IID_IShellFolder, &parent, &child), "SHBindToParent");
  menu_.reset(::CreatePopupMenu());
  if (!menu_) throw std::runtime_error("CreatePopupMenu failed");
  ComPtr<IContextMenu> own;
  Check(parent->GetUIObjectOf(nullptr, 1, &child, IID_IContextMenu, nullptr, &own),
        "IShellFolder::GetUIObjectOf(IContextMenu)");
  Add(std::move(own), L"the shell's own entries");
  AddRegisteredHandlers(parent.Get(), child);
}

void FolderMenu::AddRegisteredHandlers(IShellFolder* parent, PCUITEMID_CHILD child) {
  ComPtr<IDataObject> data;
  Check(parent->GetUIObjectOf(nullptr, 1, &child, IID_IDataObject, nullptr, &data),
        "IShellFolder::GetUIObjectOf(IDataObject)");
  std::vector<CLSID> seen;
  for (const wchar_t* folderClass : kFolderClasses) {
    HKEY classKey = nullptr;
    if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, folderClass, 0, KEY_READ, &classKey) != ERROR_SUCCESS) continue;
    HKEY handlers = nullptr;
    if (::RegOpenKeyExW(classKey, L"shellex\\ContextMenuHandlers", 0, KEY_READ, &handlers) == ERROR_SUCCESS) {
      wchar_t name[256];
      for (DWORD index = 0, length = 256;
           ::RegEnumKeyExW(handlers, index, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
           ++index, length = 256) {
        CLSID id;
        if (!HandlerClassId(handlers, name, &id)) continue;
        if (std::any_of(seen.begin(), seen.end(), [&](const CLSID& other) { return ::IsEqualCLSID(other, id); })) {
          continue;
        }
        seen.push_back(id);
        AddHandler(id, data.Get(), classKey);
      }
      ::RegCloseKey(handlers);
    }
    ::RegCloseKey(classKey);
  }
}

// A handler that cannot be loaded is left out, as a file manager leaves it
// out, and said on the error output.
void FolderMenu::AddHandler(const CLSID& handler, IDataObject* data, HKEY classKey) {
  std::wstring library = TextValue(HKEY_CLASSES_ROOT, L"CLSID\\" + ClassIdText(handler) + L"\\InprocServer32");
  const std::wstring name = ClassIdText(handler) + L" from " + (library.empty() ? L"(no InprocServer32)" : library);
  ComPtr<IShellExtInit> init;
  HRESULT result = ::CoCreateInstance(handler, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit, &init);
  if (SUCCEEDED(result)) result = init->Initialize(parentFolder_.get(), data, classKey);
  ComPtr<IContextMenu> menu;
  if (SUCCEEDED(result)) result = init.As(&menu);
  if (FAILED(result)) {
    std::fprintf(stderr, "handler %s not loaded: %s\n", Narrow(name).c_str(), Hex(result).c_str());
    return;
  }
  Add(std::move(menu), name);
}

void FolderMenu::Add(ComPtr<IContextMenu> menu, std::wstring name) {
  const UINT index = static_cast<UINT>(::GetMenuItemCount(menu_.get()));
  const HRESULT result = menu->QueryContextMenu(menu_.get(), index, nextId_, kLastId, CMF_NORMAL);
  Check(result, "QueryContextMenu of " + Narrow(name));
  const UINT used = HRESULT_CODE(result);
  contributors_.push_back({std::move(menu), nextId_, used, std::move(name)});
  nextId_ += used;
}

std::vector<std::wstring> FolderMenu::Entries() const {
  std::vector<std::wstring> entries;
  for (const MenuItem& item : Items(menu_.get())) entries.push_back(item.path);
  return entries;
}

std::vector<std::wstring> FolderMenu::Handlers() const {
  std::vector<std::wstring> names;
  for (const Contributor& contributor : contributors_) {
    if (contributor.idCount > 0) names.push_back(contributor.name);
  }
  return names;
}

bool FolderMenu::Invoke(const std::wstring& entry) {
  for (const MenuItem& item : Items(menu_.get())) {
    const std::size_t cut = item.path.rfind(L" > ");
    if (item.path != entry && (cut == std::wstring::npos ? item.path : item.path.substr(cut + 3)) != entry) continue;
    for (const Contributor& contributor : contributors_) {
      if (item.id < contributor.firstId || item.id >= contributor.firstId + contributor.idCount) continue;
      CMINVOKECOMMANDINFOEX info{};
      info.cbSize = sizeof info;
      info.fMask = CMIC_MASK_UNICODE;
      info.lpVerb = MAKEINTRESOURCEA(item.id - contributor.firstId);
      info.lpVerbW = MAKEINTRESOURCEW(item.id - contributor.firstId);
      info.nShow = SW_SHOWNORMAL;
      Check(contributor.menu->InvokeCommand(reinterpret_cast<CMINVOKECOMMANDINFO*>(&info)),
            "InvokeCommand of " + Narrow(contributor.name));
      return true;
    }
  }
  return false;
}

}  // namespace korvane::end_to_end
