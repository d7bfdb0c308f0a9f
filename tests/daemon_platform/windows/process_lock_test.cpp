// The lock that lets one daemon run, held by this program started again as a
// helper: "hold-lock LOCK READY" takes the lock, makes the file READY and
// waits to be killed. This program's main is the helper's too.
#include "daemon/platform/process_lock.h"

#include "scratch.h"

#include <gtest/gtest.h>

#include <cwchar>

namespace korvane::server {
namespace {

// How a helper holding lock (ready made once it holds it) ended: 2 when it
// was refused, STILL_ACTIVE while it holds it.
DWORD Helper(const std::string& lock, const std::string& ready, HANDLE& process) {
  wchar_t program[MAX_PATH];
  GetModuleFileNameW(nullptr, program, MAX_PATH);
  std::wstring command = L"\"" + std::wstring(program) + L"\" hold-lock \"" + windows::Wide(lock) + L"\" \"" +
                         windows::Wide(ready) + L"\"";
  STARTUPINFOW startup{sizeof startup};
  PROCESS_INFORMATION started{};
  process = CreateProcessW(program, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started)
                ? started.hProcess
                : nullptr;
  if (process != nullptr) CloseHandle(started.hThread);
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

int wmain(int argc, wchar_t** argv) {
  using namespace korvane::server;
  if (argc == 4 && std::wcscmp(argv[1], L"hold-lock") == 0) {
    std::string problem;
    if (!HoldLock(windows::Narrow(argv[2]), problem)) return 2;
    korvane::server::testing::WriteFile(windows::Narrow(argv[3]), "held");
    Sleep(INFINITE);
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
