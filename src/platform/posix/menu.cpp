// The in-memory menus. Every HMENU names a heap object in one table, so a
// destroyed or made-up handle is recognised as such instead of being
// dereferenced; a parent that still holds a destroyed submenu keeps only the
// handle's value, as on Windows.
#include "errno_to_win32.h"
#include "menu_probes.h"
#include "wide_path.h"
#include "win32_calls.h"
#include "win32_menus.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace korvane::posix {
namespace {

// Submenus nest at most this deep; deeper (or circular) nesting is refused.
constexpr int kMaxMenuDepth = 16;

constexpr UINT kTypeBits = MFT_STRING | MFT_BITMAP | MFT_MENUBARBREAK | MFT_MENUBREAK | MFT_OWNERDRAW |
                           MFT_RADIOCHECK | MFT_SEPARATOR | MFT_RIGHTORDER | MFT_RIGHTJUSTIFY;
constexpr UINT kStateBits = MFS_GRAYED | MFS_CHECKED | MFS_HILITE | MFS_DEFAULT;

struct MenuItem {
  UINT type = MFT_STRING;
  UINT state = MFS_ENABLED;
  UINT id = 0;
  HMENU subMenu = nullptr;  // the handle only: the submenu may be gone
  HBITMAP checked = nullptr;
  HBITMAP unchecked = nullptr;
  ULONG_PTR data = 0;
  std::u16string text;
  HBITMAP bitmap = nullptr;  // not owned, as on Windows

  bool HasText() const { return (type & (MFT_BITMAP | MFT_SEPARATOR | MFT_OWNERDRAW)) == 0; }
};

struct Menu {
  std::vector<MenuItem> items;
};

struct Location {
  Menu* menu;
  std::size_t index;
};

// Handles are serial numbers that are never reused, so a stale handle cannot
// name a newer menu. The low four bits are 0x4 for menus (the bitmap and icon
// tables use 0x8 and 0xC), so no handle names objects of two kinds.
class MenuTable {
 public:
  std::mutex mutex;

  HMENU Add(std::unique_ptr<Menu> menu) {
    const std::uintptr_t handle = (nextSerial_++ << 4) | 0x4;
    menus_.emplace(handle, std::move(menu));
    return reinterpret_cast<HMENU>(handle);
  }

  Menu* Find(HMENU handle) const {
    auto it = menus_.find(reinterpret_cast<std::uintptr_t>(handle));
    return it == menus_.end() ? nullptr : it->second.get();
  }

  // Takes the menu out of the table and with it every live submenu below.
  std::vector<std::unique_ptr<Menu>> RemoveTree(HMENU handle) {
    std::vector<std::unique_ptr<Menu>> removed;
    std::vector<HMENU> pending{handle};
    while (!pending.empty()) {
      auto it = menus_.find(reinterpret_cast<std::uintptr_t>(pending.back()));
      pending.pop_back();
      if (it == menus_.end()) continue;  // already destroyed, or met twice
      for (const MenuItem& item : it->second->items) {
        if (item.subMenu != nullptr) pending.push_back(item.subMenu);
      }
      removed.push_back(std::move(it->second));
      menus_.erase(it);
    }
    return removed;
  }

  std::size_t Count() const { return menus_.size(); }

 private:
  std::unordered_map<std::uintptr_t, std::unique_ptr<Menu>> menus_;
  std::uintptr_t nextSerial_ = 0x100;
};

MenuTable& Menus() {
  static MenuTable table;
  return table;
}

// Whether hanging `subMenu` below `menu` would make a cycle or nest too deep.
bool NestsBadly(const MenuTable& table, HMENU subMenu, const Menu* menu, int depth = 0) {
  const Menu* sub = table.Find(subMenu);
  if (sub == nullptr) return false;
  if (sub == menu || depth >= kMaxMenuDepth) return true;
  return std::any_of(sub->items.begin(), sub->items.end(), [&](const MenuItem& item) {
    return item.subMenu != nullptr && NestsBadly(table, item.subMenu, menu, depth + 1);
  });
}

// By command, the search goes depth first through the submenus, and a
// submenu's own items come before the item that opens it.
std::optional<Location> FindByCommand(const MenuTable& table, Menu* menu, UINT id, int depth = 0) {
  for (std::size_t i = 0; i < menu->items.size(); ++i) {
    const MenuItem& item = menu->items[i];
    if (Menu* sub = table.Find(item.subMenu); sub != nullptr && depth < kMaxMenuDepth) {
      if (auto found = FindByCommand(table, sub, id, depth + 1)) return found;
    }
    if (item.id == id) return Location{menu, i};
  }
  return std::nullopt;
}

std::optional<Location> FindItem(const MenuTable& table, Menu* menu, UINT item, BOOL byPosition) {
  if (byPosition == FALSE) return FindByCommand(table, menu, item);
  if (item >= menu->items.size()) return std::nullopt;
  return Location{menu, item};
}

// Copies the caller's structure into a whole one: a caller of the older,
// shorter layout has no hbmpItem, and nothing past cbSize is ever read.
// The older MIIM_TYPE is expressed with the newer flags.
template <typename Info>
bool NormalizeInfo(const Info* in, Info& out) {
  constexpr UINT kShortInfoSize = offsetof(Info, hbmpItem);
  if (in == nullptr || (in->cbSize != sizeof(Info) && in->cbSize != kShortInfoSize)) return false;
  out = Info{};
  std::memcpy(&out, in, in->cbSize);
  const UINT mask = out.fMask;
  if (((mask & MIIM_TYPE) != 0 && (mask & (MIIM_STRING | MIIM_FTYPE | MIIM_BITMAP)) != 0) ||
      ((mask & MIIM_FTYPE) != 0 && (out.fType & MFT_BITMAP) != 0)) {
    return false;
  }
  return true;
}

// Applies the members that fMask names to a copy of the item, so that a
// failing call leaves the item as it was.
std::optional<MenuItem> UpdatedItem(const MenuTable& table, const Menu* menu, MenuItem item,
                                    const MENUITEMINFOW& info) {
  UINT mask = info.fMask;
  if ((mask & MIIM_TYPE) != 0) {
    mask |= MIIM_FTYPE;
    if ((info.fType & (MFT_BITMAP | MFT_SEPARATOR | MFT_OWNERDRAW)) == 0) mask |= MIIM_STRING;
    if ((info.fType & MFT_BITMAP) != 0) item.bitmap = reinterpret_cast<HBITMAP>(info.dwTypeData);
    if ((info.fType & MFT_SEPARATOR) != 0) item.text.clear();
  }
  if ((mask & MIIM_SUBMENU) != 0) {
    if (info.hSubMenu != nullptr && (table.Find(info.hSubMenu) == nullptr || NestsBadly(table, info.hSubMenu, menu))) {
      return std::nullopt;
    }
    item.subMenu = info.hSubMenu;
  }
  if ((mask & MIIM_FTYPE) != 0) item.type = info.fType & kTypeBits;
  if ((mask & MIIM_STRING) != 0) item.text = info.dwTypeData != nullptr ? info.dwTypeData : u"";
  if ((mask & MIIM_STATE) != 0) item.state = info.fState & kStateBits;
  if ((mask & MIIM_ID) != 0) item.id = info.wID;
  if ((mask & MIIM_CHECKMARKS) != 0) {
    item.checked = info.hbmpChecked;
    item.unchecked = info.hbmpUnchecked;
  }
  if ((mask & MIIM_DATA) != 0) item.data = info.dwItemData;
  if ((mask & MIIM_BITMAP) != 0) item.bitmap = info.hbmpItem;
  return item;
}

// The longest prefix of at most `limit` bytes that ends on a character
// boundary of the UTF-8 text.
std::size_t Utf8Prefix(const std::string& text, std::size_t limit) {
  if (limit >= text.size()) return text.size();
  while (limit > 0 && (static_cast<unsigned char>(text[limit]) & 0xC0) == 0x80) --limit;
  return limit;
}

// The text contract: no buffer (or no room) reports the length; otherwise at
// most cch - 1 units are copied, the copy is NUL-terminated and cch becomes
// its length.
template <typename Char>
void HandOutText(const std::basic_string<Char>& text, Char* buffer, UINT& cch) {
  if (buffer == nullptr || cch == 0) {
    cch = static_cast<UINT>(text.size());
    return;
  }
  std::size_t count = std::min<std::size_t>(text.size(), cch - 1);
  if constexpr (sizeof(Char) == 1) count = Utf8Prefix(text, count);
  std::copy_n(text.data(), count, buffer);
  buffer[count] = 0;
  cch = static_cast<UINT>(count);
}

template <typename Info>
BOOL GetMenuItemInfoCommon(HMENU handle, UINT item, BOOL byPosition, Info* caller) {
  MenuTable& table = Menus();
  std::lock_guard lock(table.mutex);
  Menu* menu = table.Find(handle);
  if (menu == nullptr) return Fail(ERROR_INVALID_MENU_HANDLE);
  Info info;
  if (!NormalizeInfo(caller, info)) return Fail(ERROR_INVALID_PARAMETER);
  const auto location = FindItem(table, menu, item, byPosition);
  if (!location) return Fail(ERROR_MENU_ITEM_NOT_FOUND);
  const MenuItem& found = location->menu->items[location->index];

  UINT mask = info.fMask;
  if ((mask & MIIM_TYPE) != 0) {
    info.fType = found.type | (found.bitmap != nullptr ? MFT_BITMAP : 0);
    if ((info.fType & MFT_BITMAP) != 0) {
      info.dwTypeData = reinterpret_cast<decltype(info.dwTypeData)>(found.bitmap);
      info.cch = 0;
    } else if (!found.HasText()) {
      info.dwTypeData = nullptr;
      info.cch = 0;
    } else {
      mask |= MIIM_STRING;
    }
  }
  if ((mask & MIIM_FTYPE) != 0) info.fType = found.type;
  if ((mask & MIIM_STRING) != 0) {
    if constexpr (sizeof(*info.dwTypeData) == 1) {
      HandOutText(NarrowPath(found.text.c_str()), info.dwTypeData, info.cch);
    } else {
      HandOutText(found.text, info.dwTypeData, info.cch);
    }
  }
  if ((mask & MIIM_STATE) != 0) info.fState = found.state;
  if ((mask & MIIM_ID) != 0) info.wID = found.id;
  if ((mask & MIIM_SUBMENU) != 0) info.hSubMenu = found.subMenu;
  if ((mask & MIIM_CHECKMARKS) != 0) {
    info.hbmpChecked = found.checked;
    info.hbmpUnchecked = found.unchecked;
  }
  if ((mask & MIIM_DATA) != 0) info.dwItemData = found.data;
  if ((mask & (MIIM_BITMAP | MIIM_TYPE)) != 0) info.hbmpItem = found.bitmap;
  std::memcpy(caller, &info, caller->cbSize);
  return TRUE;
}

HMENU NewMenu() {
  return Guarded(static_cast<HMENU>(nullptr), [] {
    auto menu = std::make_unique<Menu>();
    MenuTable& table = Menus();
    std::lock_guard lock(table.mutex);
    return table.Add(std::move(menu));
  });
}

}  // namespace

std::size_t LiveMenuCount() {
  MenuTable& table = Menus();
  std::lock_guard lock(table.mutex);
  return table.Count();
}

}  // namespace korvane::posix

using korvane::posix::Fail;
using korvane::posix::FindByCommand;
using korvane::posix::FindItem;
using korvane::posix::GetMenuItemInfoCommon;
using korvane::posix::Guarded;
using korvane::posix::Location;
using korvane::posix::Menu;
using korvane::posix::MenuItem;
using korvane::posix::Menus;
using korvane::posix::MenuTable;
using korvane::posix::NewMenu;
using korvane::posix::NormalizeInfo;
using korvane::posix::UpdatedItem;

HMENU CreateMenu() { return NewMenu(); }

// A popup menu and a menu bar are the same object here: nothing is drawn.
HMENU CreatePopupMenu() { return NewMenu(); }

BOOL DestroyMenu(HMENU handle) {
  MenuTable& table = Menus();
  std::vector<std::unique_ptr<Menu>> removed;
  {
    std::lock_guard lock(table.mutex);
    if (table.Find(handle) == nullptr) return Fail(ERROR_INVALID_MENU_HANDLE);
    removed = table.RemoveTree(handle);
  }
  return TRUE;  // the menus are freed here, outside the lock
}

BOOL InsertMenuItemW(HMENU handle, UINT item, BOOL byPosition, LPCMENUITEMINFOW caller) {
  return Guarded(FALSE, [&]() -> BOOL {
    MenuTable& table = Menus();
    std::lock_guard lock(table.mutex);
    Menu* menu = table.Find(handle);
    if (menu == nullptr) return Fail(ERROR_INVALID_MENU_HANDLE);
    MENUITEMINFOW info;
    if (!NormalizeInfo(caller, info)) return Fail(ERROR_INVALID_PARAMETER);
    // By position, past the end appends; by command, the new item goes
    // before the one found.
    Location where{menu, std::min<std::size_t>(item, menu->items.size())};
    if (byPosition == FALSE) {
      auto found = FindByCommand(table, menu, item);
      if (!found) return Fail(ERROR_MENU_ITEM_NOT_FOUND);
      where = *found;
    }
    auto added = UpdatedItem(table, where.menu, MenuItem{}, info);
    if (!added) return Fail(ERROR_INVALID_PARAMETER);
    auto& items = where.menu->items;
    items.insert(items.begin() + static_cast<std::ptrdiff_t>(where.index), std::move(*added));
    return TRUE;
  });
}

BOOL SetMenuItemInfoW(HMENU handle, UINT item, BOOL byPosition, LPCMENUITEMINFOW caller) {
  return Guarded(FALSE, [&]() -> BOOL {
    MenuTable& table = Menus();
    std::lock_guard lock(table.mutex);
    Menu* menu = table.Find(handle);
    if (menu == nullptr) return Fail(ERROR_INVALID_MENU_HANDLE);
    MENUITEMINFOW info;
    if (!NormalizeInfo(caller, info)) return Fail(ERROR_INVALID_PARAMETER);
    auto found = FindItem(table, menu, item, byPosition);
    if (!found) return Fail(ERROR_MENU_ITEM_NOT_FOUND);
    MenuItem& target = found->menu->items[found->index];
    auto updated = UpdatedItem(table, found->menu, target, info);
    if (!updated) return Fail(ERROR_INVALID_PARAMETER);
    target = std::move(*updated);
    return TRUE;
  });
}

BOOL GetMenuItemInfoW(HMENU handle, UINT item, BOOL byPosition, LPMENUITEMINFOW info) {
  return GetMenuItemInfoCommon(handle, item, byPosition, info);
}

BOOL GetMenuItemInfoA(HMENU handle, UINT item, BOOL byPosition, LPMENUITEMINFOA info) {
  return Guarded(FALSE, [&] { return GetMenuItemInfoCommon(handle, item, byPosition, info); });
}

BOOL AppendMenuW(HMENU handle, UINT flags, UINT_PTR idOrSubMenu, LPCWSTR text) {
  if ((flags & (MF_BITMAP | MF_OWNERDRAW)) != 0) return Fail(ERROR_NOT_SUPPORTED);
  MENUITEMINFOW info{};
  info.cbSize = sizeof(info);
  info.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_ID | MIIM_STRING;
  info.fType = flags & (MF_SEPARATOR | MF_MENUBARBREAK | MF_MENUBREAK);
  info.fState = flags & (MF_GRAYED | MF_DISABLED | MF_CHECKED | MF_HILITE | MF_DEFAULT);
  info.wID = static_cast<UINT>(idOrSubMenu);
  info.dwTypeData = (flags & MF_SEPARATOR) != 0 ? nullptr : const_cast<LPWSTR>(text);
  if ((flags & MF_POPUP) != 0) {
    info.fMask |= MIIM_SUBMENU;
    info.hSubMenu = reinterpret_cast<HMENU>(idOrSubMenu);
  }
  return InsertMenuItemW(handle, static_cast<UINT>(-1), TRUE, &info);
}

int GetMenuItemCount(HMENU handle) {
  MenuTable& table = Menus();
  std::lock_guard lock(table.mutex);
  const Menu* menu = table.Find(handle);
  if (menu == nullptr) {
    SetLastError(ERROR_INVALID_MENU_HANDLE);
    return -1;
  }
  return static_cast<int>(menu->items.size());
}

// -1 for an item that opens a submenu, as for a missing item.
UINT GetMenuItemID(HMENU handle, int position) {
  MenuTable& table = Menus();
  std::lock_guard lock(table.mutex);
  const Menu* menu = table.Find(handle);
  if (menu == nullptr || position < 0 || static_cast<std::size_t>(position) >= menu->items.size()) {
    return static_cast<UINT>(-1);
  }
  const MenuItem& item = menu->items[static_cast<std::size_t>(position)];
  return item.subMenu != nullptr ? static_cast<UINT>(-1) : item.id;
}
