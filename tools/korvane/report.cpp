#include "report.h"

#include <cstdarg>
#include <cstdio>
#include <string>

namespace korvane::cli {

Report::Report(const char* command, bool json) : json_(json) {
  writer_.BeginObject().Key("command").String(command);
}

void Report::Result(std::int32_t value) {
  hasResult_ = true;
  writer_.Key("result").Number(value);
}

void Report::Say(const char* format, ...) {
  if (json_) return;
  va_list arguments;
  va_start(arguments, format);
  std::vprintf(format, arguments);
  va_end(arguments);
}

void Report::HandedOut(std::string_view name, const char* label, const char* text) {
  if (json_) {
    Member(name).String(text);
  } else {
    std::printf("%s%s\n", label, text != nullptr ? text : "(none)");
  }
}

void Report::WrongUse(std::string_view message) {
  std::fprintf(stderr, "%.*s\n", static_cast<int>(message.size()), message.data());
  if (!hasResult_) {
    writer_.Key("result").Null();
    hasResult_ = true;
  }
  writer_.Key("error").String(message);
  hasError_ = true;
}

void Report::Finish() {
  if (!json_) return;
  if (!hasResult_) writer_.Key("result").Null();
  writer_.EndObject();
  std::printf("%s\n", writer_.Text().c_str());
  std::fflush(stdout);
}

}  // namespace korvane::cli
