// Every daemon command over the real transport: its code, channel, payload
// bytes and time limit, and what each kind of reply or failure leaves.
#include "link/daemon_link.h"
#include "link/hosting_requests.h"

#include "support/local_path.h"
#include "support/debug_output_capture.h"
#include "support/runtime_folder.h"
#include "support/scripted_calls.h"
#include "support/test_server.h"

#include <gtest/gtest.h>

#include <functional>

namespace korvane::link {
namespace {

using namespace std::chrono_literals;
using testing::Answer;
using testing::MakeFrame;

std::string Payload(std::string_view text) { return std::string(text) + '\0'; }

class CommandFamilies : public ::testing::Test {
 public:
  CommandFamilies() { calls_.waitCap = 2000; }

  testing::ScopedRuntimeFolder folder_;
  testing::TestServer daemon_;
  testing::ScriptedCalls calls_;
  std::string out1_, out2_, out3_;
  DaemonError record_;
  PathStatusInfo status_;
  std::string text_;
};

struct RequestCase {
  const char* name;
  std::function<bool(CDaemonLink&, CommandFamilies&)> run;
  std::uint32_t code;
  std::string payload;  // as sent, NUL included; empty: no payload at all
};

// Runs each replying command once with ordinary and once with empty texts.
class RequestCommands : public CommandFamilies {
 protected:
  void Check(const RequestCase& c) {
    SCOPED_TRACE(c.name);
    daemon_.Next(Answer::Reply("0|op|message|0|detail", 5ms));
    calls_.waitLimits.clear();
    CDaemonLink link(nullptr, calls_);
    EXPECT_TRUE(c.run(link, *this));
    EXPECT_EQ(daemon_.Frames().back(), MakeFrame(c.code, c.payload));
    // The wait is the limit of the command's class in the protocol table.
    EXPECT_EQ(calls_.waitLimits, std::vector<DWORD>{protocol::LimitOf(*protocol::DescribeCode(c.code)->limit)});
  }
};

TEST_F(RequestCommands, SendTheirCodePayloadAndLimit) {
  using L = CDaemonLink;
  using F = CommandFamilies;
  const std::u16string a = u"a", b = u"b", c = u"c", d = u"d", bar = u"x|y", e;
  const RequestCase cases[] = {
      {"GetStatus", [&](L& l, F& f) { return l.GetStatus(u"/work/A/", f.status_); }, 1, Payload("/work/A")},
      {"GetActivations", [&](L& l, F& f) { return l.GetActivations(f.text_); }, 6, ""},
      {"RenameLDir", [&](L& l, F& f) { return l.RenameLDir(u"/work//A/", f.record_); }, 9,
       Payload(testing::LocalPath("/work/A"))},
      {"RenameLDir empty", [&](L& l, F& f) { return l.RenameLDir(e, f.record_); }, 9, Payload("")},
      {"CreateRepo", [&](L& l, F& f) { return l.CreateRepo(a, f.record_); }, 10, Payload("a")},
      {"OpenRepo", [&](L& l, F& f) { return l.OpenRepo(bar, f.record_); }, 11, Payload("x|y")},
      {"SvnCheckoutWait", [&](L& l, F& f) { return l.SvnCheckoutWait(a, b, f.record_); }, 12, Payload("a|b|")},
      {"CopyToRepo", [&](L& l, F& f) { return l.CopyToRepo(a, b, f.record_); }, 13, Payload("a|b|")},
      {"SvnAdd", [&](L& l, F& f) { return l.SvnAdd(a, f.record_); }, 14, Payload("a|")},
      {"SvnCommit", [&](L& l, F& f) { return l.SvnCommit(u"é", f.record_); }, 15, Payload("\xC3\xA9|")},
      {"RemoveLDir", [&](L& l, F& f) { return l.RemoveLDir(a, b, f.record_); }, 16, Payload("a|b|")},
      {"RemoveTmpDir", [&](L& l, F& f) { return l.RemoveTmpDir(e, f.record_); }, 17, Payload("|")},
      {"RestoreLDir", [&](L& l, F& f) { return l.RestoreLDir(a, b, f.record_); }, 18, Payload("a|b|")},
      {"ListSpaces", [&](L& l, F& f) { return l.ListSpaces(a, b, f.out1_, f.out2_, f.out3_); }, 20, Payload("a|b|")},
      {"ShowSpace", [&](L& l, F& f) { return l.ShowSpace(a, b, c, f.out1_, f.out2_, f.out3_); }, 21, Payload("a|b|c|")},
      {"CreateSpace", [&](L& l, F& f) { return l.CreateSpace(a, b, c, d, f.out1_, f.out2_, f.out3_); }, 22,
       Payload("a|b|c|d|")},
      {"GetErrorText", [&](L& l, F& f) { return l.GetErrorText("key", f.text_); }, 23, Payload("key")},
      {"FindUsers", [&](L& l, F& f) { return l.FindUsers(e, e, f.out1_, f.out2_, f.out3_); }, 24, Payload("||")},
      {"Invite", [&](L& l, F& f) { return l.Invite(a, b, c, d, f.out1_, f.out2_, f.out3_); }, 26, Payload("a|b|c|d|")},
  };
  for (const RequestCase& command : cases) Check(command);
}

struct OneWayCase {
  const char* name;
  std::function<bool(CDaemonLink&)> run;
  std::uint32_t code;
  std::string payload;
};

TEST_F(CommandFamilies, OneWayCommandsGoOnTheNotificationChannel) {
  const OneWayCase cases[] = {
      {"ActivatePath 1", [](CDaemonLink& l) { return l.ActivatePath(u"/work/A", 1); }, 2, Payload("/work/A")},
      {"ActivatePath 2", [](CDaemonLink& l) { return l.ActivatePath(u"/work//A/", 2); }, 3, Payload("/work/A")},
      {"ActivatePath 3", [](CDaemonLink& l) { return l.ActivatePath(u"/work/A", 3); }, 4, Payload("/work/A")},
      {"DeactivatePath", [](CDaemonLink& l) { return l.DeactivatePath(u"/work/A"); }, 5, Payload("/work/A")},
      {"ShareFolder", [](CDaemonLink& l) { return l.ShareFolder(u"/work/A"); }, 7, Payload("/work/A")},
      {"Checkout", [](CDaemonLink& l) { return l.Checkout(u"", u"/New", 3); }, 8, Payload("|/New|3")},
      {"Checkout 255", [](CDaemonLink& l) { return l.Checkout(u"file:///r", u"/New", 255); }, 8,
       Payload("file:///r|/New|255")},
      {"ShareWithTeam", [](CDaemonLink& l) { return l.ShareWithTeam(u"/work/A"); }, 19, Payload("/work/A")},
      {"CheckoutFromService", [](CDaemonLink& l) { return l.CheckoutFromService(u"/"); }, 25, Payload("/")},
  };
  for (const OneWayCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::size_t before = daemon_.Connections().size();
    {
      CDaemonLink link(nullptr, calls_);
      EXPECT_TRUE(c.run(link));
    }
    ASSERT_TRUE(daemon_.WaitUntil([before](const auto& d) {
      auto connections = d.Connections();
      return connections.size() == before + 1 && connections.back().clientClosed;
    }));
    EXPECT_EQ(daemon_.Connections().back().frames,
              (std::vector<std::string>{MakeFrame(c.code, c.payload), MakeFrame(0)}));
  }
  EXPECT_TRUE(calls_.waitLimits.empty());
}

struct StatusCase {
  const char* reply;
  ActivationMode mode;
  const char* text;
};

TEST_F(CommandFamilies, StatusRepliesFillTheRecord) {
  const StatusCase cases[] = {
      {"1|a|b|c", ActivationMode::KorvaneDialogs, "1|a|b|c|"},
      {"3|a|b|c|ignored", ActivationMode::AutomaticCommitUpdate, "3|a|b|c|"},
      {"12|a|b|c", ActivationMode::None, "0|a|b|c|"},
      {"x|a|b|c", ActivationMode::None, "0|a|b|c|"},
      {"1|a|b", ActivationMode::None, "0||||"},  // too short: the record stays as it was
  };
  for (const StatusCase& c : cases) {
    SCOPED_TRACE(c.reply);
    daemon_.Next(Answer::Reply(c.reply, 5ms));
    PathStatusInfo status;
    EXPECT_TRUE(CDaemonLink(nullptr, calls_).GetStatus(u"/work/A", status));
    EXPECT_EQ(status.mode, c.mode);
    EXPECT_EQ(status.Text(), c.text);
  }
  daemon_.Next(Answer::CloseWithoutReply(5ms));
  EXPECT_FALSE(CDaemonLink(nullptr, calls_).GetStatus(u"/work/A", status_));
}

TEST_F(CommandFamilies, ActivationListIsAppended) {
  daemon_.Next(Answer::Reply("/a|1", 5ms));
  daemon_.Next(Answer::CloseWithoutReply(5ms));
  std::string list = "before:";
  EXPECT_TRUE(CDaemonLink(nullptr, calls_).GetActivations(list));
  EXPECT_TRUE(CDaemonLink(nullptr, calls_).GetActivations(list));
  EXPECT_EQ(list, "before:/a|1");
}

struct RecordCase {
  const char* name;
  std::function<void(CommandFamilies&)> script;
  bool result;
  const char* text;
};

TEST_F(CommandFamilies, RepositoryOutcomesFillTheRecord) {
  const RecordCase cases[] = {
      {"five fields", [](auto& f) { f.daemon_.Next(Answer::Reply("0|svnAdd|done|0|x", 5ms)); }, true,
       "0|svnAdd|done|0|x|"},
      {"four fields", [](auto& f) { f.daemon_.Next(Answer::Reply("0|svnAdd|done|0", 5ms)); }, true, ""},
      {"silent close", [](auto& f) { f.daemon_.Next(Answer::CloseWithoutReply(5ms)); }, true, ""},
      {"time-out",
       [](auto& f) {
         f.daemon_.Next(Answer::Never());
         f.calls_.waitCap = 50;
       },
       false, "-15|copyToRepo|The operation failed.|258||"},
      {"failed wait", [](auto& f) { f.calls_.wait = [] { return WAIT_FAILED; }; }, false,
       "-15|copyToRepo|The operation failed.|997||"},
      {"transaction fails at once",
       [](auto& f) {
         f.calls_.transact = [](LPVOID, LPDWORD) {
           SetLastError(ERROR_NO_DATA);
           return FALSE;
         };
       },
       false, "-15|copyToRepo|The operation failed.|232||"},
      {"read of the rest fails",
       [](auto& f) {
         // Not Next(): the frame of the failed wait may reach the daemon late
         // and would take a one-shot answer.
         f.daemon_.On(13, Answer::Reply("0|svnAdd|done|0|x", 5ms));
         f.calls_.peek = [](LPDWORD available) {
           *available = 0;
           return TRUE;
         };
       },
       false, ""},
  };
  for (const RecordCase& c : cases) {
    SCOPED_TRACE(c.name);
    calls_ = {};
    calls_.waitCap = 2000;
    c.script(*this);
    DaemonError record;
    EXPECT_EQ(CDaemonLink(nullptr, calls_).CopyToRepo(u"a", u"b", record), c.result);
    EXPECT_EQ(record.text, c.text);
  }
}

TEST_F(CommandFamilies, CommitTracesFailuresAfterTheRequestWentOut) {
  daemon_.On(15, Answer::Never());
  calls_.waitCap = 50;
  testing::DebugOutputCapture trace;
  EXPECT_FALSE(CDaemonLink(nullptr, calls_).SvnCommit(u"/w", record_));
  EXPECT_FALSE(CDaemonLink(nullptr, calls_).SvnAdd(u"/w", record_));
  EXPECT_EQ(trace.Records(), std::vector<std::string>{"CDaemonLink::SvnCommit: pipe call returning false\n"});
}

struct HostingCase {
  const char* name;
  Answer answer;
  bool result;
  std::string outputs[3];  // for ListSpaces, then for ShowSpace
  std::string showOutputs[3];
};

TEST_F(CommandFamilies, HostingRepliesFillUpToThreeOutputs) {
  const std::string kDefault = kDaemonUnreachableMessage;
  const HostingCase cases[] = {
      {"four fields", Answer::Reply("x|y|z|w", 5ms), true, {"x", "y", "z"}, {"x", "y", "z"}},
      {"one field", Answer::Reply("x", 5ms), true, {"x", kDefault, "3"}, {"x", "2", "3"}},
      {"empty fields", Answer::Reply("x||", 5ms), true, {"x", "", ""}, {"x", "", ""}},
      {"silent close", Answer::CloseWithoutReply(5ms), true, {"1", kDefault, "3"}, {"1", "2", "3"}},
  };
  for (const HostingCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::string list[3] = {"1", "2", "3"};
    std::string show[3] = {"1", "2", "3"};
    daemon_.Next(c.answer);
    EXPECT_EQ(CDaemonLink(nullptr, calls_).ListSpaces(u"a", u"b", list[0], list[1], list[2]), c.result);
    daemon_.Next(c.answer);
    EXPECT_EQ(CDaemonLink(nullptr, calls_).ShowSpace(u"a", u"b", u"c", show[0], show[1], show[2]), c.result);
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(list[i], c.outputs[i]) << "ListSpaces output " << i + 1;
      EXPECT_EQ(show[i], c.showOutputs[i]) << "ShowSpace output " << i + 1;
    }
  }
}

TEST_F(CommandFamilies, SpaceListReportsAnUnreachableDaemon) {
  calls_.transact = [](LPVOID, LPDWORD) {
    SetLastError(ERROR_NO_DATA);
    return FALSE;
  };
  EXPECT_FALSE(CDaemonLink(nullptr, calls_).ListSpaces(u"a", u"b", out1_, out2_, out3_));
  EXPECT_EQ(out2_, "");  // an immediate failure clears the message

  calls_.createFile = [] {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  };
  testing::DebugOutputCapture trace;
  EXPECT_FALSE(CDaemonLink(nullptr, calls_).ListSpaces(u"a", u"b", out1_, out2_, out3_));
  EXPECT_EQ(out2_, kDaemonUnreachableMessage);
  EXPECT_FALSE(CDaemonLink(nullptr, calls_).FindUsers(u"a", u"b", out1_, out2_, out3_));
  EXPECT_EQ(trace.Records(),
            std::vector<std::string>{
                "CDaemonLink::ListSpaces: CDaemonLink::ListSpaces - EnsurePipeOpenWithRetry failed\n"});
}

}  // namespace
}  // namespace korvane::link
