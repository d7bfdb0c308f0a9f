#include "daemon/platform/atomic_file.h"
#include "daemon/platform/daemon_paths.h"
#include "daemon/platform/file_system.h"

#include "scratch.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace korvane::server {
namespace {

void Override(const std::wstring& local, const std::wstring& roaming) {
  SetEnvironmentVariableW(L"KORVANE_LOCAL_APP_DATA", local.empty() ? nullptr : local.c_str());
  SetEnvironmentVariableW(L"KORVANE_APP_DATA", roaming.empty() ? nullptr : roaming.c_str());
}

TEST(DaemonPaths, FoldersGoWhereAbsoluteOverridesSay) {
  testing::ScratchFolder scratch;
  const std::string local = scratch / "l\xc3\xb6kal";  // lökal
  Override(windows::Wide(local), windows::Wide(scratch / "roaming"));
  std::string problem;
  const std::optional<DaemonPaths> paths = FindPaths(problem);
  ASSERT_TRUE(paths) << problem;
  EXPECT_EQ(paths->runtimeFolder, local + "\\Korvane\\run");
  EXPECT_EQ(paths->stateFolder, local + "\\Korvane\\state");
  EXPECT_EQ(paths->dataFolder, local + "\\Korvane\\data");
  EXPECT_EQ(paths->configFolder, scratch / "roaming\\Korvane");
  // A relative value is no override: the system's folders are used.
  Override(L"relative\\local", L"relative");
  const std::optional<DaemonPaths> fallback = FindPaths(problem);
  Override(L"", L"");
  ASSERT_TRUE(fallback) << problem;
  EXPECT_EQ(fallback->stateFolder.find("relative"), std::string::npos) << fallback->stateFolder;
  EXPECT_EQ(fallback->configFolder.substr(1, 2), ":\\") << fallback->configFolder;
}

TEST(DaemonPaths, PrepareFolderMakesNestedFoldersAndRefusesAFile) {
  testing::ScratchFolder scratch;
  std::string problem;
  for (int start = 0; start < 2; ++start) {  // again, as at every start
    ASSERT_TRUE(PrepareFolder(scratch / "\xe6\x97\xa5\\Korvane\\state", true, problem)) << problem;  // 日
  }
  EXPECT_NE(GetFileAttributesW((windows::Wide(scratch.Path()) + L"\\\x65e5\\Korvane\\state").c_str()),
            INVALID_FILE_ATTRIBUTES);
  ReplaceFileAtomically(scratch / "\xe6\x97\xa5\\Korvane\\state\\jobs", "x");  // the user writes there
  EXPECT_EQ(testing::ReadFile(scratch / "\xe6\x97\xa5\\Korvane\\state\\jobs"), "x");
  testing::WriteFile(scratch / "file", "x");
  EXPECT_FALSE(PrepareFolder(scratch / "file", true, problem));
  EXPECT_EQ(problem, scratch / "file" + " is not a folder");
}

TEST(FileSystem, RenameNoReplaceNeverReplaces) {
  testing::ScratchFolder scratch;
  testing::WriteFile(scratch / "from", "from");
  testing::WriteFile(scratch / "taken", "taken");
  EXPECT_EQ(RenameNoReplace((scratch / "from").c_str(), (scratch / "taken").c_str()), -1);
  EXPECT_EQ(errno, EEXIST);
  EXPECT_EQ(testing::ReadFile(scratch / "taken"), "taken");
  const std::string wide = scratch / "\xd0\xbf\xd0\xb0\xd0\xbf\xd0\xba\xd0\xb0";  // папка
  EXPECT_EQ(RenameNoReplace((scratch / "from").c_str(), wide.c_str()), 0);
  EXPECT_EQ(testing::ReadFile(wide), "from");
}

}  // namespace
}  // namespace korvane::server
