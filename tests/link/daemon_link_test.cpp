// The daemon link against a real daemon on the real transport: what goes
// over the wire, how replies are assembled, and what every failure leaves.
#include "link/daemon_link.h"

#include "support/debug_output_capture.h"
#include "support/runtime_folder.h"
#include "support/scripted_calls.h"
#include "support/test_server.h"

#include <gtest/gtest.h>

#include <functional>
#include <thread>

namespace korvane::link {
namespace {

using namespace std::chrono_literals;
using testing::Answer;

constexpr auto kActivations = static_cast<std::uint32_t>(Command::GetActivations);

class DaemonLinkTest : public ::testing::Test {
 protected:
  testing::ScopedRuntimeFolder folder_;
  testing::ScriptedCalls calls_;
};

class WithDaemon : public DaemonLinkTest {
 protected:
  WithDaemon() { calls_.waitCap = 2000; }
  testing::TestServer daemon_;
};

struct ReplyCase {
  const char* name;
  std::string sent;
  std::string text;
};

TEST_F(WithDaemon, ReplyTextIsFirstByteAndRestUpToNul) {
  const ReplyCase cases[] = {
      {"one byte", "k", "k"},
      {"empty message", "", std::string(1, '\0')},
      {"fields", "1|a|b|c", "1|a|b|c"},
      {"cut at a NUL after the first byte", std::string("ab\0cd", 5), "ab"},
      {"first byte NUL stays", std::string("\0ab", 3), std::string("\0ab", 3)},
      {"long", std::string(60000, 'L'), std::string(60000, 'L')},
  };
  for (const ReplyCase& c : cases) {
    SCOPED_TRACE(c.name);
    daemon_.Next(Answer::Reply(c.sent, 20ms));
    CDaemonLink link(nullptr, calls_);
    Exchange exchange = link.TransactCommand(Command::GetActivations, std::nullopt, TimeLimitClass::LocalCall);
    EXPECT_EQ(exchange.end, ExchangeEnd::Replied);
    EXPECT_EQ(exchange.reply, c.text);
  }
}

TEST_F(WithDaemon, ImmediateOneByteReplyNeedsNoWait) {
  calls_.transact = [](LPVOID out, LPDWORD read) {
    *static_cast<char*>(out) = 'z';
    *read = 1;
    return TRUE;
  };
  CDaemonLink link(nullptr, calls_);
  Exchange exchange = link.TransactCommand(Command::GetActivations, std::nullopt, TimeLimitClass::LocalCall);
  EXPECT_EQ(exchange.reply, "z");
  EXPECT_TRUE(calls_.waitLimits.empty());
}

TEST_F(WithDaemon, TimeOutClosesTheChannelAndTheNextCommandReconnects) {
  calls_.waitCap = 100;
  daemon_.Next(Answer::Never());
  daemon_.On(kActivations, Answer::Reply("late enough", 20ms));
  CDaemonLink link(nullptr, calls_);
  Exchange timedOut = link.TransactCommand(Command::GetActivations, std::nullopt, TimeLimitClass::LocalCall);
  EXPECT_EQ(timedOut.end, ExchangeEnd::WaitTimedOut);
  EXPECT_EQ(timedOut.systemError, WAIT_TIMEOUT);

  EXPECT_EQ(link.TransactCommand(Command::GetActivations, std::nullopt, TimeLimitClass::LocalCall).reply,
            "late enough");
  EXPECT_EQ(daemon_.Connections().size(), 2u);
}

// What each way an exchange can go wrong leaves: the end it reports, the
// system error it carries, the trace it writes, and whether the link closed
// the channel itself.
struct FailureCase {
  const char* name;
  std::function<void(testing::TestServer&, testing::ScriptedCalls&)> script;
  ExchangeEnd end;
  DWORD systemError;
  std::vector<std::string> trace;
  bool closes;
};

TEST_F(WithDaemon, EachFailureReportsItsEnd) {
  const FailureCase cases[] = {
      {"silent close", [](auto& d, auto&) { d.On(kActivations, Answer::CloseWithoutReply(20ms)); },
       ExchangeEnd::ClosedWithoutReply, 0, {}, false},
      {"failed wait",
       [](auto& d, auto& c) {
         d.On(kActivations, Answer::Never());
         c.wait = [] { return WAIT_FAILED; };
       },
       ExchangeEnd::WaitFailed, ERROR_IO_PENDING, {}, true},
      {"transaction fails at once",
       [](auto&, auto& c) {
         c.transact = [](LPVOID, LPDWORD) {
           SetLastError(ERROR_NO_DATA);
           return FALSE;
         };
       },
       ExchangeEnd::TransactionFailed, ERROR_NO_DATA, {}, false},
      {"peek finds nothing",
       [](auto& d, auto& c) {
         d.On(kActivations, Answer::Reply("more than a byte", 20ms));
         c.peek = [](LPDWORD available) {
           *available = 0;
           return TRUE;
         };
       },
       ExchangeEnd::ReadFailed, 0, {}, false},
      {"event cannot be made", [](auto&, auto& c) { c.createEvent = [] { return HANDLE{nullptr}; }; },
       ExchangeEnd::NotConnected, 0, {"CDaemonLink::EnsurePipeOpen: CreateEvent failed\n"}, true},
      {"message mode refused", [](auto&, auto& c) { c.setPipeState = [] { return FALSE; }; },
       ExchangeEnd::NotConnected, 0, {"CDaemonLink::InternalEnsurePipeOpen: SetNamedPipeHandleState failed\n"}, true},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    calls_ = {};
    calls_.waitCap = 2000;
    c.script(daemon_, calls_);
    const std::size_t connection = daemon_.Connections().size();
    testing::DebugOutputCapture trace;
    CDaemonLink link(nullptr, calls_);
    const Exchange exchange = link.TransactCommand(Command::GetActivations, std::nullopt, TimeLimitClass::LocalCall);
    EXPECT_EQ(exchange.end, c.end);
    EXPECT_EQ(exchange.Answered(), c.end == ExchangeEnd::ClosedWithoutReply);
    EXPECT_TRUE(exchange.reply.empty());
    if (c.systemError != 0) {
      EXPECT_EQ(exchange.systemError, c.systemError);
    }
    if (c.end == ExchangeEnd::TransactionFailed) {
      EXPECT_TRUE(calls_.waitLimits.empty());
    }
    if (c.end == ExchangeEnd::ReadFailed) {
      EXPECT_EQ(calls_.peekCalls, 1);
    }
    EXPECT_EQ(trace.Records(), c.trace);
    if (c.closes) {
      EXPECT_TRUE(daemon_.WaitUntil([connection](const auto& d) {
        auto all = d.Connections();
        return all.size() > connection && all[connection].clientClosed;
      }));
    }
  }
}

TEST_F(WithDaemon, PeekThatNeverSucceedsBailsOutAfterTenRetries) {
  daemon_.On(kActivations, Answer::Reply("more than a byte", 20ms));
  calls_.peek = [](LPDWORD) {
    SetLastError(ERROR_BROKEN_PIPE);
    return FALSE;
  };
  testing::DebugOutputCapture trace;
  CDaemonLink link(nullptr, calls_);
  EXPECT_EQ(link.TransactCommand(Command::GetActivations, std::nullopt, TimeLimitClass::LocalCall).end,
            ExchangeEnd::ReadFailed);
  EXPECT_EQ(calls_.peekCalls, 11);
  EXPECT_EQ(calls_.sleeps, std::vector<DWORD>(11, 5));

  std::vector<std::string> expected;
  for (int retry = 1; retry <= 10; ++retry) {
    expected.push_back("CDaemonLink::ReadPipeStringData: PeekNamedPipe returns 0, server maybe did not write yet, retry " +
                       std::to_string(retry) + " of 10\n");
  }
  expected.push_back(
      "CDaemonLink::ReadPipeStringData: PeekNamedPipe returns 0, server did not write yet, 10 retries and no data. "
      "bail out.\n");
  EXPECT_EQ(trace.Records(), expected);
}

TEST_F(WithDaemon, OneWayWriteToAVanishedDaemonFailsWithoutSignal) {
  daemon_.On(2, Answer::CloseWithoutReply());
  CDaemonLink link(nullptr, calls_);
  EXPECT_TRUE(link.PostCommand("C:/A", Command::ActivateKorvaneDialogs));
  ASSERT_TRUE(daemon_.WaitUntil([](const auto& d) { return !d.Connections().empty(); }));
  // The daemon closed its end; writing again must fail, not raise SIGPIPE.
  bool failed = false;
  for (int attempt = 0; attempt < 50 && !failed; ++attempt) {
    failed = !link.PostCommand("C:/A", Command::ActivateKorvaneDialogs);
    if (!failed) std::this_thread::sleep_for(10ms);
  }
  EXPECT_TRUE(failed);
}

TEST_F(WithDaemon, ShortOneWayWriteClosesTheNotificationChannel) {
  int closeFramesAttempted = 0;
  calls_.writeFile = [&](HANDLE file, LPCVOID buffer, DWORD size, LPDWORD written) {
    if (size == 8) ++closeFramesAttempted;
    BOOL ok = ::WriteFile(file, buffer, size, written, nullptr);
    if (size > 8) *written = size - 1;
    return ok;
  };
  CDaemonLink link(nullptr, calls_);
  EXPECT_FALSE(link.PostCommand("C:/A", Command::ActivateKorvaneDialogs));
  EXPECT_EQ(closeFramesAttempted, 1);
  ASSERT_TRUE(daemon_.WaitUntil(
      [](const auto& d) { return !d.Connections().empty() && d.Connections()[0].clientClosed; }));
}

// Each channel, and the stop's probe, tries twice; the stop request itself
// is never made.
TEST_F(DaemonLinkTest, NoDaemonFailsAfterTwoAttemptsWithoutWaiting) {
  CDaemonLink link(nullptr, calls_);
  EXPECT_EQ(link.TransactCommand(Command::GetActivations, std::nullopt, TimeLimitClass::LocalCall).end,
            ExchangeEnd::NotConnected);
  EXPECT_FALSE(link.PostCommand("C:/A", Command::ActivateKorvaneDialogs));
  EXPECT_FALSE(link.StopDaemon());
  EXPECT_EQ(calls_.createFileCalls, 6);
  EXPECT_TRUE(calls_.namedPipeWaits.empty());
  EXPECT_TRUE(calls_.waitLimits.empty());
  EXPECT_TRUE(calls_.callNamedPipeLimits.empty());
}

TEST_F(DaemonLinkTest, BusyPipeWaitsAfterEachBusyAttempt) {
  calls_.createFile = [] {
    SetLastError(ERROR_PIPE_BUSY);
    return INVALID_HANDLE_VALUE;
  };
  testing::TestServer daemon;  // so that the pipe exists to be waited on
  CDaemonLink link(nullptr, calls_);
  EXPECT_FALSE(link.EnsurePipeOpen());
  EXPECT_EQ(calls_.createFileCalls, 2);
  EXPECT_EQ(calls_.namedPipeWaits, (std::vector<DWORD>{50, 50}));
}

TEST_F(DaemonLinkTest, IntegrityLevelIsTheLabelsLastSubAuthority) {
  // A user's own process runs at medium integrity or above (Wine's at high).
  CDaemonLink medium(nullptr, calls_);
  EXPECT_GE(medium.GetIntegrityLevel(), SECURITY_MANDATORY_MEDIUM_RID);

  calls_.tokenInformation = [](LPVOID, DWORD, PDWORD) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  };
  CDaemonLink unknown(nullptr, calls_);
  EXPECT_EQ(unknown.GetIntegrityLevel(), SECURITY_MANDATORY_MEDIUM_RID);
}

}  // namespace
}  // namespace korvane::link
