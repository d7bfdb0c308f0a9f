#include "link/path_status.h"

#include "protocol/fields.h"

#include <vector>

namespace korvane::link {

namespace {
constexpr std::size_t kStatusReplyFields = 4;

ActivationMode ModeOf(std::string_view field) {
  if (field.size() == 1 && field[0] >= '0' && field[0] <= '3') return static_cast<ActivationMode>(field[0] - '0');
  return ActivationMode::None;
}
}  // namespace

std::string PathStatusInfo::Text() const {
  return std::to_string(static_cast<int>(mode)) + '|' + text1 + '|' + text2 + '|' + text3 + '|';
}

bool ParseStatusReply(std::string_view reply, PathStatusInfo& status) {
  std::vector<std::string> fields;
  protocol::SplitString(fields, reply, protocol::kFieldSeparator);
  if (fields.size() < kStatusReplyFields) return false;
  status.mode = ModeOf(fields[0]);
  status.text1 = std::move(fields[1]);
  status.text2 = std::move(fields[2]);
  status.text3 = std::move(fields[3]);
  return true;
}

}  // namespace korvane::link
