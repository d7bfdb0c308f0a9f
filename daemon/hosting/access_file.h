// A space's korvane:members property as text, read and written again. The
// team server's hook (scripts/korvane-hook) renders the server's access
// rules from these properties; clients never write access rules. See
// team_repository.h for the layout.
#pragma once

#include <map>
#include <string>

namespace korvane::server::team {

inline constexpr char kMembersProperty[] = "korvane:members";
inline constexpr char kDescriptionProperty[] = "korvane:description";
// On the top folder: the service's users, one a line; the server sets it.
inline constexpr char kUsersProperty[] = "korvane:users";

// "USER<TAB>ROLE" lines (a line without a tab is a "member"); a line whose
// user or role breaks the rule of names grants nothing and is left out.
std::map<std::string, std::string> ParseMembers(const std::string& text);
std::string RenderMembers(const std::map<std::string, std::string>& members);

}  // namespace korvane::server::team
