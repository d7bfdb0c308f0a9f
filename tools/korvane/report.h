// What one run of a subcommand tells its caller: sentences and aligned
// fields for a person on standard output, or, with --json, one JSON object
// there and nothing else. Messages about failures go to standard error
// either way, and under --json into the object's "error" too.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <utility>
#include <vector>

namespace korvane::cli {

// Members keep the order they were written in, for people reading it.
using Json = nlohmann::ordered_json;

// The tool's exit statuses.
enum ExitStatus : int {
  kSucceeded = 0,
  kFailed = 1,     // the daemon or the operation said no
  kWrongUse = 2,   // the command line was wrong
  kNoDaemon = 3,   // no daemon could be reached
};

class Report {
 public:
  // command: the subcommand's name, or empty when none was given.
  Report(std::string command, bool json);
  Report(const Report&) = delete;
  Report& operator=(const Report&) = delete;

  bool IsJson() const { return json_; }
  const std::string& Command() const { return command_; }

  // The named fields of the JSON object; a person never sees them.
  Json& Fields() { return object_; }
  // A sentence for a person, printed in order with the fields.
  void Say(std::string sentence);
  // A "label: value" line for a person, aligned with the others.
  void Show(std::string label, std::string value);
  // A failure of the kind status: the message goes to standard error and
  // into the JSON object's "error".
  void Fail(ExitStatus status, std::string message);
  // An outcome that is the answer itself (is-versioned: not versioned), with
  // nothing to say on standard error.
  void Conclude(ExitStatus status) { status_ = status; }
  ExitStatus Status() const { return status_; }
  // Prints what was gathered and gives the exit status.
  int Finish();

 private:
  bool json_;
  ExitStatus status_ = kSucceeded;
  Json object_ = Json::object();
  std::string command_;
  std::string error_;
  // A sentence has an empty label.
  std::vector<std::pair<std::string, std::string>> lines_;
};

// A text the daemon handed out, safe to embed in JSON: bytes that are not
// UTF-8 become U+FFFD.
std::string Clean(const char* text);

}  // namespace korvane::cli
