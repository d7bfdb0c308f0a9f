// The trace writer, the APR runtime, the link lock, and the module entry with
// its load-time list, which ran when this program loaded the library's code.
#include "runtime/apr_lock.h"
#include "runtime/apr_runtime.h"
#include "runtime/debug_trace.h"
#include "runtime/module_handle.h"
#include "text/processor_features.h"

#include "support/debug_output_capture.h"
#include "support/runtime_folder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved);

namespace korvane::runtime {
namespace {

TEST(DebugTrace, WritesExactlyTheFormattedText) {
  testing::DebugOutputCapture capture;
  KORVANE_TRACE("RefCount::Inc: RefCount::Inc() - refCount_ == %ld", 3L);
  KORVANE_TRACE("CDaemonLink::StartDaemon: Failed to start daemon\n");
  // The debugger output ends each record with a line feed when it lacks one.
  EXPECT_EQ(capture.Records(), (std::vector<std::string>{"RefCount::Inc: RefCount::Inc() - refCount_ == 3\n",
                                                         "CDaemonLink::StartDaemon: Failed to start daemon\n"}));
}

TEST(DebugTrace, CutsALongLineAt1023Characters) {
  testing::DebugOutputCapture capture;
  const std::string longText(5000, 'x');
  KORVANE_TRACE("%s", longText.c_str());
  ASSERT_EQ(capture.Records().size(), 1u);
  EXPECT_EQ(capture.Records()[0], std::string(1023, 'x') + "\n");
}

TEST(DebugTrace, ThreadsRacingForTheFirstUseShareOneWriter) {
  std::vector<DebugTrace*> seen(8);
  std::vector<std::thread> threads;
  for (auto& slot : seen) threads.emplace_back([&slot] { slot = &DebugTrace::Instance(); });
  for (auto& thread : threads) thread.join();
  for (DebugTrace* writer : seen) EXPECT_EQ(writer, &DebugTrace::Instance());
}

TEST(AprRuntime, InitialiseIsIdempotent) {
  // The library's load hook brought APR up already.
  EXPECT_TRUE(AprRuntime::Initialize());
  EXPECT_TRUE(AprRuntime::Initialize());
}

TEST(AprLock, IsRecursiveAndHeldUntilTheOutermostRelease) {
  AprCriticalSection section;
  std::atomic<bool> otherHasIt{false};
  std::thread other;
  {
    AprLock outer(section);
    {
      AprLock inner(section);
      other = std::thread([&] {
        AprLock lock(section);
        otherHasIt = true;
      });
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(otherHasIt);
  }
  other.join();
  EXPECT_TRUE(otherHasIt);
}

TEST(ModuleEntry, LoadTimeListStartedEveryLayer) {
  EXPECT_NE(ModuleHandle(), nullptr);
  EXPECT_TRUE(AprRuntime::Initialize());
  // The converters take their vector path wherever the processor has one,
  // without anyone but the module entry asking.
  EXPECT_EQ(text::ProcessorHasSse2(), IsProcessorFeaturePresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE) != FALSE);
#if defined(__x86_64__) || defined(_M_X64)
  EXPECT_TRUE(text::ProcessorHasSse2());
#endif
}

TEST(ModuleEntry, ThreadNotificationsChangeNothing) {
  HMODULE module = ModuleHandle();
  EXPECT_NE(module, nullptr);
  EXPECT_EQ(DllMain(module, DLL_THREAD_ATTACH, nullptr), TRUE);
  EXPECT_EQ(DllMain(module, DLL_THREAD_DETACH, nullptr), TRUE);
  EXPECT_EQ(ModuleHandle(), module);
  EXPECT_TRUE(AprRuntime::Initialize());
}

}  // namespace
}  // namespace korvane::runtime
