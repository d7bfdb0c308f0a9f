#include "daemon/platform/atomic_file.h"

#include "scratch.h"

#include <gtest/gtest.h>

#include <thread>

namespace korvane::server {
namespace {

// A reader as most programs open a file: without FILE_SHARE_DELETE, which
// makes a rename over the file fail while it is open.
HANDLE OpenAsReader(const std::string& path) {
  return CreateFileW(windows::SystemPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                     nullptr);
}

TEST(AtomicFile, ReplacesWholeUnderEitherDurabilityAndAnyName) {
  testing::ScratchFolder scratch;
  const std::pair<const char*, Durability> cases[] = {
      {"activations", Durability::ToDisk},
      {"jobs", Durability::WholeOnly},
      {"\xc3\xa9t\xc3\xa9 \xe6\x97\xa5\xe8\xa8\x98 \xf0\x9f\x93\x81", Durability::ToDisk},  // été 日記 📁
  };
  for (const auto& [name, durability] : cases) {
    const std::string path = scratch / name;
    ASSERT_EQ(ReplaceFileAtomically(path, "first", durability), "") << name;
    ASSERT_EQ(ReplaceFileAtomically(path, "second", durability), "") << name;
    EXPECT_EQ(testing::ReadFile(path), "second") << name;
    EXPECT_FALSE(testing::Exists(path + ".new")) << name;
    // The name reached the system as these characters, not a code page's.
    EXPECT_NE(GetFileAttributesW((windows::Wide(scratch.Path()) + L"\\" + windows::Wide(name)).c_str()),
              INVALID_FILE_ATTRIBUTES)
        << name;
  }
}

TEST(AtomicFile, WaitsForAReaderThatLetsGo) {
  testing::ScratchFolder scratch;
  const std::string path = scratch / "jobs";
  ASSERT_EQ(ReplaceFileAtomically(path, "old", Durability::WholeOnly), "");
  HANDLE reader = OpenAsReader(path);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  std::thread release([reader] {
    Sleep(150);
    CloseHandle(reader);
  });
  EXPECT_EQ(ReplaceFileAtomically(path, "new", Durability::WholeOnly), "");
  release.join();
  EXPECT_EQ(testing::ReadFile(path), "new");
}

TEST(AtomicFile, AReaderHoldingPastTheWaitFailsItAndKeepsTheOldFile) {
  SetEnvironmentVariableW(L"KORVANE_REPLACE_WAIT_MS", L"100");
  testing::ScratchFolder scratch;
  const std::string path = scratch / "activations";
  ASSERT_EQ(ReplaceFileAtomically(path, "old"), "");
  HANDLE reader = OpenAsReader(path);
  const std::string problem = ReplaceFileAtomically(path, "new");
  CloseHandle(reader);
  SetEnvironmentVariableW(L"KORVANE_REPLACE_WAIT_MS", nullptr);
  EXPECT_EQ(problem.rfind("cannot rename over " + path + ": ", 0), 0u) << problem;
  EXPECT_EQ(testing::ReadFile(path), "old");
  EXPECT_FALSE(testing::Exists(path + ".new"));
}

}  // namespace
}  // namespace korvane::server
