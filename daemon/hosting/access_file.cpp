#include "daemon/hosting/access_file.h"

#include "names.h"

#include <sstream>

namespace korvane::server::team {

std::map<std::string, std::string> ParseMembers(const std::string& text) {
  std::map<std::string, std::string> members;
  std::stringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.empty()) continue;
    const std::size_t tab = line.find('\t');
    const std::string user = line.substr(0, tab);
    const std::string role = tab == std::string::npos ? "member" : line.substr(tab + 1);
    if (!names::UserNameProblem(user) && names::IsRole(role)) members[user] = role;
  }
  return members;
}

std::string RenderMembers(const std::map<std::string, std::string>& members) {
  std::string text;
  for (const auto& [user, role] : members) text += user + '\t' + role + '\n';
  return text;
}

}  // namespace korvane::server::team
