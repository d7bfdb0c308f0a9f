// Cutting a reply text into its "|"-separated fields.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace korvane::daemon {

inline constexpr std::string_view kFieldSeparator = "|";

// Appends the fields of text, cut at every occurrence of delimiter, to
// fields. Empty fields stay: n delimiters give n + 1 fields, and the empty
// text one empty field. An empty delimiter gives the whole text as one field.
void SplitString(std::vector<std::string>& fields, std::string_view text, std::string_view delimiter);

}  // namespace korvane::daemon
