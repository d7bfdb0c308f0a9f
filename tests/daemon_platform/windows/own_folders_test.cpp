// The guard on the daemon's own folders by Windows' rules: a path reaches
// the state or data folder whatever its case, separators, drive letter case
// or short 8.3 names, and a folder beside them whose name only starts the
// same way stays the user's.
#include "daemon/base/own_folders.h"
#include "daemon/platform/daemon_paths.h"

#include "scratch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace korvane::server {
namespace {

std::string ShortPath(const std::string& path) {
  wchar_t buffer[MAX_PATH];
  const DWORD length = GetShortPathNameW(windows::SystemPath(path).c_str(), buffer, MAX_PATH);
  return length == 0 || length >= MAX_PATH ? std::string() : windows::Narrow(std::wstring(buffer, length));
}

std::string Upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](char c) { return c >= 'a' && c <= 'z' ? c - 32 : c; });
  return text;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; });
  return text;
}

std::string ForwardSlashes(std::string text) {
  std::replace(text.begin(), text.end(), '\\', '/');
  return text;
}

TEST(OwnFolderPathRules, RootsAndComparableForms) {
  const struct {
    std::string path;
    std::size_t root;
  } roots[] = {{"C:\\x", 3}, {"c:/x", 3}, {"C:", 2}, {"C:x", 2}, {"\\\\server\\share\\x", 15},
               {"\\\\?\\C:\\x", 7}, {"\\x", 1}, {"x\\y", 0}};
  for (const auto& c : roots) EXPECT_EQ(RootLength(c.path), c.root) << c.path;
  EXPECT_EQ(ComparablePath("c:/Users/l\xc3\xb6kal"), "C:\\USERS\\L\xc3\x96KAL");  // ö as Ö
  EXPECT_TRUE(IsWithin("c:/a/B/c", "C:\\A\\b"));
  EXPECT_TRUE(IsWithin("D:\\x", "d:\\"));
  EXPECT_FALSE(IsWithin("C:\\A\\bc", "C:\\a\\B"));
  EXPECT_FALSE(IsWithin("D:\\a\\b", "C:\\a"));
}

class OwnFolderGuard : public ::testing::Test {
 protected:
  void SetUp() override {
    // Long names with a space and a letter beyond ASCII, which get short names.
    local_ = scratch_ / "L\xc3\xb6kal Anwendungsdaten";  // Lökal
    SetEnvironmentVariableW(L"KORVANE_LOCAL_APP_DATA", windows::Wide(local_).c_str());
    SetEnvironmentVariableW(L"KORVANE_APP_DATA", windows::Wide(scratch_ / "roaming").c_str());
    std::string problem;
    std::optional<DaemonPaths> found = FindPaths(problem);
    SetEnvironmentVariableW(L"KORVANE_LOCAL_APP_DATA", nullptr);
    SetEnvironmentVariableW(L"KORVANE_APP_DATA", nullptr);
    ASSERT_TRUE(found) << problem;
    paths_ = *found;
    ASSERT_TRUE(PrepareFolder(paths_.stateFolder, true, problem)) << problem;
    ASSERT_TRUE(PrepareFolder(paths_.runtimeFolder, true, problem)) << problem;
    // The data folder is made with the first space: until then the guard
    // judges it as written.
    testing::MakeFolder(paths_.stateFolder + "-other");
    testing::MakeFolder(local_ + " Zwei");  // a sibling that starts with the same text
  }

  testing::ScratchFolder scratch_;
  std::string local_;
  DaemonPaths paths_;
};

TEST_F(OwnFolderGuard, EverySpellingOfAnOwnFolderIsRefusedAndItsNeighboursAreNot) {
  const std::string state = paths_.stateFolder;
  const std::string data = paths_.dataFolder;
  const std::string shortState = ShortPath(state);
  const std::string shortSibling = ShortPath(local_ + " Zwei");
  ASSERT_FALSE(shortState.empty());
  ASSERT_FALSE(shortSibling.empty());
  const std::string upperLocal = scratch_.Path() + "\\L\xc3\x96KAL ANWENDUNGSDATEN";  // LÖKAL
  const std::string drive = state.substr(0, 1);
  const std::string otherDriveCase = (drive == Upper(drive) ? Lower(drive) : Upper(drive)) + state.substr(1);

  const struct {
    std::string path;
    bool moves;
    bool touched;
  } cases[] = {
      {state, false, true},
      {Upper(state), false, true},
      {Lower(state) + "\\activations", false, true},
      {upperLocal + "\\KORVANE\\STATE\\jobs.new", false, true},
      {ForwardSlashes(state) + "/removed/x", false, true},
      {ForwardSlashes(Upper(state)) + "\\log", false, true},
      {state + "\\", false, true},
      {otherDriveCase, false, true},
      {shortState, false, true},
      {shortState + "\\not\\yet", false, true},
      {Lower(shortState), false, true},
      {"\\\\?\\" + state, false, true},
      {Upper(data) + "\\spaces\\new", false, true},  // data does not exist yet
      {ForwardSlashes(Lower(data)), false, true},
      {upperLocal + "\\korvane", true, true},
      {upperLocal + "\\korvane", false, false},
      {ShortPath(local_), true, true},
      {state.substr(0, 3), true, true},  // the drive's root
      {Upper(state) + "-OTHER", true, false},
      {state + "-other\\x", false, false},
      {local_ + " Zwei", true, false},
      {Upper(local_) + " ZWEI\\x", false, false},
      {shortSibling, true, false},
      {shortSibling + "\\Korvane\\state", false, false},
  };
  for (int resolvedOnce = 0; resolvedOnce < 2; ++resolvedOnce) {
    if (resolvedOnce == 1) paths_.ResolveOwnFolders();
    for (const auto& c : cases) {
      EXPECT_EQ(paths_.OwnFolderTouchedBy(c.path, c.moves).has_value(), c.touched)
          << c.path << (c.moves ? " (moved)" : " (written into)") << (resolvedOnce ? ", folders resolved once" : "");
    }
  }
}

TEST_F(OwnFolderGuard, ShortNamesResolveToTheLongNamesOnDisk) {
  const std::string shortState = ShortPath(paths_.stateFolder);
  // Wine makes short names up for long ones, as Windows does on a volume
  // that keeps them.
  EXPECT_NE(shortState, paths_.stateFolder);
  EXPECT_EQ(ResolvedPath(shortState), paths_.stateFolder);
  EXPECT_EQ(ResolvedPath(Upper(shortState) + "/not/yet"), paths_.stateFolder + "/not/yet");
  EXPECT_EQ(ResolvedPath(ForwardSlashes(Upper(paths_.stateFolder))), paths_.stateFolder);
}

// A symbolic link to the state folder is the state folder. Creating one
// needs a privilege or developer mode on Windows, and Wine 8 answers the
// call without making a link; where there is none, there is nothing to judge.
TEST_F(OwnFolderGuard, ALinkToAnOwnFolderIsThatFolder) {
  const std::string link = scratch_ / "link";
  if (!CreateSymbolicLinkW(windows::Wide(link).c_str(), windows::Wide(paths_.stateFolder).c_str(),
                           SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) ||
      !testing::Exists(link)) {
    GTEST_SKIP() << "the system made no symbolic link";
  }
  EXPECT_TRUE(paths_.OwnFolderTouchedBy(link + "\\new", false).has_value());
  EXPECT_TRUE(paths_.OwnFolderTouchedBy(Upper(link), true).has_value());
  EXPECT_FALSE(paths_.OwnFolderTouchedBy(scratch_ / "linked", false).has_value());
}

}  // namespace
}  // namespace korvane::server
