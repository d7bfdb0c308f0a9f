// The korvane tool as a person or a script uses it: exit statuses, usage
// lines and the JSON each subcommand documents.
#include "tools/tool_run.h"

#include "support/runtime_folder.h"
#include "support/test_server.h"

#include <gtest/gtest.h>

#include <fstream>

namespace korvane::testing {
namespace {

using namespace std::chrono_literals;

struct UsageCase {
  const char* arguments;
  int status;
  const char* shows;  // on standard output or error
};

// Wrong use (status 2) and what the tool checks itself (status 1) are
// refused before any daemon is asked.
TEST(KorvaneTool, RefusesWrongUseAndMissingFoldersBeforeAskingTheDaemon) {
  ScopedRuntimeFolder folder;
  TestServer daemon(kWellKnownPipeName);
  std::ofstream(folder.Path() + "/file") << "x";
  const UsageCase cases[] = {
      {"", 2, "A subcommand is required"},
      {"--help", 0, "svn-checkout-wait"},
      {"crate-space a b c", 2, "The most similar subcommand is\n        create-space"},
      {"get-status", 2, "Usage: korvane get-status [OPTIONS] PATH"},
      {"activate-path /x 4", 2, "MODE must be 1"},
      {"checkout file:///r /x 9", 2, "MODE must be 0"},
      {"create-space 'x|y' d alice", 2, "NAME may not hold '|'"},
      {"svn-commit '/w|x'", 2, "PATH may not hold '|'"},
      {"menu /x --invoke verb:nonsense", 2, "no entry answers to verb:nonsense"},
      {"--json svn-commit --help", 0, "Usage: korvane svn-commit [OPTIONS] PATH"},
      {"share /nonexistent/site", 1, "/nonexistent/site does not exist."},
      {"share FOLDER/file", 1, "/file is not a folder."},
      {"activate-path FOLDER/missing 3", 1, "/missing does not exist."},
      {"menu FOLDER/missing", 1, "/missing does not exist."},
      {"checkout file:///r FOLDER/missing/co", 1, "/missing, where co would go, is not a folder."},
      {"checkout file:///r FOLDER/file", 1, "/file is a file"},
  };
  for (const UsageCase& c : cases) {
    std::string arguments = c.arguments;
    if (const std::size_t at = arguments.find("FOLDER"); at != std::string::npos) {
      arguments.replace(at, 6, folder.Path());
    }
    SCOPED_TRACE(arguments);
    const ToolRun run = Korvane(arguments);
    EXPECT_EQ(run.status, c.status);
    EXPECT_NE(run.output.find(c.shows), std::string::npos) << run.output;
  }
  EXPECT_TRUE(daemon.Frames().empty()) << "a refused command reached the daemon";
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
       R"({"code":0,"operation":"svnCommit","systemError":0,"detail":"7","revision":7})"},
      {"svn-commit /w", 15, "0|svnCommit|Nothing to commit.|0||", 0, R"({"detail":"","revision":null})"},
      {"svn-commit /no/such/wc", 15, "-6|svnCommit|Not a working copy|155007|NOT_WORKING_COPY|", 1,
       R"({"code":-6,"systemError":155007,"detail":"NOT_WORKING_COPY"})"},
      {"create-repo r", 10, "", 1, R"({"exitStatus":1})"},
      {"list-spaces", 20, "2|a\nb\n|", 0, R"({"filter":"","count":2,"spaces":["a","b"]})"},
      {"list-spaces zz", 20, "0||", 0, R"({"count":0,"spaces":[]})"},
      {"show-space s", 21, "file:///s|al\towner\nbo\tmember\n|4", 0,
       R"({"name":"s","url":"file:///s","members":[{"user":"al","role":"owner"},{"user":"bo","role":"member"}],"youngestRevision":4})"},
      {"create-space x d alice", 22, "|ALREADY_EXISTS|The target already exists. (the space x exists)", 1,
       R"j({"errorKey":"ALREADY_EXISTS","error":"the space x exists"})j"},
      {"invite s eve", 26,
       "|NOT_ALLOWED|The daemon does not touch that path. (Commit blocked by pre-commit hook (exit code 1) with "
       "output:\nKorvane: only the owner of s can invite\n)",
       1, R"j({"errorKey":"NOT_ALLOWED","error":"refused by the server because only the owner of s can invite"})j"},
      {"create-space y d al", 22, "|BUSY|", 1, R"j({"errorKey":"BUSY","error":"The daemon refused: BUSY"})j"},
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
    daemon.On(c.code, *c.reply != '\0' ? Answer::Reply(c.reply, 1ms) : Answer::CloseWithoutReply(1ms));
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

}  // namespace
}  // namespace korvane::testing
