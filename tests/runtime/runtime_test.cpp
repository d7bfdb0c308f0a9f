// The trace writer.
#include "runtime/debug_trace.h"

#include "support/debug_output_capture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

}  // namespace
}  // namespace korvane::runtime
