// The exports as a program calls them: arguments as callers pass them, the
// three rules for handing texts out, and starting and stopping the daemon.
#include "korvane/korvane.h"

#include "support/daemon_processes.h"
#include "support/runtime_folder.h"
#include "support/test_server.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <thread>

namespace korvane::api {
namespace {

using namespace std::chrono_literals;
using testing::Answer;
using testing::MakeFrame;

char* const kUntouched = reinterpret_cast<char*>(0x1);
const KorvaneChar* const kPath = KORVANE_TEXT("/work/A");

std::string Taken(char*& buffer) {
  std::string text = buffer != nullptr && buffer != kUntouched ? buffer : "(null)";
  if (buffer != kUntouched) std::free(buffer);
  buffer = nullptr;
  return text;
}

class CommandExports : public ::testing::Test {
 protected:
  // The frames of the nth connection, once its client has closed it.
  std::vector<std::string> FramesOfConnection(std::size_t n) {
    daemon_.WaitUntil([n](const auto& d) {
      auto connections = d.Connections();
      return connections.size() >= n && connections[n - 1].clientClosed;
    });
    auto connections = daemon_.Connections();
    return connections.size() >= n ? connections[n - 1].frames : std::vector<std::string>{};
  }

  testing::ScopedRuntimeFolder folder_;
  testing::TestServer daemon_{testing::kWellKnownPipeName};
};

TEST_F(CommandExports, StatusHandsOutTheWholeRecord) {
  daemon_.Next(Answer::Reply("1|a|b|c", 5ms));
  char* status = kUntouched;
  EXPECT_EQ(Korvane_GetStatus(kPath, &status), 1);
  EXPECT_EQ(Taken(status), "1|a|b|c|");

  daemon_.Next(Answer::Reply("1|a|b|c", 5ms));
  EXPECT_EQ(Korvane_GetStatus(kPath, nullptr), 0);  // answered, but nowhere to put it
  status = kUntouched;
  EXPECT_EQ(Korvane_GetStatus(nullptr, &status), 0);
  EXPECT_EQ(status, kUntouched);
}

TEST_F(CommandExports, ActivationListFollowsTheSingleOutputRule) {
  daemon_.Next(Answer::Reply("/a|1\n/b|3", 5ms));
  daemon_.Next(Answer::Reply("", 5ms));
  daemon_.Next(Answer::Reply("/a|1", 5ms));
  char* list = kUntouched;
  EXPECT_EQ(Korvane_GetActivations(&list), 1);
  EXPECT_EQ(Taken(list), "/a|1\n/b|3");
  list = kUntouched;
  EXPECT_EQ(Korvane_GetActivations(&list), 1);
  EXPECT_EQ(list, nullptr);
  EXPECT_EQ(Korvane_GetActivations(nullptr), 0);
}

TEST_F(CommandExports, OneWayExportsCheckTheirArguments) {
  EXPECT_EQ(Korvane_ActivatePath(nullptr, 1), 0);
  EXPECT_EQ(Korvane_ActivatePath(kPath, 0), 0);
  EXPECT_EQ(Korvane_ActivatePath(kPath, 4), 0);
  EXPECT_EQ(Korvane_DeactivatePath(nullptr), 0);
  EXPECT_TRUE(daemon_.Connections().empty());

  EXPECT_EQ(Korvane_ActivatePath(kPath, 2), 1);
  EXPECT_EQ(FramesOfConnection(1),
            (std::vector<std::string>{MakeFrame(3, std::string("/work/A\0", 8)), MakeFrame(0)}));
  EXPECT_EQ(Korvane_Checkout(nullptr, nullptr, 255), 1);
  EXPECT_EQ(FramesOfConnection(2), (std::vector<std::string>{MakeFrame(8, std::string("||255\0", 6)), MakeFrame(0)}));
}

TEST_F(CommandExports, RepositoryExportsHandOutTheNormalisedVerdict) {
  daemon_.On(15, Answer::Reply("1|svnCommit|Conflict|0|", 5ms));
  char* result = kUntouched;
  EXPECT_EQ(Korvane_SvnCommit(kPath, &result), 1);
  EXPECT_EQ(Taken(result), "1|svnCommit|Conflict|0||");

  daemon_.Next(Answer::CloseWithoutReply(5ms));
  result = kUntouched;
  EXPECT_EQ(Korvane_RemoveTmpDir(kPath, &result), 1);
  EXPECT_EQ(result, nullptr);

  // Without an output address the work is still asked for, and the result is 0.
  std::size_t before = daemon_.Frames().size();
  EXPECT_EQ(Korvane_SvnCommit(kPath, nullptr), 0);
  EXPECT_EQ(daemon_.Frames().size(), before + 1);

  // Null inputs are empty texts.
  daemon_.Next(Answer::Reply("0|createRepo|ok|0|", 5ms));
  EXPECT_EQ(Korvane_CreateRepo(nullptr, &result), 1);
  Taken(result);
  EXPECT_EQ(daemon_.Frames().back(), MakeFrame(10, std::string(1, '\0')));
}

TEST_F(CommandExports, HostingExportsSkipMissingOutputs) {
  daemon_.Next(Answer::Reply("x|y|z", 5ms));
  EXPECT_EQ(Korvane_ShowSpace(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(daemon_.Frames().back(), MakeFrame(21, std::string("|||\0", 4)));

  daemon_.Next(Answer::Reply("only", 5ms));
  char* out[3] = {kUntouched, kUntouched, kUntouched};
  EXPECT_EQ(Korvane_ListSpaces(KORVANE_TEXT("a"), KORVANE_TEXT("b"), &out[0], &out[1], &out[2]), 1);
  EXPECT_EQ(Taken(out[0]), "only");
  EXPECT_EQ(Taken(out[1]), "Daemon is not running or connection to daemon timed out.");
  EXPECT_EQ(out[2], nullptr);

  daemon_.Next(Answer::CloseWithoutReply(5ms));
  out[0] = out[1] = out[2] = kUntouched;
  EXPECT_EQ(Korvane_Invite(KORVANE_TEXT("a"), KORVANE_TEXT("b"), KORVANE_TEXT("c"), KORVANE_TEXT("d"), &out[0], &out[1], &out[2]), 1);
  EXPECT_EQ(out[0], nullptr);
  EXPECT_EQ(out[1], nullptr);
  EXPECT_EQ(out[2], nullptr);
}

// An export whose payload the daemon splits at "|": an argument holding
// "|" gives 0, sends nothing (the daemon would see other arguments) and
// writes no output. The same call without the "|" goes out, so the refusal
// is the separator's and not the call's. That every command's payload
// refuses it is the protocol table's test; here one export of each family,
// the space list (which fills an output before it asks) and the checkout
// (which joins its arguments itself).
struct JoinedExport {
  const char* name;
  int32_t (*call)(const KorvaneChar* text, char** out);
};

const KorvaneChar* const kUnsplittable = KORVANE_TEXT("x|y");
const KorvaneChar* const kPlain = KORVANE_TEXT("xy");
char* unused[2];

const JoinedExport kJoinedExports[] = {
    {"ListSpaces", [](const KorvaneChar* t, char** o) { return Korvane_ListSpaces(kPlain, t, o, &unused[0], &unused[1]); }},
    {"Invite", [](const KorvaneChar* t, char** o) { return Korvane_Invite(kPlain, kPlain, kPlain, t, o, &unused[0], &unused[1]); }},
    {"SvnCommit", [](const KorvaneChar* t, char** o) { return Korvane_SvnCommit(t, o); }},
    {"Checkout", [](const KorvaneChar* t, char**) { return Korvane_Checkout(t, kPath, 1); }},
};

TEST_F(CommandExports, ArgumentsHoldingTheSeparatorAreNotSent) {
  for (std::uint32_t code : {20, 26}) daemon_.On(code, Answer::Reply("a|b|c", 1ms));
  daemon_.On(15, Answer::Reply("0|op|m|0|d|", 1ms));
  for (const JoinedExport& e : kJoinedExports) {
    SCOPED_TRACE(e.name);
    char* out = kUntouched;
    unused[0] = unused[1] = kUntouched;
    const std::size_t before = daemon_.Frames().size();
    EXPECT_EQ(e.call(kUnsplittable, &out), 0);
    EXPECT_EQ(out, kUntouched);
    EXPECT_EQ(unused[0], kUntouched);
    EXPECT_EQ(daemon_.Frames().size(), before);
    e.call(kPlain, &out);
    daemon_.WaitUntil([before](const auto& d) { return d.Frames().size() > before; });
    EXPECT_GT(daemon_.Frames().size(), before);
    Taken(out);
    Taken(unused[0]);
    Taken(unused[1]);
  }
}

// The text is handed out in a buffer of its own, cut at its NUL, or null
// when there is none; null arguments still ask, with an empty key.
struct ErrorTextCase {
  const char* name;
  const char* key;
  Answer answer;
  std::optional<std::string> text;  // nullopt: no output address
  std::string frame;
};

TEST_F(CommandExports, ErrorTextIsHandedOutExactlyOrAsNull) {
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
      EXPECT_EQ(Taken(text), *c.text);
    }
    EXPECT_EQ(daemon_.Frames().back(), c.frame);
  }
}

TEST(DaemonControlExports, StartTwiceStartsTwoProcessesAndLeavesNoZombie) {
  testing::ScopedRuntimeFolder folder;
  testing::DaemonProcesses processes(folder.Path(), testing::kWellKnownPipeName);
  EXPECT_EQ(Korvane_StartDaemon(), 1);
  ASSERT_TRUE(processes.WaitForLines("start", 1));
  EXPECT_EQ(Korvane_StartDaemon(), 1);
  ASSERT_TRUE(processes.WaitForLines("duplicate", 1));
  EXPECT_EQ(Korvane_StopDaemon(), 1);
  ASSERT_TRUE(processes.WaitForLines("stop", 1));
  EXPECT_TRUE(testing::HasNoChildren());
}

TEST(CommandExportsWithoutDaemon, FailAndLeaveOutputsAlone) {
  testing::ScopedRuntimeFolder folder;
  char* out[3] = {kUntouched, kUntouched, kUntouched};
  EXPECT_EQ(Korvane_GetActivations(&out[0]), 0);
  EXPECT_EQ(Korvane_ActivatePath(kPath, 1), 0);
  EXPECT_EQ(Korvane_Checkout(KORVANE_TEXT("u"), kPath, 1), 0);
  EXPECT_EQ(Korvane_SvnAdd(kPath, &out[0]), 0);
  EXPECT_EQ(Korvane_FindUsers(KORVANE_TEXT("a"), KORVANE_TEXT("b"), &out[0], &out[1], &out[2]), 0);
  EXPECT_EQ(Korvane_GetErrorText("k", &out[1]), 0);
  EXPECT_EQ(Korvane_StopDaemon(), 0);
  for (char* output : out) EXPECT_EQ(output, kUntouched);
}

// Many callers at once, each with its own link: every answer reaches the
// caller that asked. The daemon keeps enough instances for all of them (a
// busy pipe fails after two attempts by design).
TEST(CommandExportsConcurrently, EachCallerGetsItsOwnAnswers) {
  testing::ScopedRuntimeFolder folder;
  testing::TestServer daemon_("DalvDaemonCommand", 128);
  daemon_.On(6, Answer::Reply("activations"));
  daemon_.On(14, Answer::Reply("0|svnAdd|done|0|"));
  daemon_.On(21, Answer::Reply("space|owner|url"));
  constexpr int kThreads = 16;
  constexpr int kCallsPerThread = 200;
  std::vector<int> wrong(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &wrong] {
      for (int i = 0; i < kCallsPerThread; ++i) {
        char* out[3] = {};
        bool right = false;
        switch ((t + i) % 4) {
          case 0:
            right = Korvane_GetActivations(&out[0]) == 1 && Taken(out[0]) == "activations";
            break;
          case 1:
            right = Korvane_SvnAdd(kPath, &out[0]) == 1 && Taken(out[0]) == "0|svnAdd|done|0||";
            break;
          case 2:
            right = Korvane_ShowSpace(KORVANE_TEXT("a"), KORVANE_TEXT("b"), KORVANE_TEXT("c"), &out[0], &out[1], &out[2]) == 1 && Taken(out[0]) == "space" &&
                    Taken(out[1]) == "owner" && Taken(out[2]) == "url";
            break;
          case 3:
            right = Korvane_DeactivatePath(kPath) == 1;
            break;
        }
        if (!right) ++wrong[t];
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong, std::vector<int>(kThreads, 0));
}

}  // namespace
}  // namespace korvane::api
