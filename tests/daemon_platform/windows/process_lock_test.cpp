#include "daemon/platform/process_lock.h"

#include "scratch.h"

#include <gtest/gtest.h>

namespace korvane::server {
namespace {

// How a helper holding lock (ready made once it holds it) ended: 2 when it
// was refused, STILL_ACTIVE while it holds it.
DWORD Helper(const std::string& lock, const std::string& ready, HANDLE& process) {
  process = testing::StartHelper(L"hold-lock \"" + windows::Wide(lock) + L"\" \"" + windows::Wide(ready) + L"\"");
  for (int waited = 0; process != nullptr && waited < 2000 && !testing::Exists(ready); ++waited) {
    if (WaitForSingleObject(process, 10) == WAIT_OBJECT_0) break;
  }
  DWORD status = 0;
  GetExitCodeProcess(process, &status);
  return status;
}

TEST(ProcessLock, ASecondDaemonIsRefusedUntilTheHolderDies) {
  testing::ScratchFolder scratch;
  HANDLE holder = nullptr;
  HANDLE second = nullptr;
  ASSERT_EQ(Helper(scratch / "daemon.lock", scratch / "ready", holder), STILL_ACTIVE);
  // The same file in another case is the same lock, as Windows names it.
  EXPECT_EQ(Helper(scratch / "DAEMON.LOCK", scratch / "second", second), 2u);
  TerminateProcess(holder, 9);
  WaitForSingleObject(holder, INFINITE);
  std::string problem;
  EXPECT_TRUE(HoldLock(scratch / "daemon.lock", problem)) << problem;
  CloseHandle(holder);
  CloseHandle(second);
}

}  // namespace
}  // namespace korvane::server
