// Running the korvane tool beside the test program, and the JSON schema of
// each subcommand's --json object as the manual page documents it.
#pragma once

#include <nlohmann/json.hpp>

#include <string>

namespace korvane::testing {

using Json = nlohmann::ordered_json;

struct ToolRun {
  int status;
  std::string output;
};

// The folder of the test program, where the build puts the tool.
std::string ToolFolder();

// Runs "tool arguments" through the shell (environment: prefix, e.g.
// "XDG_STATE_HOME=/s "); standard output, and standard error too unless
// only output is asked for.
ToolRun Korvane(const std::string& arguments, bool onlyOutput = false, const std::string& tool = "",
                const std::string& environment = "");

// Checks the object against the schema of its "command": every subcommand
// has command, exitStatus and error, and on success its own members, each
// of its documented type.
void ExpectSchema(const Json& object);

}  // namespace korvane::testing
