// The daemon-control exports as a program calls them: results, handed-out
// buffers and what went over the wire.
#include "korvane/korvane.h"

#include "support/daemon_processes.h"
#include "support/runtime_folder.h"
#include "support/test_daemon.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace korvane::api {
namespace {

using namespace std::chrono_literals;
using testing::Answer;
using testing::MakeFrame;

char* const kUntouched = reinterpret_cast<char*>(0x1);

class Exports : public ::testing::Test {
 protected:
  testing::ScopedRuntimeFolder folder_;
};

class ExportsWithDaemon : public Exports {
 protected:
  testing::TestDaemon daemon_{testing::kWellKnownPipeName};
};

TEST_F(ExportsWithDaemon, ErrorTextIsHandedOutInAnExactBuffer) {
  daemon_.On(23, Answer::Reply(std::string("Disk full\0ignored", 17), 10ms));
  char* text = kUntouched;
  ASSERT_EQ(Korvane_GetErrorText("E42", &text), 1);
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text, "Disk full");
  std::free(text);
  EXPECT_EQ(daemon_.Frames(), std::vector<std::string>{MakeFrame(23, std::string("E42\0", 4))});
}

struct ErrorTextCase {
  const char* name;
  Answer answer;
};

TEST_F(ExportsWithDaemon, ErrorTextWithoutTextHandsOutNull) {
  const ErrorTextCase cases[] = {
      {"empty reply", Answer::Reply("", 10ms)},
      {"reply starting with NUL", Answer::Reply(std::string("\0x", 2), 10ms)},
      {"closed without reply", Answer::CloseWithoutReply(10ms)},
  };
  for (const ErrorTextCase& c : cases) {
    SCOPED_TRACE(c.name);
    daemon_.Next(c.answer);
    char* text = kUntouched;
    EXPECT_EQ(Korvane_GetErrorText("k", &text), 1);
    EXPECT_EQ(text, nullptr);
  }
}

TEST_F(ExportsWithDaemon, ErrorTextWithNullArgumentsStillAsks) {
  daemon_.On(23, Answer::Reply("text", 10ms));
  EXPECT_EQ(Korvane_GetErrorText(nullptr, nullptr), 1);
  EXPECT_EQ(daemon_.Frames(), std::vector<std::string>{std::string("\x09\0\0\0\x17\0\0\0\0", 9)});
}

TEST_F(Exports, WithoutDaemonNothingIsTouched) {
  char* text = kUntouched;
  EXPECT_EQ(Korvane_GetErrorText("k", &text), 0);
  EXPECT_EQ(text, kUntouched);
  EXPECT_EQ(Korvane_StopDaemon(), 0);
}

TEST_F(ExportsWithDaemon, StopIsDeliveredAndTheProbeClosesCleanly) {
  EXPECT_EQ(Korvane_StopDaemon(), 1);
  ASSERT_TRUE(daemon_.WaitUntil([](const auto& d) {
    auto connections = d.Connections();
    return connections.size() == 2 && connections[0].clientClosed;
  }));
  EXPECT_EQ(daemon_.Connections()[0].frames, std::vector<std::string>{MakeFrame(0)});
}

TEST_F(Exports, StartTwiceStartsTwoProcessesAndLeavesNoZombie) {
  testing::DaemonProcesses processes(folder_.Path(), testing::kWellKnownPipeName);
  EXPECT_EQ(Korvane_StartDaemon(), 1);
  ASSERT_TRUE(processes.WaitForLines("start", 1));
  EXPECT_EQ(Korvane_StartDaemon(), 1);
  ASSERT_TRUE(processes.WaitForLines("duplicate", 1));
  EXPECT_EQ(Korvane_StopDaemon(), 1);
  ASSERT_TRUE(processes.WaitForLines("stop", 1));
  EXPECT_TRUE(testing::HasNoChildren());
}

}  // namespace
}  // namespace korvane::api
