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
#include <functional>

namespace korvane::shell {
namespace {

namespace fs = std::filesystem;

constexpr int kPlainSubfolders = 30;

struct BackgroundCase {
  const char* name;
  // Fills the selected folder; returns it (it may lie elsewhere).
  std::function<fs::path(const fs::path& scratch, const testing::SvnRepository& repository)> make;
  bool versioned;  // what a query of every subfolder answers
};

fs::path WithPlainSubfolders(const fs::path& folder) {
  for (int i = 0; i < kPlainSubfolders; ++i) fs::create_directories(folder / ("plain " + std::to_string(i)));
  std::ofstream(folder / "a file.txt") << "not a folder";
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
  const BackgroundCase cases[] = {
      {"only plain subfolders", [](const fs::path& scratch, auto&) { return WithPlainSubfolders(scratch / "plain"); },
       false},
      {"a working copy's root among them",
       [](const fs::path&, const testing::SvnRepository& repository) {
         return WithPlainSubfolders(repository.Folder());
       },
       true},
      {"a link to a folder inside a working copy",
       [](const fs::path& scratch, const testing::SvnRepository& repository) {
         const fs::path folder = WithPlainSubfolders(scratch / "links in");
         fs::create_directory_symlink(fs::path(repository.WorkingCopy()) / "docs", folder / "docs link");
         return folder;
       },
       true},
      {"a link to a plain folder",
       [](const fs::path& scratch, auto&) {
         const fs::path folder = WithPlainSubfolders(scratch / "links out");
         fs::create_directory_symlink(folder / "plain 0", folder / "plain link");
         return folder;
       },
       false},
      {"a working copy of an older format",
       [](const fs::path& scratch, auto&) {
         const fs::path folder = WithPlainSubfolders(scratch / "old");
         fs::create_directories(folder / "old copy/.svn");
         std::ofstream(folder / "old copy/.svn/entries") << "10\n";
         return folder;
       },
       true},
      {"an administrative folder that cannot be looked up",
       [](const fs::path& scratch, auto&) {
         const fs::path folder = WithPlainSubfolders(scratch / "loop");
         fs::create_directories(folder / "looping");
         fs::create_symlink(".svn", folder / "looping/.svn");  // ELOOP, whoever runs the test
         return folder;
       },
       false},
      {"the selected folder unversioned inside a working copy",
       [](const fs::path&, const testing::SvnRepository& repository) {
         return WithPlainSubfolders(fs::path(repository.WorkingCopy()) / "docs/unversioned");
       },
       false},
  };
  for (const BackgroundCase& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path scratch = fs::path(folder_.Path()) / "cases";
    const fs::path folder = c.make(scratch, repository_);
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
