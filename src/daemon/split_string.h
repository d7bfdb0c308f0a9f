// Cutting a reply text into its "|"-separated fields, and joining request
// arguments with the same separator.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace korvane::daemon {

inline constexpr std::string_view kFieldSeparator = "|";

// Appends the fields of text, cut at every occurrence of delimiter, to
// fields. Empty fields stay: n delimiters give n + 1 fields, and the empty
// text one empty field. An empty delimiter gives the whole text as one field.
void SplitString(std::vector<std::string>& fields, std::string_view text, std::string_view delimiter);

// The payload of a request whose arguments the daemon splits at "|": each
// argument followed by "|", or, when terminated is false, the arguments with
// "|" between them. Nothing when an argument holds "|" itself: the daemon
// would read its pieces as other arguments, so such a request is not sent.
std::optional<std::string> JoinArguments(std::span<const std::string> arguments, bool terminated = true);

}  // namespace korvane::daemon
