#include "link/daemon_error.h"

#include "protocol/fields.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace korvane::link {

namespace {
constexpr std::size_t kErrorReplyFields = 5;

bool IsCSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
}  // namespace

std::int32_t ReadDecimal(std::string_view field) {
  std::size_t at = 0;
  while (at < field.size() && IsCSpace(field[at])) ++at;
  bool negative = false;
  if (at < field.size() && (field[at] == '+' || field[at] == '-')) negative = field[at++] == '-';
  constexpr std::int64_t kBeyond = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  std::int64_t value = 0;
  for (; at < field.size() && field[at] >= '0' && field[at] <= '9'; ++at) {
    value = std::min(value * 10 + (field[at] - '0'), kBeyond);
  }
  if (negative) return static_cast<std::int32_t>(-value);
  return static_cast<std::int32_t>(std::min<std::int64_t>(value, std::numeric_limits<std::int32_t>::max()));
}

void DaemonError::SetError(std::int32_t newCode, std::string_view newOperation, std::string_view newMessage,
                           std::int32_t newSystemError) {
  code = newCode;
  operation = newOperation;
  message = newMessage;
  systemError = newSystemError;
  RebuildText();
}

bool DaemonError::ParseErrorReply(std::string_view reply) {
  std::vector<std::string> fields;
  protocol::SplitString(fields, reply, protocol::kFieldSeparator);
  if (fields.size() < kErrorReplyFields) return false;
  code = ReadDecimal(fields[0]);
  operation = std::move(fields[1]);
  message = std::move(fields[2]);
  systemError = ReadDecimal(fields[3]);
  detail = std::move(fields[4]);
  RebuildText();
  return true;
}

void DaemonError::RebuildText() {
  text = std::to_string(code) + '|' + operation + '|' + message + '|' + std::to_string(systemError) + '|' + detail + '|';
}

}  // namespace korvane::link
