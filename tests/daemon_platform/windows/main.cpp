// The daemon's platform tests, and the helper they start: "hold-lock LOCK
// READY" takes the lock, makes the file READY and waits to be killed.
#include "daemon/platform/process_lock.h"

#include "scratch.h"

#include <gtest/gtest.h>

#include <cwchar>

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
