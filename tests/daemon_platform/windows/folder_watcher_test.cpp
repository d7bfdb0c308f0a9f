#include "daemon/platform/folder_watcher.h"
#include "daemon/platform/wake_up.h"

#include "scratch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>

namespace korvane::server {
namespace {

using Event = FolderWatcher::Event;
using Kind = FolderWatcher::Kind;

class FolderWatcherTest : public ::testing::Test {
 protected:
  ~FolderWatcherTest() override { SetEnvironmentVariableW(L"KORVANE_WATCH_SWEEP_MS", nullptr); }

  int Watch(const std::string& folder) {
    FolderWatcher::Refusal refusal = FolderWatcher::Refusal::Failed;
    std::string problem;
    const int watch = watcher_.Add(folder, refusal, problem);
    EXPECT_EQ(refusal, FolderWatcher::Refusal::None) << folder << ": " << problem;
    return watch;
  }

  // Takes events as the sync thread does, waiting on the handle, until one
  // matches (or 10 s pass).
  bool Await(const std::function<bool(const Event&)>& matches) {
    WakeUp never;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < end) {
      bool ready = false;
      std::string problem;
      if (!WaitReady(watcher_.Handle(), never, std::chrono::milliseconds(100), ready, problem)) return false;
      for (const Event& event : watcher_.Take()) {
        if (matches(event)) return true;
      }
    }
    return false;
  }

  // A short sweep, set before the watcher is made: the test of a missed
  // change waits for it.
  const bool shortSweep_ = SetEnvironmentVariableW(L"KORVANE_WATCH_SWEEP_MS", L"200");
  testing::ScratchFolder scratch_;
  FolderWatcher watcher_;
};

TEST_F(FolderWatcherTest, ReportsEntriesOfTheTopFolderByKind) {
  testing::MakeFolder(scratch_ / "top");
  const int top = Watch(scratch_ / "top");
  const auto move = [&](const char* from, const char* to) {
    MoveFileW(windows::SystemPath(scratch_ / from).c_str(), windows::SystemPath(scratch_ / to).c_str());
  };
  const struct {
    std::function<void()> change;
    Kind kind;
    const char* name;
  } cases[] = {
      {[&] { testing::WriteFile(scratch_ / "top\\notes.txt", "x"); }, Kind::FileWritten, "notes.txt"},
      {[&] { testing::MakeFolder(scratch_ / "top\\new"); }, Kind::FolderAdded, "new"},
      // As programs save: a whole new file renamed to its name.
      {[&] { testing::WriteFile(scratch_ / "top\\draft.tmp", "y"), move("top\\draft.tmp", "top\\saved.txt"); },
       Kind::FileSaved, "saved.txt"},
      {[&] { move("top\\notes.txt", "away.txt"); }, Kind::Changed, "notes.txt"},
      {[&] { testing::WriteFile(scratch_ / "top\\r\xc3\xa9sum\xc3\xa9.txt", "z"); }, Kind::FileWritten,
       "r\xc3\xa9sum\xc3\xa9.txt"},
  };
  for (const auto& test : cases) {
    test.change();
    EXPECT_TRUE(Await([&](const Event& event) {
      return event.watch == top && event.kind == test.kind && event.name == test.name;
    })) << test.name;
  }
}

// What a recursive watch can miss (Wine does): a change in a folder that
// existed before the watch was armed. Its own watch reports it, or a sweep
// (Lost) makes the owner look at every folder.
TEST_F(FolderWatcherTest, AChangeInAFolderThatExistedBeforeIsNeverMissed) {
  testing::MakeFolder(scratch_ / "top");
  testing::MakeFolder(scratch_ / "top\\old");
  Watch(scratch_ / "top");
  const int old = Watch(scratch_ / "top\\old");
  while (!watcher_.Take().empty()) {
  }
  testing::WriteFile(scratch_ / "top\\old\\plan.txt", "x");
  EXPECT_TRUE(Await([&](const Event& event) {
    return event.kind == Kind::Lost || (event.watch == old && event.name == "plan.txt");
  }));
}

TEST_F(FolderWatcherTest, FoldersInAWatchedTreeShareItAndEndWithIt) {
  testing::MakeFolder(scratch_ / "top");
  const int top = Watch(scratch_ / "top");
  testing::MakeFolder(scratch_ / "top\\sub");
  const int sub = Watch(scratch_ / "top\\sub");
  EXPECT_NE(sub, top);
  // In another case and with the other separator it is the same folder.
  EXPECT_EQ(Watch(scratch_.Path() + "/TOP/Sub"), sub);
  testing::WriteFile(scratch_ / "top\\sub\\a.txt", "x");
  EXPECT_TRUE(Await([&](const Event& event) { return event.watch == sub && event.name == "a.txt"; }));
  DeleteFileW(windows::SystemPath(scratch_ / "top\\sub\\a.txt").c_str());
  RemoveDirectoryW(windows::SystemPath(scratch_ / "top\\sub").c_str());
  EXPECT_TRUE(Await([&](const Event& event) { return event.watch == sub && event.kind == Kind::Ended; }));
  watcher_.Remove(top);
  EXPECT_TRUE(Await([&](const Event& event) { return event.watch == top && event.kind == Kind::Ended; }));
}

}  // namespace
}  // namespace korvane::server
