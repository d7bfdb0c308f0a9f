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

struct CommandCase {
  std::function<bool(CDaemonLink&, CommandFamilies&)> run;
  Command command;
  std::string payload;  // as sent, NUL included; empty: no payload at all
};

// Each operation on a link of its own, with ordinary and with empty texts:
// one connection carries its frame, and the close frame after it when the
// command is one-way; the link waits for a reply as long as the protocol
// table gives the command's class, and not at all for a one-way command.
TEST_F(CommandFamilies, EachOperationSendsItsCommandPayloadAndLimit) {
  using L = CDaemonLink;
  using F = CommandFamilies;
  using C = Command;
  const std::u16string a = u"a", b = u"b", c = u"c", d = u"d", bar = u"x|y", e;
  const CommandCase cases[] = {
      {[&](L& l, F& f) { return l.GetStatus(u"/work/A/", f.status_); }, C::GetStatus, Payload("/work/A")},
      {[&](L& l, F& f) { return l.GetActivations(f.text_); }, C::GetActivations, ""},
      {[&](L& l, F& f) { return l.RenameLDir(u"/work//A/", f.record_); }, C::RenameLDir,
       Payload(testing::LocalPath("/work/A"))},
      {[&](L& l, F& f) { return l.RenameLDir(e, f.record_); }, C::RenameLDir, Payload("")},
      {[&](L& l, F& f) { return l.CreateRepo(a, f.record_); }, C::CreateRepo, Payload("a")},
      {[&](L& l, F& f) { return l.OpenRepo(bar, f.record_); }, C::OpenRepo, Payload("x|y")},
      {[&](L& l, F& f) { return l.SvnCheckoutWait(a, b, f.record_); }, C::SvnCheckoutWait, Payload("a|b|")},
      {[&](L& l, F& f) { return l.CopyToRepo(a, b, f.record_); }, C::CopyToRepo, Payload("a|b|")},
      {[&](L& l, F& f) { return l.SvnAdd(a, f.record_); }, C::SvnAdd, Payload("a|")},
      {[&](L& l, F& f) { return l.SvnCommit(u"é", f.record_); }, C::SvnCommit, Payload("\xC3\xA9|")},
      {[&](L& l, F& f) { return l.RemoveLDir(a, b, f.record_); }, C::RemoveLDir, Payload("a|b|")},
      {[&](L& l, F& f) { return l.RemoveTmpDir(e, f.record_); }, C::RemoveTmpDir, Payload("|")},
      {[&](L& l, F& f) { return l.RestoreLDir(a, b, f.record_); }, C::RestoreLDir, Payload("a|b|")},
      {[&](L& l, F& f) { return l.ListSpaces(a, b, f.out1_, f.out2_, f.out3_); }, C::ListSpaces, Payload("a|b|")},
      {[&](L& l, F& f) { return l.ShowSpace(a, b, c, f.out1_, f.out2_, f.out3_); }, C::ShowSpace, Payload("a|b|c|")},
      {[&](L& l, F& f) { return l.CreateSpace(a, b, c, d, f.out1_, f.out2_, f.out3_); }, C::CreateSpace,
       Payload("a|b|c|d|")},
      {[&](L& l, F& f) { return l.GetErrorText("key", f.text_); }, C::GetErrorText, Payload("key")},
      {[&](L& l, F& f) { return l.FindUsers(e, e, f.out1_, f.out2_, f.out3_); }, C::FindUsers, Payload("||")},
      {[&](L& l, F& f) { return l.Invite(a, b, c, d, f.out1_, f.out2_, f.out3_); }, C::Invite, Payload("a|b|c|d|")},
      {[](L& l, F&) { return l.ActivatePath(u"/work/A", 1); }, C::ActivateKorvaneDialogs, Payload("/work/A")},
      {[](L& l, F&) { return l.ActivatePath(u"/work//A/", 2); }, C::ActivateTortoiseSvnDialogs, Payload("/work/A")},
      {[](L& l, F&) { return l.ActivatePath(u"/work/A", 3); }, C::ActivateAutomaticCommitUpdate, Payload("/work/A")},
      {[](L& l, F&) { return l.DeactivatePath(u"/work/A"); }, C::DeactivatePath, Payload("/work/A")},
      {[](L& l, F&) { return l.ShareFolder(u"/work/A"); }, C::ShareFolder, Payload("/work/A")},
      {[](L& l, F&) { return l.Checkout(u"", u"/New", 3); }, C::Checkout, Payload("|/New|3")},
      {[](L& l, F&) { return l.ShareWithTeam(u"/work/A"); }, C::ShareWithTeam, Payload("/work/A")},
      {[](L& l, F&) { return l.CheckoutFromService(u"/"); }, C::CheckoutFromService, Payload("/")},
  };
  for (const protocol::CommandInfo& info : protocol::kCommands) {
    if (info.limit) daemon_.On(protocol::CodeOf(info.command), Answer::Reply("0|op|message|0|detail", 5ms));
  }
  for (const CommandCase& command : cases) {
    const protocol::CommandInfo& info = protocol::Describe(command.command);
    SCOPED_TRACE(std::string(info.operation) + " " + command.payload);
    calls_.waitLimits.clear();
    const std::size_t before = daemon_.Connections().size();
    {
      CDaemonLink link(nullptr, calls_);
      EXPECT_TRUE(command.run(link, *this));
    }
    ASSERT_TRUE(daemon_.WaitUntil([before](const auto& server) {
      auto connections = server.Connections();
      return connections.size() == before + 1 && connections.back().clientClosed;
    }));
    std::vector<std::string> frames{MakeFrame(protocol::CodeOf(command.command), command.payload)};
    if (!info.limit) frames.push_back(MakeFrame(0));
    EXPECT_EQ(daemon_.Connections().back().frames, frames);
    std::vector<DWORD> waits;
    if (info.limit) waits.push_back(protocol::LimitOf(*info.limit));
    EXPECT_EQ(calls_.waitLimits, waits);
  }
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

// The activation list is appended to the output, the error text replaces
// it; a silent close leaves either as it was.
TEST_F(CommandFamilies, TextRepliesChangeTheOutputOnlyOnAReply) {
  for (const char* reply : {"/a|1", "Disk full"}) {
    daemon_.Next(Answer::Reply(reply, 5ms));
    daemon_.Next(Answer::CloseWithoutReply(5ms));
  }
  std::string list = "before:";
  std::string text = "before";
  EXPECT_TRUE(CDaemonLink(nullptr, calls_).GetActivations(list));
  EXPECT_TRUE(CDaemonLink(nullptr, calls_).GetActivations(list));
  EXPECT_EQ(list, "before:/a|1");
  EXPECT_TRUE(CDaemonLink(nullptr, calls_).GetErrorText("E42", text));
  EXPECT_TRUE(CDaemonLink(nullptr, calls_).GetErrorText("", text));
  EXPECT_EQ(text, "Disk full");
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
      {"silent close", [](auto& f) { f.daemon_.Next(Answer::CloseWithoutReply(5ms)); }, true, ""},
      {"time-out",
       [](auto& f) {
         f.daemon_.Next(Answer::Never());
         f.calls_.waitCap = 50;
       },
       false, "-15|copyToRepo|The operation failed.|258||"},
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
