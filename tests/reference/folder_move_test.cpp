// Moving a folder across file systems, with the file system's answers
// scripted: the rename gives EXDEV, and the removal of the source fails at a
// chosen entry. Whatever fails, one complete copy remains.
#include "folder_move.h"

#include "support/runtime_folder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace korvane::reference {
namespace {

namespace fs = std::filesystem;

int removalsLeft = -1;  // removals that succeed before one fails; -1: none fails
int removals = 0;

int CrossDevice(const char*, const char*) {
  errno = EXDEV;
  return -1;
}

int RemoveUntilItFails(const char* path) {
  if (removalsLeft >= 0 && removals++ >= removalsLeft) {
    errno = EACCES;
    return -1;
  }
  return server::SystemMoveCalls().remove(path);
}

constexpr server::MoveCalls kAcrossFileSystems{CrossDevice, RemoveUntilItFails};

// A link where the system lets programs make them: Windows only with a
// privilege, and Wine not at all.
void MakeLink(const std::string& target, const std::string& path) {
#ifdef _WIN32
  std::error_code unsupported;
  fs::create_symlink(target, path, unsupported);
#else
  fs::create_symlink(target, path);
#endif
}

class FolderMove : public ::testing::Test {
 protected:
  void SetUp() override {
    removals = 0;
    removalsLeft = -1;
    fs::create_directories(source_ + "/inner/deeper");
    std::ofstream(source_ + "/a.txt") << "a";
    std::ofstream(source_ + "/inner/b.txt") << "bb";
    std::ofstream(source_ + "/inner/deeper/c.txt") << "ccc";
    std::ofstream(source_ + "/inner/deeper/d.txt") << "";
    MakeLink("a.txt", source_ + "/link");
    fs::permissions(source_ + "/a.txt", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    fs::copy(source_, snapshot_, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    fs::permissions(snapshot_ + "/a.txt", fs::status(source_ + "/a.txt").permissions());
  }

  testing::ScopedRuntimeFolder folder_;
  const std::string source_ = folder_.Path() + "/source";
  const std::string snapshot_ = folder_.Path() + "/snapshot";
  const std::string target_ = folder_.Path() + "/target";
};

TEST_F(FolderMove, AcrossFileSystemsTheSourceGoesOnlyOnceTheCopyMatches) {
  const server::MoveResult result = server::MoveFolder(source_, target_, kAcrossFileSystems);
  EXPECT_TRUE(result.moved) << result.problem;
  EXPECT_FALSE(fs::exists(source_));
  EXPECT_TRUE(server::SameTree(target_, snapshot_));
}

// The removal fails at the first entry, half way, and at the last (the
// source folder itself): the source is whole again and the copy gone.
TEST_F(FolderMove, ARemovalThatFailsPartWayLeavesTheSourceWhole) {
  const auto inside = std::distance(fs::recursive_directory_iterator(source_), fs::recursive_directory_iterator());
  for (int failAt : {0, 3, static_cast<int>(inside)}) {
    SCOPED_TRACE(failAt);
    removals = 0;
    removalsLeft = failAt;
    const server::MoveResult result = server::MoveFolder(source_, target_, kAcrossFileSystems);
    EXPECT_FALSE(result.moved);
    EXPECT_EQ(result.error, EACCES);
    EXPECT_FALSE(result.destinationKept) << result.problem;
    EXPECT_TRUE(server::SameTree(source_, snapshot_)) << result.problem;
    EXPECT_FALSE(fs::exists(target_));
  }
}

TEST_F(FolderMove, ATakenDestinationOrAFailedRenameTouchesNothing) {
  fs::create_directories(target_);
  std::ofstream(target_ + "/theirs.txt") << "theirs";
  EXPECT_FALSE(server::MoveFolder(source_, target_, kAcrossFileSystems).moved);
  EXPECT_FALSE(server::MoveFolder(source_, target_).moved);  // a real rename that must not replace
  EXPECT_TRUE(server::SameTree(source_, snapshot_));
  EXPECT_TRUE(fs::exists(target_ + "/theirs.txt"));
}

TEST_F(FolderMove, SameTreeSeesEveryDifference) {
  const std::function<void()> changes[] = {
      [&] { std::ofstream(snapshot_ + "/inner/b.txt") << "bx"; },
      [&] { std::ofstream(snapshot_ + "/inner/new.txt") << ""; },
      [&] { fs::remove(snapshot_ + "/inner/deeper/d.txt"); },
      [&] { fs::permissions(snapshot_ + "/a.txt", fs::perms::owner_all); },
      [&] {
        fs::remove(snapshot_ + "/link");
        MakeLink("inner", snapshot_ + "/link");
        if (!fs::is_symlink(fs::symlink_status(snapshot_ + "/link"))) std::ofstream(snapshot_ + "/link") << "";
      },
  };
  for (const auto& change : changes) {
    // Windows removes no read-only file.
    fs::permissions(snapshot_ + "/a.txt", fs::perms::owner_write, fs::perm_options::add);
    fs::remove_all(snapshot_);
    fs::copy(source_, snapshot_, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    fs::permissions(snapshot_ + "/a.txt", fs::status(source_ + "/a.txt").permissions());
    ASSERT_TRUE(server::SameTree(source_, snapshot_));
    change();
    EXPECT_FALSE(server::SameTree(source_, snapshot_));
  }
}

}  // namespace
}  // namespace korvane::reference
