// The trace writer and the link lock.
#include "runtime/apr_lock.h"
#include "runtime/debug_trace.h"

#include "support/debug_output_capture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace korvane::runtime {
namespace {

// The debugger output ends each record with a line feed when it lacks one,
// and a record is cut at 1023 characters.
TEST(DebugTrace, WritesExactlyTheFormattedTextCutAt1023Characters) {
  testing::DebugOutputCapture capture;
  KORVANE_TRACE("RefCount::Inc: RefCount::Inc() - refCount_ == %ld", 3L);
  KORVANE_TRACE("CDaemonLink::StartDaemon: Failed to start daemon\n");
  KORVANE_TRACE("%s", std::string(5000, 'x').c_str());
  EXPECT_EQ(capture.Records(), (std::vector<std::string>{"RefCount::Inc: RefCount::Inc() - refCount_ == 3\n",
                                                         "CDaemonLink::StartDaemon: Failed to start daemon\n",
                                                         std::string(1023, 'x') + "\n"}));
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

}  // namespace
}  // namespace korvane::runtime
