#include "daemon/platform/folder_watcher.h"
#include "daemon/platform/wake_up.h"

#include "daemon/base/windows/system_text.h"

#include "scratch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>

namespace korvane::server {
namespace {

using Kind = FolderWatcher::Kind;
using testing::ScratchFolder;

int Watch(FolderWatcher& watcher, const std::string& folder) {
  FolderWatcher::Refusal refusal = FolderWatcher::Refusal::Failed;
  std::string problem;
  const int watch = watcher.Add(folder, refusal, problem);
  EXPECT_EQ(refusal, FolderWatcher::Refusal::None) << folder << ": " << problem;
  return watch;
}

// Takes events as a waiter would (waiting on the handle) until one matches
// or limitMs has passed.
bool AwaitEvent(FolderWatcher& watcher, const std::function<bool(const FolderWatcher::Event&)>& matches,
                int limitMs = 10000) {
  WakeUp never;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  while (std::chrono::steady_clock::now() < end) {
    bool ready = false;
    std::string problem;
    if (!WaitReady(watcher.Handle(), never, std::chrono::milliseconds(100), ready, problem)) return false;
    for (const FolderWatcher::Event& event : watcher.Take()) {
      if (matches(event)) return true;
    }
  }
  return false;
}

class FolderWatcherTest : public ::testing::Test {
 protected:
  void SetUp() override { SetEnvironmentVariableW(L"KORVANE_WATCH_SWEEP_MS", L"200"); }
  void TearDown() override { SetEnvironmentVariableW(L"KORVANE_WATCH_SWEEP_MS", nullptr); }
  ScratchFolder scratch_;
};

TEST_F(FolderWatcherTest, ReportsEntriesOfTheTopFolderByKind) {
  CreateDirectoryW(windows::SystemPath(scratch_ / "top").c_str(), nullptr);
  FolderWatcher watcher;
  ASSERT_NE(watcher.Handle(), kNoHandle);
  const int top = Watch(watcher, scratch_ / "top");
  const struct {
    const char* what;
    std::function<void()> change;
    Kind kind;
    const char* name;
  } cases[] = {
      {"a file written", [&] { testing::WriteFile(scratch_ / "top\\notes.txt", "x"); }, Kind::FileWritten, "notes.txt"},
      {"a folder made", [&] { CreateDirectoryW(windows::SystemPath(scratch_ / "top\\new").c_str(), nullptr); },
       Kind::FolderAdded, "new"},
      // As programs save: a whole new file renamed to its name. (A move in
      // from outside the tree is reported as a new file, written.)
      {"a file renamed in whole",
       [&] {
         testing::WriteFile(scratch_ / "top\\draft.tmp", "y");
         MoveFileW(windows::SystemPath(scratch_ / "top\\draft.tmp").c_str(),
                   windows::SystemPath(scratch_ / "top\\saved.txt").c_str());
       },
       Kind::FileSaved, "saved.txt"},
      {"a file removed", [&] { DeleteFileW(windows::SystemPath(scratch_ / "top\\notes.txt").c_str()); }, Kind::Changed,
       "notes.txt"},
      {"a name beyond ASCII",
       [&] { testing::WriteFile(scratch_ / "top\\r\xc3\xa9sum\xc3\xa9.txt", "z"); }, Kind::FileWritten,
       "r\xc3\xa9sum\xc3\xa9.txt"},
  };
  for (const auto& test : cases) {
    test.change();
    EXPECT_TRUE(AwaitEvent(watcher, [&](const FolderWatcher::Event& event) {
      return event.watch == top && event.kind == test.kind && event.name == test.name;
    })) << test.what;
  }
}

// The case a recursive watch can miss: a folder that existed before the
// watch was armed. A change there is reported for its own watch, or a
// sweep (Lost) makes the owner look at it anyway.
TEST_F(FolderWatcherTest, AChangeInAFolderThatExistedBeforeIsNeverMissed) {
  CreateDirectoryW(windows::SystemPath(scratch_ / "top").c_str(), nullptr);
  CreateDirectoryW(windows::SystemPath(scratch_ / "top\\old").c_str(), nullptr);
  FolderWatcher watcher;
  Watch(watcher, scratch_ / "top");
  const int old = Watch(watcher, scratch_ / "top\\old");
  while (!watcher.Take().empty()) {
  }
  testing::WriteFile(scratch_ / "top\\old\\plan.txt", "x");
  EXPECT_TRUE(AwaitEvent(watcher, [&](const FolderWatcher::Event& event) {
    return event.kind == Kind::Lost || (event.watch == old && event.name == "plan.txt");
  }));
}

TEST_F(FolderWatcherTest, FoldersInAWatchedTreeShareItAndEndWithIt) {
  CreateDirectoryW(windows::SystemPath(scratch_ / "top").c_str(), nullptr);
  FolderWatcher watcher;
  const int top = Watch(watcher, scratch_ / "top");
  CreateDirectoryW(windows::SystemPath(scratch_ / "top\\sub").c_str(), nullptr);
  const int sub = Watch(watcher, scratch_ / "top\\sub");
  EXPECT_NE(sub, top);
  // The same folder, named in another case and with the other separator,
  // is the same watch.
  EXPECT_EQ(Watch(watcher, scratch_.Path() + "/TOP/Sub"), sub);
  testing::WriteFile(scratch_ / "top\\sub\\a.txt", "x");
  EXPECT_TRUE(AwaitEvent(watcher, [&](const FolderWatcher::Event& event) {
    return event.watch == sub && event.kind == Kind::FileWritten && event.name == "a.txt";
  }));
  DeleteFileW(windows::SystemPath(scratch_ / "top\\sub\\a.txt").c_str());
  RemoveDirectoryW(windows::SystemPath(scratch_ / "top\\sub").c_str());
  EXPECT_TRUE(AwaitEvent(watcher, [&](const FolderWatcher::Event& event) {
    return event.watch == sub && event.kind == Kind::Ended;
  }));
  watcher.Remove(top);
  EXPECT_TRUE(AwaitEvent(watcher, [&](const FolderWatcher::Event& event) {
    return event.watch == top && event.kind == Kind::Ended;
  }));
}

TEST_F(FolderWatcherTest, RefusesWhatIsNoFolder) {
  testing::WriteFile(scratch_ / "file", "x");
  FolderWatcher watcher;
  for (const std::string& path : {scratch_ / "missing", scratch_ / "file"}) {
    FolderWatcher::Refusal refusal = FolderWatcher::Refusal::None;
    std::string problem;
    EXPECT_EQ(watcher.Add(path, refusal, problem), -1) << path;
    EXPECT_EQ(refusal, FolderWatcher::Refusal::Gone) << path;
  }
}

}  // namespace
}  // namespace korvane::server
