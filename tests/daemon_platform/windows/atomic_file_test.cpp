#include "daemon/platform/atomic_file.h"

#include "daemon/base/windows/system_text.h"

#include "scratch.h"

#include <gtest/gtest.h>

#include <thread>

namespace korvane::server {
namespace {

using testing::ScratchFolder;

// A reader as most programs open a file: without FILE_SHARE_DELETE, which
// makes a rename over the file fail while it stays open.
HANDLE OpenAsReader(const std::string& path) {
  return CreateFileW(windows::SystemPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                     nullptr);
}

TEST(AtomicFile, ReplacesWholeUnderEveryDurabilityAndName) {
  ScratchFolder scratch;
  const struct {
    const char* name;
    Durability durability;
  } cases[] = {
      {"activations", Durability::ToDisk},
      {"jobs", Durability::WholeOnly},
      {"\xc3\xa9t\xc3\xa9 \xe6\x97\xa5\xe8\xa8\x98 \xf0\x9f\x93\x81", Durability::ToDisk},  // été 日記 📁
  };
  for (const auto& test : cases) {
    const std::string path = scratch / test.name;
    ASSERT_EQ(ReplaceFileAtomically(path, "first\n", test.durability), "") << test.name;
    ASSERT_EQ(ReplaceFileAtomically(path, "second\n", test.durability), "") << test.name;
    EXPECT_EQ(testing::ReadFile(path), "second\n") << test.name;
    EXPECT_FALSE(testing::Exists(path + ".new")) << test.name;
    // The name reached the system as the same characters, not as bytes of a
    // code page.
    EXPECT_NE(GetFileAttributesW((windows::Wide(scratch.Path()) + L"\\" + windows::Wide(test.name)).c_str()),
              INVALID_FILE_ATTRIBUTES)
        << test.name;
  }
}

TEST(AtomicFile, WaitsForAReaderThatLetsGo) {
  ScratchFolder scratch;
  const std::string path = scratch / "jobs";
  ASSERT_EQ(ReplaceFileAtomically(path, "old", Durability::WholeOnly), "");
  HANDLE reader = OpenAsReader(path);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  std::thread release([reader] {
    Sleep(150);
    CloseHandle(reader);
  });
  const std::string problem = ReplaceFileAtomically(path, "new", Durability::WholeOnly);
  release.join();
  EXPECT_EQ(problem, "");
  EXPECT_EQ(testing::ReadFile(path), "new");
}

TEST(AtomicFile, AReaderHoldingPastTheWaitFailsItAndKeepsTheOldFile) {
  SetEnvironmentVariableW(L"KORVANE_REPLACE_WAIT_MS", L"100");
  ScratchFolder scratch;
  const std::string path = scratch / "activations";
  ASSERT_EQ(ReplaceFileAtomically(path, "old", Durability::ToDisk), "");
  HANDLE reader = OpenAsReader(path);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  const std::string problem = ReplaceFileAtomically(path, "new", Durability::ToDisk);
  CloseHandle(reader);
  SetEnvironmentVariableW(L"KORVANE_REPLACE_WAIT_MS", nullptr);
  EXPECT_NE(problem.find("cannot rename over " + path), std::string::npos) << problem;
  EXPECT_EQ(testing::ReadFile(path), "old");
  EXPECT_FALSE(testing::Exists(path + ".new"));
}

TEST(AtomicFile, SaysWhatFailedWhenTheFolderIsMissing) {
  ScratchFolder scratch;
  const std::string path = scratch / "missing\\activations";
  const std::string problem = ReplaceFileAtomically(path, "text");
  EXPECT_EQ(problem.rfind("cannot create " + path + ".new: ", 0), 0u) << problem;
}

}  // namespace
}  // namespace korvane::server
