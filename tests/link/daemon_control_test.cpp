// Starting the daemon program beside the library, asking it to stop, and the
// automatic start of the status query's channel.
#include "link/daemon_link.h"

#include "support/daemon_processes.h"
#include "support/debug_output_capture.h"
#include "support/runtime_folder.h"
#include "support/scripted_calls.h"
#include "support/test_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <thread>
#include <vector>

namespace korvane::link {
namespace {

using testing::Answer;

class DaemonControl : public ::testing::Test {
 protected:
  testing::ScopedRuntimeFolder folder_;
  testing::DaemonProcesses processes_{folder_.Path()};
  testing::ScriptedCalls calls_;

  // Makes the link look for its daemon in a folder that has none.
  void HideDaemonProgram() {
    std::u16string module(folder_.Path().begin(), folder_.Path().end());
    module += u"/libkorvane.so.1";
    calls_.moduleFileName = [module](LPWSTR name, DWORD) {
      module.copy(reinterpret_cast<char16_t*>(name), module.size());
      name[module.size()] = 0;
      return static_cast<DWORD>(module.size());
    };
  }
};

// The program beside the module file is what the automatic start reaches;
// without it, or without a module file name, the start fails and says so.
TEST_F(DaemonControl, MissingProgramFailsWithItsTraceLine) {
  for (const bool nameKnown : {true, false}) {
    SCOPED_TRACE(nameKnown ? "program missing" : "module file name unknown");
    HideDaemonProgram();
    if (!nameKnown) calls_.moduleFileName = [](LPWSTR, DWORD) { return DWORD{0}; };
    testing::DebugOutputCapture trace;
    EXPECT_FALSE(CDaemonLink(nullptr, calls_).StartDaemon());
    EXPECT_EQ(trace.Records(), std::vector<std::string>{"CDaemonLink::StartDaemon: Failed to start daemon\n"});
  }
  EXPECT_TRUE(testing::HasNoChildren());
}

struct StopCase {
  const char* name;
  Answer answer;
  bool delivered;
};

TEST_F(DaemonControl, StopCountsAnAnswerOrABrokenConnection) {
  const StopCase cases[] = {
      {"any reply", Answer::Reply("bye, and this text is ignored"), true},
      {"empty reply", Answer::Reply(""), true},
      {"broken connection", Answer::CloseWithoutReply(), true},
      {"no answer in time", Answer::Never(), false},
  };
  calls_.callNamedPipeCap = 200;
  for (const StopCase& c : cases) {
    SCOPED_TRACE(c.name);
    testing::TestServer daemon;
    daemon.On(254, c.answer);
    {
      CDaemonLink link(nullptr, calls_);
      EXPECT_EQ(link.StopDaemon(), c.delivered);
    }
    EXPECT_EQ(calls_.callNamedPipeLimits.back(), 20000u);
    ASSERT_TRUE(daemon.WaitUntil([](const auto& d) {
      auto connections = d.Connections();
      return connections.size() == 2 && connections[0].clientClosed;
    }));
    // The probe is the notification channel: it only carries the close
    // frame. The stop request travels on a connection of its own.
    auto connections = daemon.Connections();
    EXPECT_EQ(connections[0].frames, std::vector<std::string>{testing::MakeFrame(0)});
    EXPECT_EQ(connections[1].frames, std::vector<std::string>{testing::MakeFrame(254)});
  }
}

TEST_F(DaemonControl, AutomaticStartReachesTheNewDaemon) {
  CDaemonLink link(nullptr, calls_);
  EXPECT_FALSE(link.EnsurePipeOpenWithRetry(false));
  EXPECT_EQ(calls_.createProcessCalls, 0);

  ASSERT_TRUE(link.EnsurePipeOpenWithRetry(true));
  EXPECT_EQ(calls_.createProcessCalls, 1);
  ASSERT_TRUE(processes_.WaitForLines("start", 1));
  link.ClosePipe();
  EXPECT_TRUE(CDaemonLink(nullptr, calls_).StopDaemon());
  ASSERT_TRUE(processes_.WaitForLines("stop", 1));
  EXPECT_TRUE(testing::HasNoChildren());
}

// Every export and every menu makes a link of its own, so the hold-off must
// outlive the link: a shell asking for the status of every folder it shows
// starts one daemon, not one per folder.
TEST_F(DaemonControl, AutomaticStartIsHeldOffForTheWholeProcess) {
  std::atomic<int> starts = 0;
  calls_.createProcess = [&starts] {  // a daemon that starts and never serves
    ++starts;
    return TRUE;
  };
  EXPECT_FALSE(CDaemonLink(nullptr, calls_).EnsurePipeOpenWithRetry(true));
  EXPECT_EQ(starts, 1);

  // Links made one after another, and links racing on threads (each shell
  // thread with system calls of its own: the hold-off is all they share).
  for (int i = 0; i < 2; ++i) EXPECT_FALSE(CDaemonLink(nullptr, calls_).EnsurePipeOpenWithRetry(true));
  auto shellsRace = [&](DWORD tickOffset) {
    std::vector<std::thread> shells;
    for (int i = 0; i < 4; ++i) {
      shells.emplace_back([&] {
        testing::ScriptedCalls own;
        own.createProcess = calls_.createProcess;
        own.tickOffset = tickOffset;
        CDaemonLink(nullptr, own).EnsurePipeOpenWithRetry(true);
      });
    }
    for (auto& shell : shells) shell.join();
  };
  shellsRace(3000);
  EXPECT_EQ(starts, 1);

  // Ten seconds after the last start, one more, and again only one.
  shellsRace(3000 + 10001);
  EXPECT_EQ(starts, 2);
}

// Below medium integrity no start is tried; a start that failed holds
// nothing off.
TEST_F(DaemonControl, AutomaticStartNotTriedBelowMediumIntegrityAndRetriedAfterAFailure) {
  for (const bool low : {true, false}) {
    SCOPED_TRACE(low ? "low integrity" : "program missing");
    calls_ = {};
    if (low) calls_.ReportIntegrityLevel(SECURITY_MANDATORY_LOW_RID);
    else HideDaemonProgram();
    CDaemonLink link(nullptr, calls_);
    EXPECT_FALSE(link.EnsurePipeOpenWithRetry(true));
    EXPECT_FALSE(link.EnsurePipeOpenWithRetry(true));
    EXPECT_EQ(calls_.createProcessCalls, low ? 0 : 2);
  }
}

// The pipe's name is machine-wide, and another user's daemon may hold it. A
// daemon started then could not serve it: the call fails at once with
// ERROR_ACCESS_DENIED and the trace says why, whether the other user's pipe
// was there before the start or came up in its place. The one-way channel
// is refused the same way and nothing is sent. Every open asks for
// identification only: the server learns who calls but may not act with the
// caller's rights.
TEST_F(DaemonControl, PipeHeldByAnotherUserStartsNothingAndFailsAtOnce) {
  calls_.serverIsCallingUser = [] { return false; };
  for (const bool heldBefore : {true, false}) {
    SCOPED_TRACE(heldBefore ? "held before" : "taken during the start");
    calls_.createFileCalls = 0;
    std::optional<testing::TestServer> otherUsersDaemon;
    if (heldBefore) otherUsersDaemon.emplace();
    calls_.createProcess = [&] {
      otherUsersDaemon.emplace();
      return TRUE;
    };
    {
      testing::DebugOutputCapture trace;
      CDaemonLink link(nullptr, calls_);
      ::SetLastError(ERROR_SUCCESS);
      EXPECT_FALSE(link.EnsurePipeOpenWithRetry(true));
      EXPECT_EQ(::GetLastError(), DWORD{ERROR_ACCESS_DENIED});
      EXPECT_TRUE(link.PipeHeldByAnotherUser());
      const std::string refused =
          "CDaemonLink::InternalEnsurePipeOpen: the daemon pipe is served by a process of another user; refused\n";
      EXPECT_EQ(trace.Records(),
                heldBefore ? (std::vector<std::string>{refused,
                                                       "CDaemonLink::EnsurePipeOpenWithRetry: another user's process "
                                                       "holds the daemon pipe; no start\n"})
                           : std::vector<std::string>{refused});
      EXPECT_FALSE(link.PostCommand("C:/A", Command::ActivateKorvaneDialogs));
    }
    // One open of each channel that found the other user's pipe, after the
    // two attempts that found no pipe before the start.
    EXPECT_EQ(calls_.createFileCalls, heldBefore ? 2 : 4);
    for (DWORD flags : calls_.createFileFlags) {
      EXPECT_EQ(flags, FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION);
    }
    ASSERT_TRUE(otherUsersDaemon->WaitUntil([](const auto& d) {
      auto c = d.Connections();
      return c.size() == 2 && c[0].clientClosed && c[1].clientClosed;
    }));
    EXPECT_TRUE(otherUsersDaemon->Frames().empty());
  }
  calls_.serverIsCallingUser = nullptr;  // the real check: this process serves the pipe
  testing::TestServer ownDaemon;
  CDaemonLink link(nullptr, calls_);
  EXPECT_TRUE(link.EnsurePipeOpenWithRetry(true));
  EXPECT_FALSE(link.PipeHeldByAnotherUser());
}

}  // namespace
}  // namespace korvane::link
