// Menus, string resources, icons and the bitmaps they are made of, with the
// Windows names, values and contracts (menu.cpp, resources.cpp).
#pragma once

#include "win32_types.h"

// Also in win32_types.h; an alias may be declared again with the same type.
using UINT_PTR = std::uintptr_t;

// Handles: distinct types, as with STRICT on Windows.
struct HMENU__;
struct HBITMAP__;
struct HICON__;
using HMENU = HMENU__*;
using HBITMAP = HBITMAP__*;
using HICON = HICON__*;
using HGDIOBJ = void*;

// Error numbers of the window manager and the resource loader.
#define ERROR_RESOURCE_NAME_NOT_FOUND 1814u
#define ERROR_INVALID_MENU_HANDLE 1401u
#define ERROR_INVALID_CURSOR_HANDLE 1402u
#define ERROR_MENU_ITEM_NOT_FOUND 1456u

// MENUITEMINFO fMask.
#define MIIM_STATE 0x00000001u
#define MIIM_ID 0x00000002u
#define MIIM_SUBMENU 0x00000004u
#define MIIM_CHECKMARKS 0x00000008u
#define MIIM_TYPE 0x00000010u
#define MIIM_DATA 0x00000020u
#define MIIM_STRING 0x00000040u
#define MIIM_BITMAP 0x00000080u
#define MIIM_FTYPE 0x00000100u

// Item types and states.
#define MFT_STRING 0x00000000u
#define MFT_BITMAP 0x00000004u
#define MFT_MENUBARBREAK 0x00000020u
#define MFT_MENUBREAK 0x00000040u
#define MFT_OWNERDRAW 0x00000100u
#define MFT_RADIOCHECK 0x00000200u
#define MFT_SEPARATOR 0x00000800u
#define MFT_RIGHTORDER 0x00002000u
#define MFT_RIGHTJUSTIFY 0x00004000u
#define MFS_ENABLED 0x00000000u
#define MFS_UNCHECKED 0x00000000u
#define MFS_GRAYED 0x00000003u
#define MFS_DISABLED MFS_GRAYED
#define MFS_CHECKED 0x00000008u
#define MFS_HILITE 0x00000080u
#define MFS_DEFAULT 0x00001000u

// Flags of the older calls (AppendMenuW).
#define MF_BYCOMMAND 0x00000000u
#define MF_STRING 0x00000000u
#define MF_ENABLED 0x00000000u
#define MF_GRAYED 0x00000001u
#define MF_DISABLED 0x00000002u
#define MF_BITMAP 0x00000004u
#define MF_CHECKED 0x00000008u
#define MF_POPUP 0x00000010u
#define MF_MENUBARBREAK 0x00000020u
#define MF_MENUBREAK 0x00000040u
#define MF_HILITE 0x00000080u
#define MF_OWNERDRAW 0x00000100u
#define MF_BYPOSITION 0x00000400u
#define MF_SEPARATOR 0x00000800u
#define MF_DEFAULT 0x00001000u

struct MENUITEMINFOW {
  UINT cbSize;
  UINT fMask;
  UINT fType;
  UINT fState;
  UINT wID;
  HMENU hSubMenu;
  HBITMAP hbmpChecked;
  HBITMAP hbmpUnchecked;
  ULONG_PTR dwItemData;
  LPWSTR dwTypeData;
  UINT cch;
  HBITMAP hbmpItem;
};
using LPMENUITEMINFOW = MENUITEMINFOW*;
using LPCMENUITEMINFOW = const MENUITEMINFOW*;

struct MENUITEMINFOA {
  UINT cbSize;
  UINT fMask;
  UINT fType;
  UINT fState;
  UINT wID;
  HMENU hSubMenu;
  HBITMAP hbmpChecked;
  HBITMAP hbmpUnchecked;
  ULONG_PTR dwItemData;
  LPSTR dwTypeData;
  UINT cch;
  HBITMAP hbmpItem;
};
using LPMENUITEMINFOA = MENUITEMINFOA*;

// Menus. An item is found by position, or by command id in the menu and,
// depth first, in its submenus. The text is UTF-16; the A calls hand it out
// in the ANSI code page, which here is UTF-8.
HMENU CreateMenu();
HMENU CreatePopupMenu();
BOOL DestroyMenu(HMENU menu);  // and its submenus
BOOL InsertMenuItemW(HMENU menu, UINT item, BOOL byPosition, LPCMENUITEMINFOW info);
BOOL SetMenuItemInfoW(HMENU menu, UINT item, BOOL byPosition, LPCMENUITEMINFOW info);
BOOL GetMenuItemInfoW(HMENU menu, UINT item, BOOL byPosition, LPMENUITEMINFOW info);
BOOL GetMenuItemInfoA(HMENU menu, UINT item, BOOL byPosition, LPMENUITEMINFOA info);
BOOL AppendMenuW(HMENU menu, UINT flags, UINT_PTR idOrSubMenu, LPCWSTR text);
int GetMenuItemCount(HMENU menu);
UINT GetMenuItemID(HMENU menu, int position);

// Resources: found among those the module registered at load
// (platform/module_resources.h). LoadImageW makes an icon from the group's
// bitmap image of exactly the requested size, the deepest if there are
// several; it does not resample, and PNG images are not loaded.
#define MAKEINTRESOURCEW(id) (reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(static_cast<WORD>(id))))
#define IS_INTRESOURCE(name) ((reinterpret_cast<ULONG_PTR>(name) >> 16) == 0)
#define IMAGE_BITMAP 0u
#define IMAGE_ICON 1u
#define LR_DEFAULTCOLOR 0x00000000u
#define LR_DEFAULTSIZE 0x00000040u
#define SM_CXICON 11
#define SM_CYICON 12
#define SM_CXSMICON 49
#define SM_CYSMICON 50

int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int bufferMax);
int LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int bufferMax);
HANDLE LoadImageW(HINSTANCE instance, LPCWSTR name, UINT type, int cx, int cy, UINT flags);
int GetSystemMetrics(int index);

// Icons and bitmaps. GetIconInfo makes two new bitmaps, which the caller
// deletes: the colour image (32 bits per pixel, BGRA, alpha not
// premultiplied) and the 1-bit AND mask (set where transparent).
struct ICONINFO {
  BOOL fIcon;
  DWORD xHotspot;
  DWORD yHotspot;
  HBITMAP hbmMask;
  HBITMAP hbmColor;
};
using PICONINFO = ICONINFO*;

struct BITMAP {
  LONG bmType;
  LONG bmWidth;
  LONG bmHeight;
  LONG bmWidthBytes;  // rows are padded to 16 bits
  WORD bmPlanes;
  WORD bmBitsPixel;
  LPVOID bmBits;  // null: these are device-dependent bitmaps
};

BOOL GetIconInfo(HICON icon, PICONINFO info);
BOOL DestroyIcon(HICON icon);
BOOL DeleteObject(HGDIOBJ object);
int GetObjectW(HGDIOBJ object, int size, LPVOID buffer);
LONG GetBitmapBits(HBITMAP bitmap, LONG size, LPVOID bits);  // rows top to bottom
