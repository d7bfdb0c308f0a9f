#include "tools/tool_run.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <map>
#include <vector>

#include <sys/wait.h>

namespace korvane::testing {

namespace {

// A member's documented type: s string, n number, b boolean, a array,
// o object; a trailing ? allows null.
using Schema = std::vector<std::pair<const char*, const char*>>;

// The subcommands whose success the tests see; a test that sees another
// fails until its documented members are added here.
const std::map<std::string, Schema> kSchemas = {
    {"stop-daemon", {{"socket", "s"}}},
    {"get-error-text", {{"key", "s"}, {"text", "s"}}},
    {"get-activations", {{"activations", "a"}}},
    {"get-status", {{"mode", "n"}, {"repositoryRoot", "s"}, {"activatedFolder", "s"}, {"path", "s"}}},
    {"activate-path", {{"path", "s"}, {"mode", "n"}, {"job", "o?"}}},
    {"deactivate-path", {{"path", "s"}, {"job", "o?"}}},
    {"share", {{"path", "s"}, {"job", "o?"}}},
    {"jobs", {{"jobs", "a"}}},
    {"is-versioned", {{"path", "s"}, {"versioned", "b"}}},
    {"list-spaces", {{"filter", "s"}, {"count", "n"}, {"spaces", "a"}}},
    {"show-space", {{"name", "s"}, {"url", "s"}, {"members", "a"}, {"youngestRevision", "n"}}},
    {"find-users", {{"pattern", "s"}, {"count", "n"}, {"users", "a"}}},
    {"invite", {{"space", "s"}, {"user", "s"}, {"role", "s"}}},
    {"svn-commit",
     {{"code", "n"}, {"operation", "s"}, {"message", "s"}, {"systemError", "n"}, {"detail", "s"}, {"revision", "n?"}}},
};

// The members of a job, as the daemon's jobs file has them.
const Schema kJob = {{"id", "n"},        {"operation", "s"}, {"folder", "s"},    {"state", "s"},
                     {"stage", "s"},     {"filesDone", "n"}, {"filesTotal", "n"}, {"bytesDone", "n"},
                     {"bytesTotal", "n"}, {"started", "s"},  {"ended", "s?"},    {"code", "n?"},
                     {"message", "s"}};

bool HasType(const Json& value, std::string_view type) {
  if (type.ends_with('?') && value.is_null()) return true;
  switch (type[0]) {
    case 's': return value.is_string();
    case 'n': return value.is_number();
    case 'b': return value.is_boolean();
    case 'a': return value.is_array();
    case 'o': return value.is_object();
  }
  return false;
}

void ExpectMembers(const Json& object, const Schema& schema) {
  for (const auto& [name, type] : schema) {
    EXPECT_TRUE(object.contains(name) && HasType(object[name], type)) << name << " in " << object.dump();
  }
}

}  // namespace

std::string ToolFolder() { return std::filesystem::read_symlink("/proc/self/exe").parent_path().string(); }

ToolRun Korvane(const std::string& arguments, bool onlyOutput, const std::string& tool,
                const std::string& environment) {
  const std::string command = environment + (tool.empty() ? ToolFolder() + "/korvane" : tool) + " " + arguments +
                              (onlyOutput ? " 2>/dev/null" : " 2>&1");
  std::FILE* pipe = ::popen(command.c_str(), "r");
  ToolRun run{-1, {}};
  if (pipe == nullptr) return run;
  std::array<char, 4096> chunk;
  while (std::fgets(chunk.data(), chunk.size(), pipe) != nullptr) run.output += chunk.data();
  const int status = ::pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

void ExpectSchema(const Json& object) {
  ASSERT_TRUE(object.is_object());
  ExpectMembers(object, {{"command", "s?"}, {"exitStatus", "n"}, {"error", "s?"}});
  if (object["exitStatus"] != 0) return;
  const auto schema = kSchemas.find(object["command"].get<std::string>());
  ASSERT_NE(schema, kSchemas.end()) << object["command"];
  ExpectMembers(object, schema->second);
  if (object.contains("jobs")) {
    for (const Json& job : object["jobs"]) ExpectMembers(job, kJob);
  }
  if (object.contains("job") && object["job"].is_object()) ExpectMembers(object["job"], kJob);
}

}  // namespace korvane::testing
