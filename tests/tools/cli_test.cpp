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

ToolRun Korvane(const std::string& arguments) {
  char self[4096] = {};
  ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
  std::string folder(self, length > 0 ? static_cast<std::size_t>(length) : 0);
  folder = folder.substr(0, folder.rfind('/'));
  std::FILE* pipe = ::popen((folder + "/korvane " + arguments + " 2>&1").c_str(), "r");
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

}  // namespace
}  // namespace korvane::testing
