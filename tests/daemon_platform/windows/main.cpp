// The daemon's platform tests, and the helper processes they start: a
// process that holds a lock until it is killed.
#include "daemon/platform/process_lock.h"

#include "daemon/base/windows/system_text.h"

#include "scratch.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

int wmain(int argc, wchar_t** argv) {
  // hold-lock LOCK READY: takes the lock, says so by making READY, waits.
  if (argc == 4 && std::wcscmp(argv[1], L"hold-lock") == 0) {
    std::string problem;
    if (!korvane::server::HoldLock(korvane::server::windows::Narrow(argv[2]), problem)) return 2;
    korvane::server::testing::WriteFile(korvane::server::windows::Narrow(argv[3]), "held");
    Sleep(INFINITE);
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
