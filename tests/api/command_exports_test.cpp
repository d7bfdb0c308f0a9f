// The exports as a program calls them: arguments as callers pass them, the
// three rules for handing texts out, and starting and stopping the daemon.
#include "korvane/korvane.h"

#include "support/daemon_processes.h"
#include "support/runtime_folder.h"
#include "support/test_server.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <optional>
#include <ranges>
#include <thread>

namespace korvane::api {
namespace {

using testing::Answer;
using testing::MakeFrame;

using protocol::Command;

char* const kUntouched = reinterpret_cast<char*>(0x1);
const KorvaneChar* const kPath = KORVANE_TEXT("/work/A");
const KorvaneChar* const kA = KORVANE_TEXT("a");
const KorvaneChar* const kUnsplittable = KORVANE_TEXT("x|y");

// What an output holds, freeing it: its text, "(null)" or "(untouched)".
std::string Taken(char*& buffer) {
  std::string text = buffer == kUntouched ? "(untouched)" : buffer != nullptr ? buffer : "(null)";
  if (buffer != kUntouched) std::free(buffer);
  buffer = nullptr;
  return text;
}

// A request frame whose payload ends in its NUL.
std::string Request(Command command, std::optional<std::string_view> payload = std::nullopt) {
  return MakeFrame(protocol::CodeOf(command), payload ? std::string(*payload) + '\0' : std::string());
}

// One export called once: what it sends, what it returns and what it hands
// out. Null texts go out as empty ones; a text holding the separator "|",
// which the daemon would read as further arguments, sends nothing and
// writes no output (that every payload refuses it is the protocol table's
// test; here the exports that fill an output before asking, or join their
// arguments themselves).
struct ExportCase {
  const char* name;
  std::function<int32_t(char** out)> call;  // out: three outputs, kUntouched before the call
  std::optional<Answer> answer;             // for the request; none for one-way exports
  int32_t result;
  std::vector<std::string> outputs;  // what out[0], out[1], ... hold afterwards
  std::optional<std::string> request;  // the frame sent, close frames aside; nullopt: none
};

TEST(CommandExports, SendReturnAndHandOutByTheirFamilysRules) {
  testing::ScopedRuntimeFolder folder;
  testing::TestServer daemon{testing::kWellKnownPipeName};
  const std::string list = "/a|1\n/b|3";
  const std::string unreachable = "Daemon is not running or connection to daemon timed out.";
  const ExportCase cases[] = {
      {"status", [](char** o) { return Korvane_GetStatus(kPath, o); }, Answer::Reply("1|a|b|c"), 1, {"1|a|b|c|"},
       Request(Command::GetStatus, "/work/A")},
      {"status, nowhere to put it", [](char**) { return Korvane_GetStatus(kPath, nullptr); },
       Answer::Reply("1|a|b|c"), 0, {}, Request(Command::GetStatus, "/work/A")},
      {"status of no path", [](char** o) { return Korvane_GetStatus(nullptr, o); }, {}, 0, {"(untouched)"},
       std::nullopt},
      {"activations", [](char** o) { return Korvane_GetActivations(o); }, Answer::Reply(list), 1, {list},
       Request(Command::GetActivations)},
      {"no activations", [](char** o) { return Korvane_GetActivations(o); }, Answer::Reply(""), 1, {"(null)"},
       Request(Command::GetActivations)},
      {"activations, nowhere to put them", [](char**) { return Korvane_GetActivations(nullptr); },
       Answer::Reply(list), 0, {}, Request(Command::GetActivations)},
      {"activation of no path", [](char**) { return Korvane_ActivatePath(nullptr, 1); }, {}, 0, {}, std::nullopt},
      {"activation mode 0", [](char**) { return Korvane_ActivatePath(kPath, 0); }, {}, 0, {}, std::nullopt},
      {"activation mode 4", [](char**) { return Korvane_ActivatePath(kPath, 4); }, {}, 0, {}, std::nullopt},
      {"deactivation of no path", [](char**) { return Korvane_DeactivatePath(nullptr); }, {}, 0, {}, std::nullopt},
      {"activation mode 2", [](char**) { return Korvane_ActivatePath(kPath, 2); }, {}, 1, {},
       Request(Command::ActivateTortoiseSvnDialogs, "/work/A")},
      {"checkout of null texts", [](char**) { return Korvane_Checkout(nullptr, nullptr, 255); }, {}, 1, {},
       Request(Command::Checkout, "||255")},
      {"checkout with a separator", [](char**) { return Korvane_Checkout(kUnsplittable, kPath, 1); }, {}, 0, {},
       std::nullopt},
      // Without an output address the work is still asked for, and the result is 0.
      {"commit, nowhere to put the verdict", [](char**) { return Korvane_SvnCommit(kPath, nullptr); },
       Answer::Reply("0|svnCommit|done|0|"), 0, {}, Request(Command::SvnCommit, "/work/A|")},
      {"commit with a separator", [](char** o) { return Korvane_SvnCommit(kUnsplittable, o); }, {}, 0,
       {"(untouched)"}, std::nullopt},
      {"silent repository command", [](char** o) { return Korvane_RemoveTmpDir(kPath, o); },
       Answer::CloseWithoutReply(), 1, {"(null)"}, Request(Command::RemoveTmpDir, "/work/A|")},
      {"repository of a null text", [](char** o) { return Korvane_CreateRepo(nullptr, o); },
       Answer::Reply("0|createRepo|ok|0|"), 1, {"0|createRepo|ok|0||"}, Request(Command::CreateRepo, "")},
      {"space of null texts, nowhere to put it",
       [](char**) { return Korvane_ShowSpace(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr); },
       Answer::Reply("x|y|z"), 1, {}, Request(Command::ShowSpace, "|||")},
      {"space list", [](char** o) { return Korvane_ListSpaces(kA, kA, &o[0], &o[1], &o[2]); },
       Answer::Reply("only"), 1, {"only", unreachable, "(null)"}, Request(Command::ListSpaces, "a|a|")},
      {"space list with a separator",
       [](char** o) { return Korvane_ListSpaces(kA, kUnsplittable, &o[0], &o[1], &o[2]); }, {}, 0,
       {"(untouched)", "(untouched)", "(untouched)"}, std::nullopt},
      {"silent invitation", [](char** o) { return Korvane_Invite(kA, kA, kA, kA, &o[0], &o[1], &o[2]); },
       Answer::CloseWithoutReply(), 1, {"(null)", "(null)", "(null)"}, Request(Command::Invite, "a|a|a|a|")},
      {"invitation with a separator",
       [](char** o) { return Korvane_Invite(kA, kA, kA, kUnsplittable, &o[0], &o[1], &o[2]); }, {}, 0,
       {"(untouched)", "(untouched)", "(untouched)"}, std::nullopt},
      // The error text is handed out cut at its NUL, or as null when there is none.
      {"error text", [](char** o) { return Korvane_GetErrorText("E42", o); },
       Answer::Reply(std::string("Disk full\0ignored", 17)), 1, {"Disk full"},
       Request(Command::GetErrorText, "E42")},
      {"empty error text", [](char** o) { return Korvane_GetErrorText("k", o); }, Answer::Reply(""), 1, {"(null)"},
       Request(Command::GetErrorText, "k")},
      {"error text starting with NUL", [](char** o) { return Korvane_GetErrorText("k", o); },
       Answer::Reply(std::string("\0x", 2)), 1, {"(null)"}, Request(Command::GetErrorText, "k")},
      {"error text of no key, nowhere to put it", [](char**) { return Korvane_GetErrorText(nullptr, nullptr); },
       Answer::Reply("text"), 1, {}, Request(Command::GetErrorText, "")},
  };
  // A request sent by mistake is closed at once rather than waited for.
  for (const protocol::CommandInfo& info : protocol::kCommands) {
    if (info.channel != protocol::Channel::Request) continue;
    daemon.On(protocol::CodeOf(info.command), Answer::CloseWithoutReply());
  }
  for (const ExportCase& c : cases) {
    SCOPED_TRACE(c.name);
    // Answered by code, not by a one-shot answer: a one-way frame or close
    // frame of an earlier case, still on its way, must not take it.
    if (c.request && c.answer) daemon.On(*testing::FrameCode(*c.request), *c.answer);
    const std::size_t before = daemon.Frames().size();
    char* out[3] = {kUntouched, kUntouched, kUntouched};
    EXPECT_EQ(c.call(out), c.result);
    const std::vector<std::string> expected = c.request ? std::vector{*c.request} : std::vector<std::string>{};
    std::vector<std::string> requests;
    // A one-way frame may reach the daemon after the call returns.
    daemon.WaitUntil([&](const auto& d) {
      requests.clear();
      for (const std::string& frame : d.Frames() | std::views::drop(before)) {
        if (testing::FrameCode(frame) != protocol::CodeOf(Command::Close)) requests.push_back(frame);
      }
      return requests == expected;
    });
    EXPECT_EQ(requests, expected);
    for (std::size_t i = 0; i < c.outputs.size(); ++i) EXPECT_EQ(Taken(out[i]), c.outputs[i]) << "output " << i + 1;
    for (char*& output : out) Taken(output);
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
  testing::TestServer daemon("DalvDaemonCommand", 128);
  daemon.On(6, Answer::Reply("activations"));
  daemon.On(14, Answer::Reply("0|svnAdd|done|0|"));
  daemon.On(21, Answer::Reply("space|owner|url"));
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
            right = Korvane_ShowSpace(kA, kA, kA, &out[0], &out[1], &out[2]) == 1 && Taken(out[0]) == "space" &&
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
