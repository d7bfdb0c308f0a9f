// The korvane tool as a person or a script uses it: exit statuses, usage
// lines, the JSON each subcommand documents, and its version.
#include "tools/tool_run.h"

#include "korvane/korvane.h"
#include "support/runtime_folder.h"
#include "support/test_server.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace korvane::testing {
namespace {

using namespace std::chrono_literals;

struct UsageCase {
  const char* arguments;
  int status;
  const char* shows;  // on standard output or error
};

TEST(KorvaneTool, ReportsWrongUseWithStatusTwo) {
  ScopedRuntimeFolder folder;
  TestServer daemon(kWellKnownPipeName);
  const UsageCase cases[] = {
      {"", 2, "A subcommand is required"},
      {"--help", 0, "svn-checkout-wait"},
      {"crate-space a b c", 2, "The most similar subcommand is\n        create-space"},
      {"svn-comit /w", 2, "svn-commit"},
      {"get-status", 2, "Usage: korvane get-status [OPTIONS] PATH"},
      {"get-status /a /b", 2, "not expected"},
      {"create-space --help", 0, "Usage: korvane create-space [OPTIONS] NAME DESCRIPTION OWNER"},
      {"invite --help", 0, "Usage: korvane invite [OPTIONS] SPACE USER [ROLE]"},
      {"list-spaces --help", 0, "Usage: korvane list-spaces [OPTIONS] [FILTER]"},
      {"activate-path /x 4", 2, "MODE must be 1"},
      {"checkout file:///r /x 9", 2, "MODE must be 0"},
      {"create-space 'x|y' d alice", 2, "NAME may not hold '|'"},
      {"svn-commit '/w|x'", 2, "PATH may not hold '|'"},
      {"menu /x --invoke verb:nonsense", 2, "no entry answers to verb:nonsense"},
      {"--json svn-commit --help", 0, "Usage: korvane svn-commit [OPTIONS] PATH"},
  };
  for (const UsageCase& c : cases) {
    SCOPED_TRACE(c.arguments);
    ToolRun run = Korvane(c.arguments);
    EXPECT_EQ(run.status, c.status);
    EXPECT_NE(run.output.find(c.shows), std::string::npos) << run.output;
  }
  EXPECT_TRUE(daemon.Frames().empty()) << "wrong use reached the daemon";
}

TEST(KorvaneTool, ReportsAMissingDaemonWithStatusThreeNamingTheSocket) {
  ScopedRuntimeFolder folder;
  for (const char* arguments : {"get-activations", "svn-commit /w", "list-spaces", "activate-path / 1",
                                "deactivate-path /x --wait", "stop-daemon", "get-error-text"}) {
    SCOPED_TRACE(arguments);
    ToolRun run = Korvane(arguments);
    EXPECT_EQ(run.status, 3);
    EXPECT_NE(run.output.find(folder.Path() + "/DalvDaemonCommand"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("korvane start-daemon"), std::string::npos) << run.output;
  }
}

struct AnsweredCase {
  const char* arguments;
  std::uint32_t code;
  const char* reply;
  int status;
  const char* expected;  // JSON fields that must be in the object, as JSON
};

TEST(KorvaneTool, ExitsWithTheOutcomeAndNamesTheFields) {
  ScopedRuntimeFolder folder;
  TestServer daemon(kWellKnownPipeName);
  const AnsweredCase cases[] = {
      {"svn-commit /w", 15, "0|svnCommit|The operation completed.|0|7|", 0,
       R"({"code":0,"operation":"svnCommit","systemError":0,"detail":"7","revision":"7"})"},
      {"svn-commit /no/such/wc", 15, "-6|svnCommit|Not a working copy|155007|NOT_WORKING_COPY|", 1,
       R"({"code":-6,"systemError":155007,"detail":"NOT_WORKING_COPY"})"},
      {"create-repo r", 10, "", 1, R"({"exitStatus":1})"},
      {"list-spaces", 20, "2|a\nb\n|", 0, R"({"filter":"","count":2,"spaces":["a","b"]})"},
      {"list-spaces zz", 20, "0||", 0, R"({"count":0,"spaces":[]})"},
      {"show-space s", 21, "file:///s|al\towner\nbo\tmember\n|4", 0,
       R"({"name":"s","url":"file:///s","members":[{"user":"al","role":"owner"},{"user":"bo","role":"member"}],"youngestRevision":4})"},
      {"create-space x d alice", 22, "|ALREADY_EXISTS|The target already exists. (the space x exists)", 1,
       R"j({"errorKey":"ALREADY_EXISTS","error":"The target already exists. (the space x exists)"})j"},
      {"find-users", 24, "1|al\n|", 0, R"({"pattern":"","count":1,"users":["al"]})"},
      {"invite s bo", 26, "invited|s|bo", 0, R"({"space":"s","user":"bo","role":"member"})"},
      {"get-status /x", 1, "3|file:///r|/x|/x/y", 0,
       R"({"mode":3,"repositoryRoot":"file:///r","activatedFolder":"/x","path":"/x/y"})"},
      {"get-activations", 6, "1|/a\n3|/b c\n", 0,
       R"({"activations":[{"mode":1,"folder":"/a"},{"mode":3,"folder":"/b c"}]})"},
      {"get-activations", 6, "", 0, R"({"activations":[]})"},
      {"get-error-text NOT_FOUND", 23, "The path does not exist.", 0,
       R"({"key":"NOT_FOUND","text":"The path does not exist."})"},
  };
  for (const AnsweredCase& c : cases) {
    SCOPED_TRACE(c.arguments);
    if (*c.reply != '\0') {
      daemon.On(c.code, Answer::Reply(c.reply, 1ms));
    } else {
      daemon.On(c.code, Answer::CloseWithoutReply(1ms));
    }
    const ToolRun run = Korvane(std::string("--json ") + c.arguments, true);
    EXPECT_EQ(run.status, c.status);
    const Json object = Json::parse(run.output, nullptr, false);
    ASSERT_TRUE(object.is_object()) << run.output;
    EXPECT_EQ(object["exitStatus"], c.status);
    ExpectSchema(object);
    const Json expected = Json::parse(c.expected);
    for (const auto& [key, value] : expected.items()) EXPECT_EQ(object[key], value) << key;
    // A person gets sentences and fields, never the daemon's record.
    const ToolRun plain = Korvane(c.arguments);
    EXPECT_EQ(plain.output.find('|'), std::string::npos) << plain.output;
  }
}

TEST(KorvaneTool, VersionMatchesTheHeaderAndTheLibraryFile) {
  const ToolRun run = Korvane("--version");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, std::string("korvane ") + KORVANE_VERSION + "\n");
  // libkorvane.so.1 names the file of the exact version.
  const std::filesystem::path library = std::filesystem::canonical(ToolFolder() + "/libkorvane.so.1");
  EXPECT_EQ(library.filename().string(), std::string("libkorvane.so.") + KORVANE_VERSION);
}

}  // namespace
}  // namespace korvane::testing
