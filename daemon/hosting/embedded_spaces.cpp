#include "daemon/hosting/embedded_spaces.h"

#include "names.h"
#include "daemon/platform/atomic_file.h"
#include "daemon/base/utf8_path.h"
#include "daemon/svn/svn_runtime.h"

#include <svn_dirent_uri.h>
#include <svn_fs.h>
#include <svn_repos.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>

namespace korvane::server {

namespace {

namespace fs = std::filesystem;

constexpr char kMembersFile[] = "/conf/korvane-members";
constexpr char kDescriptionFile[] = "/conf/korvane-description";
constexpr char kDefaultRole[] = "member";
constexpr char kOwnerRole[] = "owner";

std::vector<std::string> ReadLines(const std::string& file) {
  std::vector<std::string> lines;
  std::ifstream in(PathOf(file));
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line[0] != '#') lines.push_back(line);
  }
  return lines;
}

bool IsSpace(const std::string& folder) {
  std::error_code error;
  return fs::is_regular_file(PathOf(folder + "/format"), error) && fs::is_directory(PathOf(folder + "/db"), error);
}

std::vector<std::string> SpaceNames(const DaemonPaths& paths) {
  std::vector<std::string> names;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(PathOf(paths.SpacesFolder()), error)) {
    if (IsSpace(TextOf(entry.path()))) names.push_back(TextOf(entry.path().filename()));
  }
  std::sort(names.begin(), names.end());
  return names;
}

// USER -> ROLE.
std::map<std::string, std::string> Members(const std::string& folder) {
  std::map<std::string, std::string> members;
  for (const std::string& line : ReadLines(folder + kMembersFile)) {
    const std::size_t tab = line.find('\t');
    members[line.substr(0, tab)] = tab == std::string::npos ? kDefaultRole : line.substr(tab + 1);
  }
  return members;
}

// Empty on success, otherwise what failed.
std::string SaveMembers(const std::string& folder, const std::map<std::string, std::string>& members) {
  std::string text = "# members of this space: USER<TAB>ROLE\n";
  for (const auto& [user, role] : members) text += user + '\t' + role + '\n';
  return ReplaceFileAtomically(folder + kMembersFile, text);
}

std::optional<svn_revnum_t> Youngest(const std::string& folder, std::string& problem) {
  Pool pool;
  svn_repos_t* repository = nullptr;
  svn_revnum_t youngest = 0;
  std::optional<SvnFailure> failure = TakeError(svn_repos_open3(&repository, folder.c_str(), nullptr, pool, pool));
  if (!failure) failure = TakeError(svn_fs_youngest_rev(&youngest, svn_repos_fs(repository), pool));
  if (failure) {
    problem = failure->message;
    return std::nullopt;
  }
  return youngest;
}

HostingAnswer Failure(Result result, std::string text) { return {result, std::move(text), {}}; }

}  // namespace

std::string EmbeddedSpaces::Folder(const std::string& space) const { return paths_.SpacesFolder() + "/" + space; }

std::string EmbeddedSpaces::SpaceUrl(const std::string& space) const {
  Pool pool;
  const char* url = nullptr;
  if (TakeError(svn_uri_get_file_url_from_dirent(&url, Folder(space).c_str(), pool))) return {};
  return url;
}

bool EmbeddedSpaces::MayHold(const std::string& space) const { return IsSpace(Folder(space)); }

HostingAnswer EmbeddedSpaces::ListSpaces() { return {Result::Done, {}, SpaceNames(paths_)}; }

HostingAnswer EmbeddedSpaces::ShowSpace(const std::string& space) {
  const std::string folder = Folder(space);
  if (!IsSpace(folder)) return Failure(Result::NotFound, "no space is named " + space);
  std::string problem;
  const std::optional<svn_revnum_t> youngest = Youngest(folder, problem);
  if (!youngest) return Failure(Result::SubversionFailed, problem);
  HostingAnswer answer{Result::Done, std::to_string(*youngest), {}};
  std::lock_guard lock(changes_);
  for (const auto& [user, role] : Members(folder)) answer.lines.push_back(user + '\t' + role);
  return answer;
}

HostingAnswer EmbeddedSpaces::CreateSpace(const std::string& space, const std::string& description,
                                          const std::string& owner) {
  if (!owner.empty()) {
    if (std::string problem = UserProblem(owner); !problem.empty()) return Failure(Result::BadArguments, problem);
  }
  std::lock_guard lock(changes_);
  const std::string folder = Folder(space);
  const std::string folded = names::Folded(space);
  for (const std::string& taken : SpaceNames(paths_)) {
    if (names::Folded(taken) == folded) return Failure(Result::AlreadyExists, "the space " + taken + " exists");
  }
  std::string prepared;
  if (!PrepareFolder(paths_.dataFolder, true, prepared)) return Failure(Result::FileSystemFailed, prepared);
  std::error_code error;
  fs::create_directories(PathOf(paths_.SpacesFolder()), error);
  if (error) return Failure(Result::FileSystemFailed, "cannot create " + paths_.SpacesFolder());
  Pool pool;
  svn_repos_t* repository = nullptr;
  if (std::optional<SvnFailure> failure =
          TakeError(svn_repos_create(&repository, folder.c_str(), nullptr, nullptr, nullptr, nullptr, pool))) {
    return Failure(Result::SubversionFailed, failure->message);
  }
  std::string problem;
  if (!description.empty()) problem = ReplaceFileAtomically(folder + kDescriptionFile, description + "\n");
  if (problem.empty() && !owner.empty()) problem = SaveMembers(folder, {{owner, kOwnerRole}});
  if (problem.empty() && !owner.empty()) problem = AddUser(owner);
  if (!problem.empty()) return Failure(Result::FileSystemFailed, problem);
  return {};
}

HostingAnswer EmbeddedSpaces::FindUsers() {
  std::lock_guard lock(changes_);
  return {Result::Done, {}, ReadLines(paths_.UsersFile())};
}

HostingAnswer EmbeddedSpaces::Invite(const std::string& space, const std::string& user, const std::string& role) {
  if (!names::IsRole(role)) {
    return Failure(Result::BadArguments, "\"" + role + "\" is not a role: owner, member or reader");
  }
  std::lock_guard lock(changes_);
  const std::string folder = Folder(space);
  if (!IsSpace(folder)) return Failure(Result::NotFound, "no space is named " + space);
  std::map<std::string, std::string> members = Members(folder);
  members[user] = role;
  std::string problem = SaveMembers(folder, members);
  if (problem.empty()) problem = AddUser(user);
  if (!problem.empty()) return Failure(Result::FileSystemFailed, problem);
  return {};
}

std::string EmbeddedSpaces::AddUser(const std::string& user) {
  const std::vector<std::string> lines = ReadLines(paths_.UsersFile());
  std::set<std::string> users(lines.begin(), lines.end());
  if (!users.insert(user).second) return {};
  std::string text = "# users of the hosting service\n";
  for (const std::string& each : users) (text += each) += '\n';
  return ReplaceFileAtomically(paths_.UsersFile(), text);
}

}  // namespace korvane::server
