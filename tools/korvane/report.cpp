#include "report.h"

#include "text.h"

#include <algorithm>
#include <cstdio>

namespace korvane::cli {

Report::Report(std::string command, bool json) : json_(json), command_(std::move(command)) {}

void Report::Say(std::string sentence) { lines_.emplace_back(std::string(), std::move(sentence)); }

void Report::Show(std::string label, std::string value) { lines_.emplace_back(std::move(label), std::move(value)); }

void Report::Fail(ExitStatus status, std::string message) {
  std::fprintf(stderr, "%s\n", message.c_str());
  if (status_ == kSucceeded) status_ = status;
  if (error_.empty()) error_ = std::move(message);
}

int Report::Finish() {
  if (json_) {
    Json out = {{"command", command_.empty() ? Json(nullptr) : Json(command_)},
                          {"exitStatus", static_cast<int>(status_)},
                          {"error", error_.empty() ? Json(nullptr) : Json(error_)}};
    out.update(object_);
    std::printf("%s\n", out.dump(-1, ' ', false, Json::error_handler_t::replace).c_str());
  } else {
    std::size_t width = 0;
    for (const auto& [label, value] : lines_) width = std::max(width, label.size());
    for (const auto& [label, value] : lines_) {
      if (label.empty()) {
        std::printf("%s\n", value.c_str());
      } else {
        std::printf("%-*s  %s\n", static_cast<int>(width + 1), (label + ":").c_str(), value.c_str());
      }
    }
  }
  std::fflush(stdout);
  return status_;
}

std::string Clean(const char* text) { return text == nullptr ? std::string() : Utf8(Utf16(text)); }

}  // namespace korvane::cli
