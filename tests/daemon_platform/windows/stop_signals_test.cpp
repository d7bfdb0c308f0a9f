#include "daemon/platform/stop_signals.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace korvane::server {
namespace {

// The wake-up's own waits are the folder watcher tests' (WaitReady).
TEST(StopSignals, TheSessionEndingIsAStopRequest) {
  SetEnvironmentVariableW(L"KORVANE_STOP_GRACE_MS", L"50");
  SetUpSignals();
  StopSignals signals;
  EXPECT_EQ(signals.Take(), std::nullopt);
  HWND window = FindWindowW(L"KorvaneBkgProcSession", nullptr);
  ASSERT_NE(window, nullptr) << "no window hears the session end (headless Wine needs Graphics=null)";
  PostMessageW(window, WM_ENDSESSION, TRUE, 0);
  EXPECT_EQ(WaitForSingleObject(reinterpret_cast<HANDLE>(signals.Handle()), 10000), WAIT_OBJECT_0);
  EXPECT_EQ(signals.Take(), "session ending");
  EXPECT_EQ(signals.Take(), std::nullopt);
  SetEnvironmentVariableW(L"KORVANE_STOP_GRACE_MS", nullptr);
}

}  // namespace
}  // namespace korvane::server
