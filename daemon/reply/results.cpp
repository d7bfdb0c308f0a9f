#include "daemon/reply/results.h"

#include "daemon/reply/protocol.h"

#include <charconv>

namespace korvane::server {

namespace {

// The result's text followed by the specifics in parentheses, when any.
std::string TextWith(Result result, std::string_view specifics) {
  std::string message = TextOf(result).text;
  if (!specifics.empty()) ((message += " (") += specifics) += ')';
  return message;
}

}  // namespace

const ResultText& TextOf(Result result) {
  for (const ResultText& entry : kResultTexts) {
    if (entry.result == result) return entry;
  }
  return TextOf(Result::InternalError);
}

std::string ErrorTextFor(std::string_view key) {
  if (key.empty()) return "No error key was given.";
  std::int32_t code = 0;
  const auto [end, error] = std::from_chars(key.data(), key.data() + key.size(), code);
  const bool numeric = error == std::errc() && end == key.data() + key.size();
  for (const ResultText& entry : kResultTexts) {
    if (numeric ? static_cast<std::int32_t>(entry.result) == code : key == entry.key) return entry.text;
  }
  return "The error key \"" + std::string(key) + "\" is not known.";
}

std::string Verdict(std::string_view operation, Result result, std::string_view specifics, std::int32_t systemError,
                    std::string_view detail) {
  const std::string code = std::to_string(static_cast<std::int32_t>(result));
  const std::string system = std::to_string(systemError);
  return JoinFields({code, operation, TextWith(result, specifics), system, detail});
}

std::string FailureReply(Result result, std::string_view detail) {
  const ResultText& entry = TextOf(result);
  return JoinFields({entry.key, entry.text, detail});
}

std::string HostingFailure(Result result, std::string_view detail) {
  return HostingRefusal(result, TextWith(result, detail));
}

std::string HostingRefusal(Result result, std::string_view message) {
  return JoinFields({"", TextOf(result).key, message});
}

}  // namespace korvane::server
