#include "access_file.h"

#include <algorithm>
#include <set>
#include <sstream>

namespace korvane::server::team {

namespace {

std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::vector<std::string> SplitList(const std::string& text) {
  std::vector<std::string> items;
  std::stringstream in(text);
  for (std::string item; std::getline(in, item, ',');) {
    if (!Trimmed(item).empty()) items.push_back(Trimmed(item));
  }
  return items;
}

}  // namespace

AccessFile::AccessFile(const std::string& text) {
  sections_.push_back({"", {}});
  std::stringstream in(text);
  for (std::string line; std::getline(in, line);) {
    const std::string trimmed = Trimmed(line);
    if (trimmed.size() > 2 && trimmed.front() == '[' && trimmed.back() == ']') {
      sections_.push_back({trimmed.substr(1, trimmed.size() - 2), {}});
    } else if (!trimmed.empty()) {
      sections_.back().second.push_back(trimmed);
    }
  }
}

std::string AccessFile::Render() const {
  std::string text;
  for (const auto& [name, lines] : sections_) {
    if (!name.empty()) text += (text.empty() ? "[" : "\n[") + name + "]\n";
    for (const std::string& line : lines) text += line + '\n';
  }
  return text;
}

std::vector<std::string> AccessFile::Users() const {
  std::set<std::string> users;
  for (const auto& [name, lines] : sections_) {
    if (name != "groups") continue;
    for (const std::string& line : lines) {
      const std::size_t equals = line.find('=');
      if (equals == std::string::npos || Trimmed(line.substr(0, equals)) != kUsersGroup) continue;
      for (const std::string& user : SplitList(line.substr(equals + 1))) users.insert(user);
    }
  }
  return {users.begin(), users.end()};
}

void AccessFile::AddUser(const std::string& user) {
  std::vector<std::string> users = Users();
  if (std::find(users.begin(), users.end(), user) != users.end()) return;
  users.push_back(user);
  std::sort(users.begin(), users.end());
  std::string line = std::string(kUsersGroup) + " =";
  for (std::size_t i = 0; i < users.size(); ++i) line += (i == 0 ? " " : ", ") + users[i];
  auto groups = std::find_if(sections_.begin(), sections_.end(), [](const auto& s) { return s.first == "groups"; });
  if (groups == sections_.end()) groups = sections_.insert(sections_.begin() + 1, {"groups", {}});
  std::erase_if(groups->second, [](const std::string& each) {
    const std::size_t equals = each.find('=');
    return equals != std::string::npos && Trimmed(each.substr(0, equals)) == kUsersGroup;
  });
  groups->second.insert(groups->second.begin(), line);
}

std::vector<std::string> AccessFile::SectionFor(const std::map<std::string, std::string>& members) {
  std::vector<std::string> lines{"* ="};
  for (const auto& [user, role] : members) lines.push_back(user + " = " + (role == "reader" ? "r" : "rw"));
  return lines;
}

void AccessFile::SetSpace(const std::string& space, const std::map<std::string, std::string>& members) {
  const std::string name = "/" + space;
  auto section = std::find_if(sections_.begin(), sections_.end(), [&](const auto& s) { return s.first == name; });
  if (section == sections_.end()) {
    sections_.push_back({name, SectionFor(members)});
  } else {
    section->second = SectionFor(members);
  }
}

std::map<std::string, std::string> ParseMembers(const std::string& text) {
  std::map<std::string, std::string> members;
  std::stringstream in(text);
  for (std::string line; std::getline(in, line);) {
    const std::size_t tab = line.find('\t');
    if (line.empty()) continue;
    members[line.substr(0, tab)] = tab == std::string::npos ? "member" : line.substr(tab + 1);
  }
  return members;
}

std::string RenderMembers(const std::map<std::string, std::string>& members) {
  std::string text;
  for (const auto& [user, role] : members) text += user + '\t' + role + '\n';
  return text;
}

}  // namespace korvane::server::team
