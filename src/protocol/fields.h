// The "|"-separated fields of payloads and replies: cutting a text into
// them, and putting them together.
#pragma once

#include "protocol/commands.h"

#include <initializer_list>
#include <optional>
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

// How many "|"-separated fields a payload of the command holds: one for a
// payload taken whole, the arguments for one joined with "|" between them,
// one more for one with "|" after each (the last field is empty). Nothing
// for frames that carry no arguments to check (close, stop).
std::optional<std::size_t> FieldCountOf(const CommandInfo& command);

// The fields of a payload: its "|" separators plus one.
std::size_t FieldCount(std::string_view payload);

// Whether a payload holds its command's field count. A request with more
// fields than its command takes would let a "|" inside one argument pass
// for the next (a user "eve|owner", a URL ending in "|PATH|3"), so a daemon
// refuses it whichever client sent it; so it does a separated payload whose
// last field is not empty, where the same "|" would cut an argument short.
// A frame without payload passes: its handler says what is missing.
bool FieldCountFits(const CommandInfo& command, const std::optional<std::string_view>& payload);

// The fields with "|" between them, as they are.
std::string JoinArguments(std::initializer_list<std::string_view> fields);

}  // namespace korvane::protocol
