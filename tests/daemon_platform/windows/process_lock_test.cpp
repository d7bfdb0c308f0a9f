#include "daemon/platform/process_lock.h"

#include "daemon/base/windows/system_text.h"

#include "scratch.h"

#include <gtest/gtest.h>

namespace korvane::server {
namespace {

using testing::ScratchFolder;

// A helper process that holds the lock; null when it never took it.
HANDLE StartHolder(const std::string& lock, const std::string& ready) {
  HANDLE holder = testing::StartHelper(L"hold-lock \"" + windows::Wide(lock) + L"\" \"" + windows::Wide(ready) + L"\"");
  if (holder != nullptr && testing::AwaitFile(ready, 20000)) return holder;
  if (holder != nullptr) {
    TerminateProcess(holder, 1);
    CloseHandle(holder);
  }
  return nullptr;
}

void Kill(HANDLE process) {
  TerminateProcess(process, 9);
  WaitForSingleObject(process, INFINITE);
  CloseHandle(process);
}

TEST(ProcessLock, ASecondDaemonIsRefusedUntilTheHolderDies) {
  ScratchFolder scratch;
  // The lock file names the session's mutex in any case, as Windows names
  // the file.
  const std::string lock = scratch / "daemon.lock";
  HANDLE holder = StartHolder(lock, scratch / "ready");
  ASSERT_NE(holder, nullptr);
  HANDLE second = testing::StartHelper(L"hold-lock \"" + windows::Wide(scratch / "DAEMON.LOCK") + L"\" \"" +
                                       windows::Wide(scratch / "second") + L"\"");
  ASSERT_NE(second, nullptr);
  ASSERT_EQ(WaitForSingleObject(second, 20000), WAIT_OBJECT_0);
  DWORD status = 0;
  GetExitCodeProcess(second, &status);
  CloseHandle(second);
  EXPECT_EQ(status, 2u);
  EXPECT_FALSE(testing::Exists(scratch / "second"));

  Kill(holder);
  std::string problem;
  EXPECT_TRUE(HoldLock(lock, problem)) << problem;
}

TEST(ProcessLock, TheFileLockAloneRefusesAnotherHolder) {
  // Another session's daemon has a mutex of its own; the file lock still
  // stands between them. A second handle in this process stands for it.
  ScratchFolder scratch;
  const std::string lock = scratch / "state.lock";
  HANDLE file = CreateFileW(windows::SystemPath(lock).c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  OVERLAPPED whole{};
  ASSERT_TRUE(LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &whole));
  std::string problem;
  EXPECT_FALSE(HoldLock(lock, problem));
  EXPECT_EQ(problem, lock + " is held by another daemon");
  CloseHandle(file);
  EXPECT_TRUE(HoldLock(lock, problem)) << problem;
}

}  // namespace
}  // namespace korvane::server
