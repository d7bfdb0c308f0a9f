// The team service's access file (the server's authz file, kept in the
// repository as korvane-access) and a space's korvane:members property, as
// text: read, changed and written again. See team_service.h for the layout.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace korvane::server::team {

inline constexpr char kAccessFile[] = "korvane-access";
inline constexpr char kMembersProperty[] = "korvane:members";
inline constexpr char kDescriptionProperty[] = "korvane:description";
inline constexpr char kUsersGroup[] = "korvane-users";

// The access file as sections of lines, in file order; the lines before
// the first section are kept under "".
class AccessFile {
 public:
  explicit AccessFile(const std::string& text);
  std::string Render() const;

  std::vector<std::string> Users() const;
  void AddUser(const std::string& user);
  // The section of a space follows its members: "* =" first, then one line
  // per member.
  void SetSpace(const std::string& space, const std::map<std::string, std::string>& members);
  static std::vector<std::string> SectionFor(const std::map<std::string, std::string>& members);

 private:
  std::vector<std::pair<std::string, std::vector<std::string>>> sections_;
};

std::map<std::string, std::string> ParseMembers(const std::string& text);
std::string RenderMembers(const std::map<std::string, std::string>& members);

}  // namespace korvane::server::team
