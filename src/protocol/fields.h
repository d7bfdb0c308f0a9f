// The "|"-separated fields of payloads and replies: cutting a text into
// them, and putting them together.
#pragma once

#include "protocol/commands.h"

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace korvane::protocol {

inline constexpr std::string_view kFieldSeparator = "|";

// Appends the fields of text, cut at every occurrence of delimiter, to
// fields. Empty fields stay: n delimiters give n + 1 fields, and the empty
// text one empty field. An empty delimiter gives the whole text as one field.
void SplitString(std::vector<std::string>& fields, std::string_view text, std::string_view delimiter);

// The payload's "|"-separated arguments: the first count fields, missing
// ones empty.
std::vector<std::string> SplitArguments(std::string_view payload, std::size_t count);

// The arguments of a command as its payload shape carries them: a payload
// of one text is that one argument whole (a "|" in it stays), the others
// give the command's number of fields.
std::vector<std::string> ArgumentsOf(const CommandInfo& command, std::string_view payload);

// The fields with "|" between them, as they are.
std::string JoinFields(std::initializer_list<std::string_view> fields);

}  // namespace korvane::protocol
