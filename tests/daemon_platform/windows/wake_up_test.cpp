#include "daemon/platform/stop_signals.h"
#include "daemon/platform/wake_up.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace korvane::server {
namespace {

using std::chrono::milliseconds;

TEST(WakeUp, StaysReadyUntilTakenAndCountsRaises) {
  WakeUp watched;
  WakeUp wakeUp;
  bool ready = true;
  std::string problem;
  ASSERT_TRUE(WaitReady(watched.Handle(), wakeUp, milliseconds(0), ready, problem)) << problem;
  EXPECT_FALSE(ready);
  watched.Raise();
  watched.Raise();
  ASSERT_TRUE(WaitReady(watched.Handle(), wakeUp, milliseconds(1000), ready, problem)) << problem;
  EXPECT_TRUE(ready);
  EXPECT_EQ(watched.Take(), 2u);
  EXPECT_EQ(watched.Take(), 0u);
  wakeUp.Raise();  // ends the wait at once; the watched one is not ready
  ASSERT_TRUE(WaitReady(watched.Handle(), wakeUp, milliseconds(10000), ready, problem)) << problem;
  EXPECT_FALSE(ready);
}

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
