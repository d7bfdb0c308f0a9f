// The in-memory menus keep the Windows contracts that the shell extension
// relies on: where items go, how text is handed out, and that destroying a
// menu frees its submenus and never trusts a stale handle.
#include "platform/posix/menu_probes.h"
#include "platform/windows_api.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using korvane::posix::LiveMenuCount;

// A shell-like context menu: seven commands, a separator at 7 and the
// TortoiseSVN submenu at 8.
class ShellMenu : public ::testing::Test {
 protected:
  void SetUp() override {
    menu_ = CreatePopupMenu();
    for (UINT id = 1; id <= 7; ++id) {
      ASSERT_TRUE(AppendMenuW(menu_, MF_STRING, id, (u"Command " + std::u16string(1, u'0' + id)).c_str()));
    }
    ASSERT_TRUE(AppendMenuW(menu_, MF_SEPARATOR, 0, nullptr));
    tortoise_ = CreatePopupMenu();
    ASSERT_TRUE(AppendMenuW(tortoise_, MF_STRING, 40, u"Update"));
    ASSERT_TRUE(AppendMenuW(menu_, MF_POPUP, reinterpret_cast<UINT_PTR>(tortoise_), u"&TortoiseSVN"));
  }

  void TearDown() override {
    DestroyMenu(menu_);  // fails harmlessly when a test destroyed it already
    EXPECT_EQ(LiveMenuCount(), 0u);
  }

  static MENUITEMINFOW Info(UINT mask) {
    MENUITEMINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = mask;
    return info;
  }

  std::u16string Text(HMENU menu, UINT position) {
    char16_t buffer[64] = {};
    MENUITEMINFOW info = Info(MIIM_STRING);
    info.dwTypeData = buffer;
    info.cch = 64;
    return GetMenuItemInfoW(menu, position, TRUE, &info) ? std::u16string(buffer, info.cch) : u"(none)";
  }

  HMENU menu_ = nullptr;
  HMENU tortoise_ = nullptr;
};

TEST_F(ShellMenu, ItemsGoWhereTheWindowsContractPutsThem) {
  ASSERT_EQ(GetMenuItemCount(menu_), 9);
  MENUITEMINFOW separator = Info(MIIM_FTYPE);
  ASSERT_TRUE(GetMenuItemInfoW(menu_, 7, TRUE, &separator));
  EXPECT_EQ(separator.fType, MFT_SEPARATOR);
  EXPECT_EQ(GetMenuItemID(menu_, 8), static_cast<UINT>(-1));  // opens a submenu
  MENUITEMINFOW submenu = Info(MIIM_SUBMENU);
  ASSERT_TRUE(GetMenuItemInfoW(menu_, 8, TRUE, &submenu));
  EXPECT_EQ(submenu.hSubMenu, tortoise_);
  EXPECT_EQ(Text(menu_, 8), u"&TortoiseSVN");

  struct InsertCase {
    const char* name;
    UINT item;
    BOOL byPosition;
    HMENU expectedMenu;
    UINT expectedPosition;
  };
  const InsertCase cases[] = {
      {"by position, first", 0, TRUE, menu_, 0},
      {"by position, before the separator", 8, TRUE, menu_, 8},
      {"by position, past the end appends", 500, TRUE, menu_, 11},
      {"by position, -1 appends", static_cast<UINT>(-1), TRUE, menu_, 12},
      {"by command, before that item", 3, FALSE, menu_, 3},
      {"by command, found in a submenu", 40, FALSE, tortoise_, 0},
  };
  UINT id = 100;
  for (const InsertCase& c : cases) {
    SCOPED_TRACE(c.name);
    MENUITEMINFOW info = Info(MIIM_ID | MIIM_STRING);
    info.wID = ++id;
    info.dwTypeData = const_cast<LPWSTR>(u"new");
    ASSERT_TRUE(InsertMenuItemW(menu_, c.item, c.byPosition, &info));
    EXPECT_EQ(GetMenuItemID(c.expectedMenu, static_cast<int>(c.expectedPosition)), id);
  }
  MENUITEMINFOW info = Info(MIIM_ID);
  EXPECT_FALSE(InsertMenuItemW(menu_, 9999, FALSE, &info));
  EXPECT_EQ(GetLastError(), ERROR_MENU_ITEM_NOT_FOUND);
}

TEST_F(ShellMenu, HandsOutTextWithTheWindowsBufferContract) {
  MENUITEMINFOW set = Info(MIIM_STRING);
  const std::u16string longText = u"K\u00f6rvane: share this folder with every member of the team";
  set.dwTypeData = const_cast<LPWSTR>(longText.c_str());
  ASSERT_TRUE(SetMenuItemInfoW(menu_, 0, TRUE, &set));
  const std::string utf8 = "K\xC3\xB6rvane: share this folder with every member of the team";

  struct TextCase {
    const char* name;
    bool wide;
    bool withBuffer;
    UINT cch;
    std::size_t expectedCch;  // the copy's length, or the whole text's
  };
  const TextCase cases[] = {
      {"W, no buffer: the length", true, false, 0, longText.size()},
      {"W, cch 0: the length", true, true, 0, longText.size()},
      {"W, truncated to cch - 1", true, true, 10, 9},
      {"W, room for all", true, true, 100, longText.size()},
      {"A, no buffer: the UTF-8 length", false, false, 0, utf8.size()},
      {"A, 32 bytes: truncated to 31", false, true, 32, 31},
      {"A, never splits a character", false, true, 3, 1},
      {"A, room for all", false, true, 100, utf8.size()},
  };
  for (const TextCase& c : cases) {
    SCOPED_TRACE(c.name);
    char buffer[256];
    std::memset(buffer, 'x', sizeof(buffer));
    auto* wide = reinterpret_cast<char16_t*>(buffer);
    if (c.wide) {
      MENUITEMINFOW info = Info(MIIM_STRING);
      info.dwTypeData = c.withBuffer ? wide : nullptr;
      info.cch = c.cch;
      ASSERT_TRUE(GetMenuItemInfoW(menu_, 0, TRUE, &info));
      EXPECT_EQ(info.cch, c.expectedCch);
      if (c.withBuffer && c.cch > 0) {
        EXPECT_EQ(std::u16string(wide), longText.substr(0, c.expectedCch));
        EXPECT_EQ(buffer[2 * c.cch], 'x') << "wrote past the buffer";
      }
    } else {
      MENUITEMINFOA info{};
      info.cbSize = sizeof(info);
      info.fMask = MIIM_STRING;
      info.dwTypeData = c.withBuffer ? buffer : nullptr;
      info.cch = c.cch;
      ASSERT_TRUE(GetMenuItemInfoA(menu_, 0, TRUE, &info));
      EXPECT_EQ(info.cch, c.expectedCch);
      if (c.withBuffer) {
        EXPECT_EQ(std::string(buffer), utf8.substr(0, c.expectedCch));
        EXPECT_EQ(buffer[c.cch], 'x') << "wrote past the buffer";
      }
    }
  }
}

TEST_F(ShellMenu, ChecksTheStructureSizeAndNeverWritesPastIt) {
  MENUITEMINFOW info = Info(MIIM_ID | MIIM_BITMAP);
  info.cbSize = 12;
  EXPECT_FALSE(GetMenuItemInfoW(menu_, 0, TRUE, &info));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);

  // The older layout without hbmpItem: what lies beyond it stays untouched.
  info = Info(MIIM_ID | MIIM_BITMAP);
  info.cbSize = offsetof(MENUITEMINFOW, hbmpItem);
  info.hbmpItem = reinterpret_cast<HBITMAP>(0x1234);
  ASSERT_TRUE(GetMenuItemInfoW(menu_, 2, TRUE, &info));
  EXPECT_EQ(info.wID, 3u);
  EXPECT_EQ(info.hbmpItem, reinterpret_cast<HBITMAP>(0x1234));

  info = Info(MIIM_TYPE | MIIM_STRING);
  EXPECT_FALSE(SetMenuItemInfoW(menu_, 0, TRUE, &info));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(ShellMenu, SetMenuItemInfoByCommandAttachesASubmenu) {
  HMENU korvane = CreatePopupMenu();
  ASSERT_TRUE(AppendMenuW(korvane, MF_STRING, 60, u"Deactivate"));
  MENUITEMINFOW info = Info(MIIM_SUBMENU | MIIM_STRING | MIIM_DATA);
  info.hSubMenu = korvane;
  info.dwTypeData = const_cast<LPWSTR>(u"Korvane");
  info.dwItemData = 0xC0FFEE;
  ASSERT_TRUE(SetMenuItemInfoW(menu_, 5, FALSE, &info));

  MENUITEMINFOW read = Info(MIIM_SUBMENU | MIIM_ID | MIIM_DATA);
  ASSERT_TRUE(GetMenuItemInfoW(menu_, 4, TRUE, &read));
  EXPECT_EQ(read.hSubMenu, korvane);
  EXPECT_EQ(read.wID, 5u);
  EXPECT_EQ(read.dwItemData, 0xC0FFEEu);
  EXPECT_EQ(Text(menu_, 4), u"Korvane");
  EXPECT_EQ(GetMenuItemID(menu_, 4), static_cast<UINT>(-1));

  // A menu cannot become its own descendant, nor take a handle that is no menu.
  info = Info(MIIM_SUBMENU);
  info.hSubMenu = menu_;
  EXPECT_FALSE(SetMenuItemInfoW(korvane, 0, TRUE, &info));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  info.hSubMenu = reinterpret_cast<HMENU>(0x5004);
  EXPECT_FALSE(SetMenuItemInfoW(korvane, 0, TRUE, &info));
  EXPECT_EQ(LiveMenuCount(), 3u);
}

TEST_F(ShellMenu, DestroyFreesSubmenusAndStaleHandlesFailSafely) {
  ASSERT_EQ(LiveMenuCount(), 2u);
  // A submenu destroyed on its own leaves its parent with the bare handle.
  ASSERT_TRUE(DestroyMenu(tortoise_));
  MENUITEMINFOW info = Info(MIIM_SUBMENU);
  ASSERT_TRUE(GetMenuItemInfoW(menu_, 8, TRUE, &info));
  EXPECT_EQ(info.hSubMenu, tortoise_);

  HMENU inner = CreatePopupMenu();
  HMENU middle = CreatePopupMenu();
  ASSERT_TRUE(AppendMenuW(middle, MF_POPUP, reinterpret_cast<UINT_PTR>(inner), u"inner"));
  ASSERT_TRUE(AppendMenuW(menu_, MF_POPUP, reinterpret_cast<UINT_PTR>(middle), u"middle"));
  ASSERT_EQ(LiveMenuCount(), 3u);
  ASSERT_TRUE(DestroyMenu(menu_));
  EXPECT_EQ(LiveMenuCount(), 0u);

  for (HMENU stale : {menu_, middle, inner, tortoise_, static_cast<HMENU>(nullptr), reinterpret_cast<HMENU>(0x10)}) {
    SetLastError(0);
    EXPECT_FALSE(DestroyMenu(stale));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_MENU_HANDLE);
    EXPECT_EQ(GetMenuItemCount(stale), -1);
    EXPECT_FALSE(GetMenuItemInfoW(stale, 0, TRUE, &info));
    EXPECT_FALSE(InsertMenuItemW(stale, 0, TRUE, &info));
  }
  // A new menu never takes an old handle.
  HMENU fresh = CreateMenu();
  EXPECT_NE(fresh, menu_);
  EXPECT_EQ(GetMenuItemCount(menu_), -1);
  DestroyMenu(fresh);
}

}  // namespace
