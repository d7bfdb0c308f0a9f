// The korvane tool as a person or a script uses it: exit status and output.
#include "support/runtime_folder.h"
#include "support/test_daemon.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <sys/wait.h>
#include <unistd.h>

namespace korvane::testing {
namespace {

using namespace std::chrono_literals;

struct ToolRun {
  int status;
  std::string output;
};

// Standard output, and standard error too unless only output is asked for.
ToolRun Korvane(const std::string& arguments, bool onlyOutput = false) {
  char self[4096] = {};
  ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
  std::string folder(self, length > 0 ? static_cast<std::size_t>(length) : 0);
  folder = folder.substr(0, folder.rfind('/'));
  std::FILE* pipe = ::popen((folder + "/korvane " + arguments + (onlyOutput ? " 2>/dev/null" : " 2>&1")).c_str(), "r");
  ToolRun run{-1, {}};
  std::array<char, 256> chunk;
  while (std::fgets(chunk.data(), chunk.size(), pipe) != nullptr) run.output += chunk.data();
  int status = ::pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

struct UsageCase {
  const char* arguments;
  int status;
  const char* shows;
};

TEST(KorvaneTool, ReportsWrongUseWithStatusTwo) {
  ScopedRuntimeFolder folder;
  const UsageCase cases[] = {
      {"", 2, "Usage: korvane SUBCOMMAND"},
      {"--help", 0, "svn-checkout-wait"},
      {"frobnicate", 2, "unknown subcommand 'frobnicate'"},
      {"get-status", 2, "Usage: korvane get-status PATH"},
      {"activate-path /x 4", 2, "MODE must be 1"},
      {"svn-commit --help", 0, "Usage: korvane svn-commit PATH"},
      {"svn-commit --json --help", 0, "Usage: korvane svn-commit PATH"},
      {"get-activations", 1, "could not be asked"},
  };
  for (const UsageCase& c : cases) {
    SCOPED_TRACE(c.arguments);
    ToolRun run = Korvane(c.arguments);
    EXPECT_EQ(run.status, c.status);
    EXPECT_NE(run.output.find(c.shows), std::string::npos) << run.output;
  }
}

TEST(KorvaneTool, PrintsWhatTheExportsHandOut) {
  ScopedRuntimeFolder folder;
  TestDaemon daemon;
  daemon.On(15, Answer::Reply("1|svnCommit|Conflict|0|", 5ms));
  daemon.On(20, Answer::Reply("a|b", 5ms));
  ToolRun commit = Korvane("svn-commit /w");
  EXPECT_EQ(commit.status, 0);
  EXPECT_NE(commit.output.find("Verdict: 1|svnCommit|Conflict|0||"), std::string::npos) << commit.output;
  EXPECT_NE(commit.output.find("message       Conflict"), std::string::npos) << commit.output;
  ToolRun list = Korvane("list-spaces 'é' ''");
  EXPECT_EQ(list.status, 0);
  EXPECT_NE(list.output.find("Field 2: b\nField 3: (none)"), std::string::npos) << list.output;
  EXPECT_EQ(daemon.Frames().back(), MakeFrame(20, std::string("\xC3\xA9||\0", 5)));
}

struct JsonCase {
  const char* arguments;
  int status;
  const char* output;  // all of standard output
};

TEST(KorvaneTool, PrintsOneJsonObjectWithJson) {
  ScopedRuntimeFolder folder;
  const JsonCase unreachable = {"get-activations --json", 1, R"({"command":"get-activations","result":0,"list":null})"};
  ToolRun run = Korvane(unreachable.arguments, true);
  EXPECT_EQ(run.status, unreachable.status);
  EXPECT_EQ(run.output, std::string(unreachable.output) + "\n");

  TestDaemon daemon;
  daemon.On(15, Answer::Reply("1|svnCommit|Conflict \"x\"|0|", 5ms));
  daemon.On(20, Answer::Reply("a|b", 5ms));
  // Escapes, valid UTF-8 passed through, and each broken sequence one U+FFFD.
  daemon.On(23, Answer::Reply("q\"\\\x01\n\xC3\xA9\xFF\xE2\x82!\xF0\x9F\x98\x80\xED\xA0", 5ms));
  daemon.On(1, Answer::Reply("2|one|two|three", 5ms));
  daemon.On(10, Answer::CloseWithoutReply(5ms));
  const JsonCase cases[] = {
      {"svn-commit /w --json", 0,
       R"({"command":"svn-commit","result":1,"verdict":"1|svnCommit|Conflict \"x\"|0||",)"
       R"("record":{"code":1,"operation":"svnCommit","message":"Conflict \"x\"","systemError":0,"detail":""}})"},
      {"create-repo r --json", 0, R"({"command":"create-repo","result":1,"verdict":null,"record":null})"},
      {"--json list-spaces x y", 0, R"({"command":"list-spaces","result":1,"out1":"a","out2":"b","out3":null})"},
      {"get-error-text --json k", 0,
       "{\"command\":\"get-error-text\",\"result\":1,\"text\":\"q\\\"\\\\\\u0001\\n\xC3\xA9\xEF\xBF\xBD\xEF\xBF\xBD!"
       "\xF0\x9F\x98\x80\xEF\xBF\xBD\xEF\xBF\xBD\"}"},
      {"get-status /x --json", 0,
       R"({"command":"get-status","result":1,"status":"2|one|two|three|","mode":2,"text1":"one","text2":"two","text3":"three"})"},
      {"get-status --json", 2,
       R"({"command":"get-status","result":null,"error":"korvane get-status: wrong number of arguments"})"},
      {"activate-path /x 4 --json", 2,
       R"({"command":"activate-path","result":null,"error":"MODE must be 1 (Korvane dialogs), 2 (TortoiseSVN dialogs) or 3 (automatic commit and update)."})"},
  };
  for (const JsonCase& c : cases) {
    SCOPED_TRACE(c.arguments);
    run = Korvane(c.arguments, true);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.output, std::string(c.output) + "\n");
  }
}

}  // namespace
}  // namespace korvane::testing
