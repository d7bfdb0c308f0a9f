// DaemonError: the outcome of a repository or local-directory command, as
// the daemon answered it or as the link saw it fail, and its text form
// code|operation|message|systemError|detail| that callers receive.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace korvane::link {

// The code the link records when its own pipe call failed.
inline constexpr std::int32_t kPipeCallFailed = -15;
inline constexpr char kPipeCallFailedMessage[] = "The operation failed.";

struct DaemonError {
  std::int32_t code = -1000;  // -1000: nothing was received and nothing failed
  std::string operation;
  std::string message;
  std::int32_t systemError = 0;
  std::string detail;
  std::string text;  // the five fields joined, each followed by "|"; empty until set

  // Sets all but the detail and rebuilds the text.
  void SetError(std::int32_t newCode, std::string_view newOperation, std::string_view newMessage,
                std::int32_t newSystemError);
  // Fills the record from a reply of at least five "|"-separated fields
  // (further fields are ignored) and rebuilds the text. A shorter reply
  // leaves the record as it was and gives false.
  bool ParseErrorReply(std::string_view reply);
  void RebuildText();
};

// A decimal number read as the C library's atoi reads it (leading white
// space, a sign, digits up to the first non-digit, no digits give 0), with
// values beyond 32 bits held at the nearest limit instead of overflowing.
std::int32_t ReadDecimal(std::string_view field);

}  // namespace korvane::link
