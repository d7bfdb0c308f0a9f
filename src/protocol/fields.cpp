#include "protocol/fields.h"

#include <algorithm>

namespace korvane::protocol {

void SplitString(std::vector<std::string>& fields, std::string_view text, std::string_view delimiter) {
  if (delimiter.empty()) {
    fields.emplace_back(text);
    return;
  }
  std::size_t start = 0;
  for (;;) {
    std::size_t found = text.find(delimiter, start);
    if (found == std::string_view::npos) {
      fields.emplace_back(text.substr(start));
      return;
    }
    fields.emplace_back(text.substr(start, found - start));
    start = found + delimiter.size();
  }
}

std::vector<std::string> SplitArguments(std::string_view payload, std::size_t count) {
  std::vector<std::string> fields;
  SplitString(fields, payload, kFieldSeparator);
  fields.resize(count);
  return fields;
}

std::vector<std::string> ArgumentsOf(const CommandInfo& command, std::string_view payload) {
  switch (command.payload) {
    case PayloadShape::None:
      return {};
    case PayloadShape::LocalPath:
    case PayloadShape::InternalPath:
    case PayloadShape::Plain:
      return {std::string(payload)};
    case PayloadShape::Separated:
    case PayloadShape::Joined:
      break;
  }
  return SplitArguments(payload, static_cast<std::size_t>(command.arguments));
}

std::optional<std::size_t> FieldCountOf(const CommandInfo& command) {
  if (command.channel != Channel::Request && command.channel != Channel::OneWay) return std::nullopt;
  switch (command.payload) {
    case PayloadShape::Separated:
      return static_cast<std::size_t>(command.arguments) + 1;
    case PayloadShape::Joined:
      return static_cast<std::size_t>(command.arguments);
    case PayloadShape::None:
    case PayloadShape::LocalPath:
    case PayloadShape::InternalPath:
    case PayloadShape::Plain:
      break;
  }
  return 1;
}

std::size_t FieldCount(std::string_view payload) {
  return static_cast<std::size_t>(std::count(payload.begin(), payload.end(), '|')) + 1;
}

bool FieldCountFits(const CommandInfo& command, const std::optional<std::string_view>& payload) {
  const std::optional<std::size_t> expected = FieldCountOf(command);
  if (!expected || !payload) return true;
  // The field after a separated payload's last "|" is empty: text there is
  // an argument's tail cut off at a "|" of its own.
  if (command.payload == PayloadShape::Separated && !payload->ends_with(kFieldSeparator)) return false;
  return FieldCount(*payload) == *expected;
}

std::string JoinArguments(std::initializer_list<std::string_view> fields) {
  std::string text;
  bool first = true;
  for (std::string_view field : fields) {
    if (!first) text += kFieldSeparator;
    first = false;
    text += field;
  }
  return text;
}

}  // namespace korvane::protocol
