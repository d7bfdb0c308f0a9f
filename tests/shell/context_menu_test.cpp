// The "Korvane" entry and its submenu for every state of the selected
// folder, the shell's flags, and the placement beside TortoiseSVN.
#include "shell_fixture.h"

#include "korvane/korvane.h"
#include "support/svn_repository.h"

#include <filesystem>

namespace korvane::shell {
namespace {

using namespace std::chrono_literals;
using testing::Answer;
using Texts = std::vector<std::string>;

class ContextMenu : public ShellTest {
 protected:
  // A working copy from a repository elsewhere, and one from the hosting service.
  testing::SvnRepository plain_{"repos/plain", {"sub/", "sub/file.txt"}};
  testing::SvnRepository hosted_{"host/svn.halcyra.com/svn/space", {"docs/"}};
};

TEST_F(ContextMenu, VersionedFolderOffersWhatItsStatusAllows) {
  const std::string own = "Use Korvane dialogs", tortoise = "Use TortoiseSVN dialogs";
  const std::string automatic = "Automatic commit and update", share = "Share with team member";
  const struct {
    const char* name;
    const char* status;  // the daemon's reply; null: it closes without one
    bool tortoiseSvn;
    bool hosted;
    Texts submenu;
  } cases[] = {
      {"not activated", "0|||", false, false, {own, automatic}},
      {"not activated, TortoiseSVN", "0|||", true, false, {own, tortoise, automatic}},
      {"not activated, hosted", "0|||", false, true, {own, automatic, "-", share}},
      {"activated here, TortoiseSVN mode", "2|url|/w|/w", true, false, {own, automatic, "-", "Deactivate"}},
      {"activated here, automatic", "3|url|/w|/w", false, false, {own, "-", "Deactivate"}},
      {"activated above", "1|url|/w|/w/sub", false, false, {}},
      {"activated above, hosted", "1|url|/w|/w/sub", false, true, {"-", share}},
      {"no answer", nullptr, false, false, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    settings_.User(c.tortoiseSvn ? kTortoiseSvnInstalled : "");
    daemon_.On(1, c.status ? Answer::Reply(c.status, 5ms) : Answer::CloseWithoutReply(5ms));
    NewShellMenu();
    IContextMenu* handler = HandlerFor(c.hosted ? hosted_.WorkingCopy() : plain_.WorkingCopy());
    ASSERT_NE(handler, nullptr);
    HRESULT result = Query(handler);
    ASSERT_TRUE(SUCCEEDED(result));
    // Every submenu entry and separator uses one identifier, and so does the
    // product's entry, when there is one.
    EXPECT_EQ(HRESULT_CODE(result), c.submenu.empty() ? 0u : c.submenu.size() + 1);
    EXPECT_EQ(SubmenuTexts(), c.submenu);
    EXPECT_EQ(ShellMenuTexts(), c.submenu.empty() ? Texts{} : Texts{"Korvane"});
  }
}

// Outside a working copy: sharing and checkouts, but no sharing on the
// background of a folder that holds a working copy.
TEST_F(ContextMenu, UnversionedFolderOffersSharingAndCheckouts) {
  const std::string outside = folder_.Path() + "/plain folder";
  std::filesystem::create_directories(outside + "/inner");
  const std::string parent = std::filesystem::path(plain_.WorkingCopy()).parent_path().generic_string();
  const struct {
    std::string path;
    bool background;
    Texts submenu;
  } cases[] = {
      {outside, false, {"Share on Halcyra", "Checkout from Halcyra", "Checkout"}},
      {parent, true, {"Checkout from Halcyra", "Checkout"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    NewShellMenu();
    IContextMenu* handler = HandlerFor(c.path, c.background);
    ASSERT_NE(handler, nullptr);
    EXPECT_EQ(HRESULT_CODE(Query(handler)), c.submenu.size() + 1);
    EXPECT_EQ(SubmenuTexts(), c.submenu);
  }
  // Building the menu starts the daemon, for the command that may follow.
  EXPECT_TRUE(processes_.WaitForLines("duplicate", 1));  // this test's daemon already serves
}

TEST_F(ContextMenu, ShellFlagsDecideWhetherEntriesAreAdded) {
  const struct {
    UINT flags;
    bool built;
  } cases[] = {
      {CMF_NORMAL, true},   {CMF_DEFAULTONLY, false},          {CMF_NOVERBS, false},
      {CMF_VERBSONLY, true}, {CMF_NOVERBS | CMF_EXPLORE, true}, {CMF_DEFAULTONLY | CMF_EXPLORE, false},
      {0x100, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.flags);
    NewShellMenu();
    IContextMenu* handler = HandlerFor(plain_.WorkingCopy());
    EXPECT_EQ(HRESULT_CODE(Query(handler, c.flags)), c.built ? 3u : 0u);
  }
}

// The identifiers are consecutive from the first the shell gives, the
// product's entry last.
TEST_F(ContextMenu, EntryGoesRightAfterTheSeparatorOpeningTortoiseSvnsGroup) {
  settings_.User("[HKEY_CURRENT_USER\\SOFTWARE\\Korvane]\n\"ContextMenuUsesTSVN\"=dword:00000001\n");
  shellMenu_ = CreatePopupMenu();
  for (int index = 0; index < 7; ++index) AppendMenuW(shellMenu_, MF_STRING, 1 + index, KORVANE_TEXT("Open"));
  AppendMenuW(shellMenu_, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(shellMenu_, MF_STRING, 20, KORVANE_TEXT("&TortoiseSVN"));
  IContextMenu* handler = HandlerFor(plain_.WorkingCopy());
  EXPECT_EQ(HRESULT_CODE(Query(handler, CMF_NORMAL, 2, 300)), 3u);
  EXPECT_EQ(ShellMenuTexts(), (Texts{"Open", "Open", "Open", "Open", "Open", "Open", "Open", "-", "Korvane",
                                     "&TortoiseSVN"}));
  MENUITEMINFOW item{};
  item.cbSize = sizeof item;
  item.fMask = MIIM_ID | MIIM_SUBMENU;
  ASSERT_TRUE(GetMenuItemInfoW(shellMenu_, 8, TRUE, &item));
  EXPECT_EQ(item.wID, 302u);
  EXPECT_EQ(GetMenuItemID(item.hSubMenu, 0), 300u);
  EXPECT_EQ(GetMenuItemID(item.hSubMenu, 1), 301u);
}

}  // namespace
}  // namespace korvane::shell
