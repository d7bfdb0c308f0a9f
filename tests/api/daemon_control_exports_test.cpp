// The daemon-control exports as a program calls them: results, handed-out
// buffers and what went over the wire.
#include "korvane/korvane.h"

#include "support/daemon_processes.h"
#include "support/runtime_folder.h"
#include "support/test_daemon.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

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

// The text is handed out in a buffer of its own, cut at its NUL, or null
// when there is none; null arguments still ask, with an empty key.
struct ErrorTextCase {
  const char* name;
  const char* key;
  Answer answer;
  std::optional<std::string> text;  // nullopt: no output address
  std::string frame;
};

TEST_F(ExportsWithDaemon, ErrorTextIsHandedOutExactlyOrAsNull) {
  const ErrorTextCase cases[] = {
      {"text", "E42", Answer::Reply(std::string("Disk full\0ignored", 17), 10ms), "Disk full",
       MakeFrame(23, std::string("E42\0", 4))},
      {"empty reply", "k", Answer::Reply("", 10ms), "(null)", MakeFrame(23, std::string("k\0", 2))},
      {"reply starting with NUL", "k", Answer::Reply(std::string("\0x", 2), 10ms), "(null)",
       MakeFrame(23, std::string("k\0", 2))},
      {"closed without reply", "k", Answer::CloseWithoutReply(10ms), "(null)", MakeFrame(23, std::string("k\0", 2))},
      {"null arguments", nullptr, Answer::Reply("text", 10ms), std::nullopt, std::string("\x09\0\0\0\x17\0\0\0\0", 9)},
  };
  for (const ErrorTextCase& c : cases) {
    SCOPED_TRACE(c.name);
    daemon_.Next(c.answer);
    char* text = kUntouched;
    EXPECT_EQ(Korvane_GetErrorText(c.key, c.text ? &text : nullptr), 1);
    if (c.text) {
      EXPECT_EQ(text != nullptr ? std::string(text) : "(null)", *c.text);
      std::free(text);
    }
    EXPECT_EQ(daemon_.Frames().back(), c.frame);
  }
}

TEST_F(Exports, WithoutDaemonNothingIsTouched) {
  char* text = kUntouched;
  EXPECT_EQ(Korvane_GetErrorText("k", &text), 0);
  EXPECT_EQ(text, kUntouched);
  EXPECT_EQ(Korvane_StopDaemon(), 0);
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
