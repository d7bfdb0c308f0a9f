#include "daemon/platform/daemon_paths.h"
#include "daemon/platform/file_system.h"

#include "daemon/base/windows/system_text.h"

#include "scratch.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace korvane::server {
namespace {

using testing::ScratchFolder;

class Overrides {
 public:
  Overrides(const wchar_t* local, const wchar_t* roaming) {
    SetEnvironmentVariableW(L"KORVANE_LOCAL_APP_DATA", local);
    SetEnvironmentVariableW(L"KORVANE_APP_DATA", roaming);
  }
  ~Overrides() {
    SetEnvironmentVariableW(L"KORVANE_LOCAL_APP_DATA", nullptr);
    SetEnvironmentVariableW(L"KORVANE_APP_DATA", nullptr);
  }
};

TEST(DaemonPaths, FoldersGoWhereTheOverridesSayWhenAbsolute) {
  ScratchFolder scratch;
  const std::string local = scratch / "l\xc3\xb6kal";  // lökal
  const std::string roaming = scratch / "roaming";
  {
    const Overrides overrides(windows::Wide(local).c_str(), windows::Wide(roaming).c_str());
    std::string problem;
    const std::optional<DaemonPaths> paths = FindPaths(problem);
    ASSERT_TRUE(paths) << problem;
    EXPECT_EQ(paths->runtimeFolder, local + "\\Korvane\\run");
    EXPECT_EQ(paths->stateFolder, local + "\\Korvane\\state");
    EXPECT_EQ(paths->dataFolder, local + "\\Korvane\\data");
    EXPECT_EQ(paths->configFolder, roaming + "\\Korvane");
    EXPECT_EQ(paths->socketPath, R"(\\.\pipe\DalvDaemonCommand)");
  }
  // A relative value is no override: the system's folder is used.
  const Overrides relative(L"relative\\local", L"relative");
  std::string problem;
  const std::optional<DaemonPaths> paths = FindPaths(problem);
  ASSERT_TRUE(paths) << problem;
  EXPECT_EQ(paths->stateFolder.find("relative"), std::string::npos) << paths->stateFolder;
  EXPECT_EQ(paths->stateFolder.substr(1, 2), ":\\") << paths->stateFolder;
}

TEST(DaemonPaths, PrepareFolderMakesPrivateFoldersAndRefusesAFile) {
  ScratchFolder scratch;
  const std::string state = scratch / "\xe6\x97\xa5\\Korvane\\state";  // 日
  std::string problem;
  ASSERT_TRUE(PrepareFolder(state, true, problem)) << problem;
  ASSERT_TRUE(PrepareFolder(state, true, problem)) << problem;  // again, as at every start
  EXPECT_NE(GetFileAttributesW((windows::Wide(scratch.Path()) + L"\\\x65e5\\Korvane\\state").c_str()),
            INVALID_FILE_ATTRIBUTES);
  testing::WriteFile(scratch / "file", "x");
  EXPECT_FALSE(PrepareFolder(scratch / "file", true, problem));
  EXPECT_EQ(problem, scratch / "file" + " is not a folder");
}

TEST(FileSystem, RenameNoReplaceNeverReplaces) {
  ScratchFolder scratch;
  testing::WriteFile(scratch / "from", "from");
  testing::WriteFile(scratch / "taken", "taken");
  errno = 0;
  EXPECT_EQ(RenameNoReplace((scratch / "from").c_str(), (scratch / "taken").c_str()), -1);
  EXPECT_EQ(errno, EEXIST);
  EXPECT_EQ(testing::ReadFile(scratch / "taken"), "taken");
  EXPECT_EQ(testing::ReadFile(scratch / "from"), "from");

  const std::string wide = scratch / "\xd0\xbf\xd0\xb0\xd0\xbf\xd0\xba\xd0\xb0";  // папка
  EXPECT_EQ(RenameNoReplace((scratch / "from").c_str(), wide.c_str()), 0);
  EXPECT_EQ(testing::ReadFile(wide), "from");
  EXPECT_EQ(RenameNoReplace((scratch / "missing").c_str(), (scratch / "to").c_str()), -1);
  EXPECT_EQ(errno, ENOENT);
}

TEST(FileSystem, MakePrivateFolderRefusesOneThatExists) {
  ScratchFolder scratch;
  EXPECT_EQ(MakePrivateFolder(scratch / "removed"), 0);
  EXPECT_EQ(MakePrivateFolder(scratch / "removed"), -1);
  EXPECT_EQ(errno, EEXIST);
  testing::WriteFile(scratch / "removed\\origin", "x");  // the daemon's user can write there
  EXPECT_EQ(testing::ReadFile(scratch / "removed\\origin"), "x");
}

}  // namespace
}  // namespace korvane::server
