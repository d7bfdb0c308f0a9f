// What one run of a subcommand tells its caller: lines for a person on
// standard output, or, with --json, one JSON object there and nothing else.
// Messages for a person about failures go to standard error either way.
#pragma once

#include "json_writer.h"

#include <cstdint>
#include <string_view>

namespace korvane::cli {

class Report {
 public:
  // command: the subcommand's name, or null when none was given.
  Report(const char* command, bool json);
  Report(const Report&) = delete;
  Report& operator=(const Report&) = delete;

  bool Json() const { return json_; }

  // The export's return value (for menu and is-versioned: the outcome).
  // Comes before any member.
  void Result(std::int32_t value);
  // A line for a person; left out of JSON.
  void Say(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // A text the library handed out: in JSON under name (null when there is
  // none), for a person after label ("(none)" when there is none).
  void HandedOut(std::string_view name, const char* label, const char* text);
  // A JSON member, its value written by the caller right after this. In
  // text mode the JSON object is built all the same and never printed.
  JsonWriter& Member(std::string_view name) { return writer_.Key(name); }
  // The open object itself, for members written key by key.
  JsonWriter& Members() { return writer_; }
  // Wrong use: the message goes to standard error; JSON records it under
  // "error" with a null result.
  void WrongUse(std::string_view message);
  bool HasError() const { return hasError_; }
  // Prints the JSON object; nothing in text mode.
  void Finish();

 private:
  bool json_;
  bool hasResult_ = false;
  bool hasError_ = false;
  JsonWriter writer_;
};

}  // namespace korvane::cli
