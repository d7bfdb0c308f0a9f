// The background menu of an unversioned folder offers sharing unless one of
// its subfolders is versioned. The menu asks Subversion only about the
// subfolders that can answer for themselves; its verdict must still be the
// one that a working-copy query of every subfolder gives.
#include "shell/shell_fixture.h"

#include "svn/svn_path.h"
#include "support/svn_repository.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace korvane::shell {
namespace {

namespace fs = std::filesystem;

// Where the selected folder lies, and the one subfolder it has besides 30
// plain ones and a file.
enum class Where { Scratch, BesideTheWorkingCopy, InsideTheWorkingCopy };
enum class Extra { None, LinkIntoTheWorkingCopy, LinkToAPlainFolder, OlderFormatCopy, LoopingAdministrativeFolder };

fs::path MakeFolder(Where where, Extra extra, const fs::path& scratch, const testing::SvnRepository& repository) {
  fs::path folder = scratch / "a case";
  if (where == Where::BesideTheWorkingCopy) folder = repository.Folder();
  if (where == Where::InsideTheWorkingCopy) folder = fs::path(repository.WorkingCopy()) / "docs/unversioned";
  for (int i = 0; i < 30; ++i) fs::create_directories(folder / ("plain " + std::to_string(i)));
  std::ofstream(folder / "a file.txt") << "not a folder";
  if (extra == Extra::LinkIntoTheWorkingCopy) {
    fs::create_directory_symlink(fs::path(repository.WorkingCopy()) / "docs", folder / "docs link");
  }
  if (extra == Extra::LinkToAPlainFolder) fs::create_directory_symlink(folder / "plain 0", folder / "plain link");
  if (extra == Extra::OlderFormatCopy) {
    fs::create_directories(folder / "old copy/.svn");
    std::ofstream(folder / "old copy/.svn/entries") << "10\n";
  }
  if (extra == Extra::LoopingAdministrativeFolder) {
    fs::create_directories(folder / "looping");
    fs::create_symlink(".svn", folder / "looping/.svn");  // ELOOP, whoever runs the test
  }
  return folder;
}

// What one working-copy query per subfolder says of the folder.
bool AnySubfolderVersioned(const fs::path& folder) {
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    std::error_code error;
    if (!fs::is_directory(entry.path(), error)) continue;
    const std::string path = entry.path().generic_string();
    if (svn::SVNPath(std::u16string(path.begin(), path.end())).IsVersioned()) return true;
  }
  return false;
}

class BackgroundMenu : public ShellTest {
 protected:
  testing::SvnRepository repository_{"repos/team", {"docs/", "docs/notes.txt"}};
};

TEST_F(BackgroundMenu, OffersSharingExactlyWhenNoSubfolderIsVersioned) {
  const struct {
    const char* name;
    Where where;
    Extra extra;
    bool versioned;  // what a query of every subfolder answers
  } cases[] = {
      {"only plain subfolders", Where::Scratch, Extra::None, false},
      {"a working copy's root among them", Where::BesideTheWorkingCopy, Extra::None, true},
      {"a link to a folder inside a working copy", Where::Scratch, Extra::LinkIntoTheWorkingCopy, true},
      {"a link to a plain folder", Where::Scratch, Extra::LinkToAPlainFolder, false},
      {"a working copy of an older format", Where::Scratch, Extra::OlderFormatCopy, true},
      {"an administrative folder that cannot be looked up", Where::Scratch, Extra::LoopingAdministrativeFolder, false},
      {"the selected folder unversioned inside a working copy", Where::InsideTheWorkingCopy, Extra::None, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path scratch = fs::path(folder_.Path()) / "cases";
    const fs::path folder = MakeFolder(c.where, c.extra, scratch, repository_);
    const bool versioned = AnySubfolderVersioned(folder);
    EXPECT_EQ(versioned, c.versioned) << "the case does not build what it names";

    IContextMenu* handler = HandlerFor(folder.generic_string(), true);
    ASSERT_NE(handler, nullptr);
    ASSERT_TRUE(SUCCEEDED(Query(handler)));
    const std::vector<std::string> texts = SubmenuTexts();
    const bool offersSharing = std::find(texts.begin(), texts.end(), "Share on Halcyra") != texts.end();
    EXPECT_EQ(offersSharing, !versioned);
    fs::remove_all(scratch);
  }
}

}  // namespace
}  // namespace korvane::shell
