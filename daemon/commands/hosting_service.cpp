#include "daemon/commands/hosting_service.h"

#include "names.h"
#include "daemon/base/own_folders.h"
#include "daemon/platform/atomic_file.h"
#include "daemon/store/share_claims.h"

#include "daemon/svn/svn_runtime.h"
#include "daemon/hosting/team_service.h"

#include <svn_dirent_uri.h>
#include <svn_fs.h>
#include <svn_repos.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <vector>

namespace korvane::server {

namespace {

namespace fs = std::filesystem;

constexpr char kMembersFile[] = "/conf/korvane-members";
constexpr char kDescriptionFile[] = "/conf/korvane-description";
constexpr char kDefaultRole[] = "member";
constexpr char kOwnerRole[] = "owner";
constexpr char kImportMessage[] = "Shared by Korvane";
constexpr int kMaxNameTries = 1000;

// Changes of spaces, members and users are made one at a time.
std::mutex changes;

struct Reply {
  Result result = Result::Done;
  std::string first, second, third;  // on failure, second holds the message
  bool ownWords = false;             // the message stands alone, without the result's text
};

Reply Failure(Result result, std::string message) { return {result, {}, std::move(message), {}}; }

std::string Render(const Reply& reply) {
  if (reply.result != Result::Done && reply.ownWords) {
    return HostingRefusal(reply.result, reply.second);
  }
  if (reply.result != Result::Done) return HostingFailure(reply.result, reply.second);
  return JoinListFields({reply.first, reply.second, reply.third});
}

// A name must survive the files it is kept in: a line that starts with "#"
// is a comment there.
bool IsUsableName(std::string_view name) {
  if (name.empty() || name == "." || name == ".." || name.size() > 200 || name.front() == '#') return false;
  return std::none_of(name.begin(), name.end(),
                      [](unsigned char c) { return c == '/' || c == '|' || c < 0x20 || c == 0x7f; });
}

// Any case of any script: the pattern and the name compared case-folded.
bool Matches(const std::string& name, const std::string& pattern) {
  return pattern.empty() || names::Folded(name).find(names::Folded(pattern)) != std::string::npos;
}

std::string Lines(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) (text += item) += '\n';
  return text;
}

std::vector<std::string> ReadLines(const std::string& file) {
  std::vector<std::string> lines;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line[0] != '#') lines.push_back(line);
  }
  return lines;
}

std::string SpaceFolder(const DaemonPaths& paths, const std::string& name) { return paths.SpacesFolder() + "/" + name; }

bool IsSpace(const std::string& folder) {
  std::error_code error;
  return fs::is_regular_file(folder + "/format", error) && fs::is_directory(folder + "/db", error);
}

std::string SpaceUrl(const std::string& folder) {
  Pool pool;
  const char* url = nullptr;
  if (TakeError(svn_uri_get_file_url_from_dirent(&url, folder.c_str(), pool))) return {};
  return url;
}

std::vector<std::string> SpaceNames(const DaemonPaths& paths) {
  std::vector<std::string> names;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(paths.SpacesFolder(), error)) {
    if (IsSpace(entry.path().string())) names.push_back(entry.path().filename().string());
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

// Called with changes held; empty on success, otherwise what failed.
std::string SaveMembers(const std::string& folder, const std::map<std::string, std::string>& members) {
  std::string text = "# members of this space: USER<TAB>ROLE\n";
  for (const auto& [user, role] : members) text += user + '\t' + role + '\n';
  return ReplaceFileAtomically(folder + kMembersFile, text);
}

// Called with changes held.
std::string AddUser(const DaemonPaths& paths, const std::string& user) {
  const std::vector<std::string> lines = ReadLines(paths.UsersFile());
  std::set<std::string> users(lines.begin(), lines.end());
  if (!users.insert(user).second) return {};
  return ReplaceFileAtomically(paths.UsersFile(), "# users of the hosting service\n" +
                                                      Lines(std::vector<std::string>(users.begin(), users.end())));
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

team::Service Remote(DaemonContext& context) { return team::Service(context.service.url, context.stopping); }

Reply FromAnswer(const team::Answer& answer) {
  Reply reply = Failure(answer.result, answer.text);
  reply.ownWords = answer.ownWords;
  return reply;
}

// Why a space name cannot be used on the team service; empty when it can.
std::string SpaceNameProblem(const std::string& name) {
  const std::optional<std::string> problem = names::SpaceNameProblem(name);
  return problem ? "\"" + name + "\" cannot name a space: " + *problem : std::string();
}

std::string UserProblem(const std::string& user) {
  const std::optional<std::string> problem = names::UserNameProblem(user);
  return problem ? "\"" + user + "\" cannot name a user: " + *problem : std::string();
}

Reply MakeRemoteSpace(DaemonContext& context, const std::string& given, const std::string& description,
                      const std::string& owner) {
  const std::string name = names::Normalised(given).value_or(given);
  if (std::string problem = SpaceNameProblem(name); !problem.empty()) {
    return Failure(Result::BadArguments, problem);
  }
  const std::string& by = owner.empty() ? context.service.user : owner;
  if (std::string problem = UserProblem(by); !problem.empty()) return Failure(Result::BadArguments, problem);
  team::Service service = Remote(context);
  const team::Answer made = service.CreateSpace(name, description, by);
  if (made.result != Result::Done) return FromAnswer(made);
  context.log.Info("created the space " + name + " on " + context.service.url);
  return {Result::Done, service.SpaceUrl(name), "created", {}};
}

// Makes the space's repository; its URL is the reply's first field.
Reply MakeSpace(DaemonContext& context, const std::string& given, const std::string& description,
                const std::string& owner) {
  if (context.service.IsRemote()) return MakeRemoteSpace(context, given, description, owner);
  // The embedded service takes names by the same rule as a team's.
  const std::string name = names::Normalised(given).value_or(given);
  if (std::string problem = SpaceNameProblem(name); !problem.empty()) {
    return Failure(Result::BadArguments, problem);
  }
  if (!owner.empty()) {
    if (std::string problem = UserProblem(owner); !problem.empty()) return Failure(Result::BadArguments, problem);
  }
  std::lock_guard lock(changes);
  const std::string folder = SpaceFolder(context.paths, name);
  std::error_code error;
  const std::string folded = names::Folded(name);
  for (const std::string& taken : SpaceNames(context.paths)) {
    if (names::Folded(taken) == folded) return Failure(Result::AlreadyExists, "the space " + taken + " exists");
  }
  std::string prepared;
  if (!PrepareFolder(context.paths.dataFolder, true, prepared)) return Failure(Result::FileSystemFailed, prepared);
  fs::create_directories(context.paths.SpacesFolder(), error);
  if (error) return Failure(Result::FileSystemFailed, "cannot create " + context.paths.SpacesFolder());
  Pool pool;
  svn_repos_t* repository = nullptr;
  if (std::optional<SvnFailure> failure =
          TakeError(svn_repos_create(&repository, folder.c_str(), nullptr, nullptr, nullptr, nullptr, pool))) {
    return Failure(Result::SubversionFailed, failure->message);
  }
  std::string problem;
  if (!description.empty()) problem = ReplaceFileAtomically(folder + kDescriptionFile, description + "\n");
  if (problem.empty() && !owner.empty()) problem = SaveMembers(folder, {{owner, kOwnerRole}});
  if (problem.empty() && !owner.empty()) problem = AddUser(context.paths, owner);
  if (!problem.empty()) return Failure(Result::FileSystemFailed, problem);
  context.log.Info("created the space " + name);
  return {Result::Done, SpaceUrl(folder), "created", {}};
}

// A request run on a thread of its own, its arguments the payload's first
// fields, as many as the protocol table gives the command.
Handling Run(DaemonContext& context, Command command, const std::optional<std::string>& payload,
             Reply (*body)(DaemonContext&, const std::vector<std::string>&)) {
  std::vector<std::string> arguments = protocol::ArgumentsOf(protocol::Describe(command), payload.value_or(""));
  return {std::nullopt, [&context, arguments = std::move(arguments), body] {
            return Render(body(context, arguments));
          }};
}

Reply ListSpacesNow(DaemonContext& context, const std::vector<std::string>& arguments) {
  std::vector<std::string> names;
  if (context.service.IsRemote()) {
    team::Answer listed = Remote(context).ListSpaces();
    if (listed.result != Result::Done) return FromAnswer(listed);
    names = std::move(listed.lines);
  } else {
    names = SpaceNames(context.paths);
  }
  std::erase_if(names, [&](const std::string& name) { return !Matches(name, arguments[0]); });
  return {Result::Done, std::to_string(names.size()), Lines(names), {}};
}

Reply ShowSpaceNow(DaemonContext& context, const std::vector<std::string>& arguments) {
  const std::string& name = arguments[0];
  if (!IsUsableName(name)) return Failure(Result::BadArguments, "not a usable space name: \"" + name + "\"");
  if (context.service.IsRemote()) {
    team::Service service = Remote(context);
    const team::Answer shown = service.ShowSpace(name);
    if (shown.result != Result::Done) return FromAnswer(shown);
    return {Result::Done, service.SpaceUrl(name), Lines(shown.lines), shown.text};
  }
  const std::string folder = SpaceFolder(context.paths, name);
  if (!IsSpace(folder)) return Failure(Result::NotFound, "no space is named " + name);
  std::string problem;
  const std::optional<svn_revnum_t> youngest = Youngest(folder, problem);
  if (!youngest) return Failure(Result::SubversionFailed, problem);
  std::vector<std::string> members;
  {
    std::lock_guard lock(changes);
    for (const auto& [user, role] : Members(folder)) members.push_back(user + '\t' + role);
  }
  return {Result::Done, SpaceUrl(folder), Lines(members), std::to_string(*youngest)};
}

Reply CreateSpaceNow(DaemonContext& context, const std::vector<std::string>& arguments) {
  return MakeSpace(context, arguments[0], arguments[1], arguments[2]);
}

Reply FindUsersNow(DaemonContext& context, const std::vector<std::string>& arguments) {
  std::vector<std::string> users;
  if (context.service.IsRemote()) {
    team::Answer found = Remote(context).FindUsers();
    if (found.result != Result::Done) return FromAnswer(found);
    users = std::move(found.lines);
  } else {
    std::lock_guard lock(changes);
    users = ReadLines(context.paths.UsersFile());
  }
  std::erase_if(users, [&](const std::string& user) { return !Matches(user, arguments[0]); });
  return {Result::Done, std::to_string(users.size()), Lines(users), {}};
}

Reply InviteNow(DaemonContext& context, const std::vector<std::string>& arguments) {
  const std::string& space = arguments[0];
  const std::string& user = arguments[1];
  const std::string role = arguments[2].empty() ? kDefaultRole : arguments[2];
  if (!IsUsableName(space) || !IsUsableName(user) || !IsUsableName(role)) {
    return Failure(Result::BadArguments, "a space, a user and a usable role are needed");
  }
  if (context.service.IsRemote()) {
    if (std::string problem = UserProblem(user); !problem.empty()) return Failure(Result::BadArguments, problem);
    if (!names::IsRole(role) && role != names::kNoRole) {
      return Failure(Result::BadArguments, "\"" + role + "\" is not a role: owner, member, reader, or none to remove");
    }
    const team::Answer invited = Remote(context).Invite(names::Normalised(space).value_or(space), user, role);
    if (invited.result != Result::Done) return FromAnswer(invited);
    if (role == names::kNoRole) {
      context.log.Info("removed " + user + " from " + space + " on " + context.service.url);
      return {Result::Done, "removed", space, user};
    }
    context.log.Info("invited " + user + " to " + space + " as " + role + " on " + context.service.url);
    return {Result::Done, "invited", space, user};
  }
  if (std::string problem = UserProblem(user); !problem.empty()) return Failure(Result::BadArguments, problem);
  if (!names::IsRole(role)) {
    return Failure(Result::BadArguments, "\"" + role + "\" is not a role: owner, member or reader");
  }
  std::lock_guard lock(changes);
  const std::string folder = SpaceFolder(context.paths, space);
  if (!IsSpace(folder)) return Failure(Result::NotFound, "no space is named " + space);
  std::map<std::string, std::string> members = Members(folder);
  members[user] = role;
  std::string problem = SaveMembers(folder, members);
  if (problem.empty()) problem = AddUser(context.paths, user);
  if (!problem.empty()) return Failure(Result::FileSystemFailed, problem);
  context.log.Info("invited " + user + " to " + space + " as " + role);
  return {Result::Done, "invited", space, user};
}

// A failure's message, with what to do when the service refused who we are.
std::string WithLoginAdvice(const SvnFailure& failure) {
  if (!IsCredentialFailure(failure)) return failure.message;
  return failure.message + "; the service refused the credential, or none is stored: run `korvane login`";
}

std::string LastComponent(const std::string& folder) { return folder.substr(folder.rfind('/') + 1); }

// Checks out url into folder; existing files there become versioned when
// adopt is set. Empty on success, otherwise what failed.
// A job's progress, counted from what Subversion reports file by file.
struct Progress {
  JobBoard& board;
  JobBoard::Id job;
};

void CountFile(void* baton, const svn_wc_notify_t* notify, apr_pool_t*) {
  if (notify->kind != svn_node_file || notify->path == nullptr) return;
  if (notify->action != svn_wc_notify_commit_added && notify->action != svn_wc_notify_update_add &&
      notify->action != svn_wc_notify_exists) {
    return;
  }
  std::error_code error;
  const std::uintmax_t size = fs::file_size(notify->path, error);
  auto* progress = static_cast<Progress*>(baton);
  progress->board.Advance(progress->job, error ? 0 : size);
}

// The files in a folder and their bytes, the totals of its share.
std::pair<std::uint64_t, std::uint64_t> CountFolder(const std::string& folder) {
  std::uint64_t files = 0, bytes = 0;
  std::error_code error;
  for (fs::recursive_directory_iterator each(folder, fs::directory_options::skip_permission_denied, error), end;
       !error && each != end; each.increment(error)) {
    if (!each->is_regular_file(error)) continue;
    ++files;
    bytes += each->file_size(error);
  }
  return {files, bytes};
}

std::string CheckOutInto(DaemonContext& context, const std::string& url, const std::string& folder, bool adopt,
                         Progress* progress = nullptr) {
  Pool pool;
  std::optional<SvnFailure> failure;
  svn_client_ctx_t* client = ClientContext(context.stopping, kImportMessage, pool, failure);
  if (client != nullptr && progress != nullptr) {
    client->notify_func2 = CountFile;
    client->notify_baton2 = progress;
  }
  if (client != nullptr) {
    const svn_opt_revision_t head{svn_opt_revision_head, {}};
    failure = TakeError(svn_client_checkout3(nullptr, url.c_str(), folder.c_str(), &head, &head, svn_depth_infinity,
                                             FALSE, adopt ? TRUE : FALSE, client, pool));
  }
  return failure ? WithLoginAdvice(*failure) : std::string();
}

// The shares running in this daemon.
ShareClaims& RunningShares() {
  static ShareClaims claims;
  return claims;
}

// A working copy somewhere inside folder (not folder itself): a folder
// shared already, or checked out there.
std::optional<std::string> WorkingCopyInside(const std::string& folder) {
  std::error_code error;
  for (fs::recursive_directory_iterator walk(folder, fs::directory_options::skip_permission_denied, error), end;
       !error && walk != end; walk.increment(error)) {
    if (walk->is_symlink(error) || !walk->is_directory(error)) continue;
    if (walk->path().filename() == ".svn") {
      const std::string holder = walk->path().parent_path().string();
      if (holder != folder) return holder;
      walk.disable_recursion_pending();
    }
  }
  return std::nullopt;
}

std::string ShareFolderNow(DaemonContext& context, const std::string& folder, JobBoard::Id job) {
  const std::string account = "shareFolder " + folder + ": ";
  const auto failed = [&](const std::string& why, Result result = Result::SubversionFailed) {
    context.log.Error(account + why);
    context.jobs.End(job, static_cast<std::int32_t>(context.stopping ? Result::Cancelled : result), why);
    return account + "not shared";
  };
  std::error_code error;
  if (folder == "/" || !fs::is_directory(folder, error)) return failed(folder + " is not a folder", Result::NotFound);
  if (std::optional<std::string> own = context.paths.OwnFolderTouchedBy(folder, false)) {
    return failed("part of the daemon's own folder " + *own, Result::NotAllowed);
  }
  // A share of a folder inside or around one whose share still runs waits
  // for nothing and does nothing.
  const ShareClaim claim(RunningShares(), ResolvedPath(folder));
  if (claim.Overlapping()) {
    const std::string why = "the share of " + *claim.Overlapping() + " is still running";
    context.log.Info(account + "ignored, " + why);
    context.jobs.End(job, static_cast<std::int32_t>(Result::Busy), why);
    return account + "ignored";
  }
  if (const std::string root = RepositoryRootOf(folder, context.stopping); !root.empty()) {
    // Shared already (or inside another working copy): nothing to do.
    context.log.Info(account + "ignored, already in a working copy of " + root);
    context.jobs.End(job, static_cast<std::int32_t>(Result::AlreadyExists), "already shared from " + root);
    return account + "ignored";
  }
  if (const std::optional<std::string> inside = WorkingCopyInside(folder)) {
    // Importing it would put a second copy of a shared folder's files in a
    // new space, and the checkout would make a working copy around another.
    const std::string why = "it holds the working copy " + *inside + ", shared already";
    context.log.Info(account + "ignored, " + why);
    context.jobs.End(job, static_cast<std::int32_t>(Result::AlreadyExists), why);
    return account + "ignored";
  }
  // A folder's name is shared in its normal form (NFC); a name that breaks
  // the rule of names is refused with the reason, the folder untouched.
  const std::string base = names::Normalised(LastComponent(folder)).value_or(LastComponent(folder));
  if (context.service.IsRemote()) {
    if (std::string problem = SpaceNameProblem(base); !problem.empty()) {
      return failed(problem + "; rename the folder to share it", Result::BadArguments);
    }
  }
  Reply made;
  std::string name;
  for (int number = 1; number <= kMaxNameTries; ++number) {
    name = number == 1 ? base : base + " " + std::to_string(number);
    made = MakeSpace(context, name, "Shared from " + folder, "");
    if (made.result != Result::AlreadyExists) break;
  }
  if (made.result != Result::Done) return failed(made.second, made.result);
  const std::string& url = made.first;

  const auto [files, bytes] = CountFolder(folder);
  Progress progress{context.jobs, job};
  context.jobs.Stage(job, "importing", files, bytes);
  Pool pool;
  std::optional<SvnFailure> failure;
  svn_client_ctx_t* client = ClientContext(context.stopping, kImportMessage, pool, failure);
  svn_revnum_t revision = SVN_INVALID_REVNUM;
  if (client != nullptr) {
    client->notify_func2 = CountFile;
    client->notify_baton2 = &progress;
    failure = TakeError(svn_client_import5(folder.c_str(), url.c_str(), svn_depth_infinity, FALSE, FALSE, FALSE, nullptr,
                                           nullptr, nullptr, RecordRevision, &revision, client, pool));
  }
  if (failure) return failed("the import into " + url + " failed: " + WithLoginAdvice(*failure));
  context.jobs.Stage(job, "checking out", files, bytes);
  if (std::string problem = CheckOutInto(context, url, folder, true, &progress); !problem.empty()) {
    return failed("the checkout of " + url + " failed: " + problem);
  }
  std::string problem;
  if (context.activations.Set(folder, 1, problem) == ActivationStore::Change::Failed) {
    return failed("shared as " + name + " but not activated: " + problem, Result::FileSystemFailed);
  }
  const std::string shared = "shared as the space " + name + " (" + url + ") at revision " +
                             (SVN_IS_VALID_REVNUM(revision) ? std::to_string(revision) : "0") +
                             ", activated in mode 1";
  context.jobs.End(job, 0, shared);
  return account + shared;
}

std::string CheckoutFromServiceNow(DaemonContext& context, const std::string& folder, JobBoard::Id job) {
  const std::string account = "checkoutFromService " + folder + ": ";
  const std::string name = names::Normalised(LastComponent(folder)).value_or(LastComponent(folder));
  const std::string space = SpaceFolder(context.paths, name);
  if (!IsUsableName(name) || (!context.service.IsRemote() && !IsSpace(space))) {
    context.log.Error(account + "no space is named " + name);
    context.jobs.End(job, static_cast<std::int32_t>(Result::NotFound), "no space is named " + name);
    return account + "not checked out";
  }
  if (std::optional<std::string> own = context.paths.OwnFolderTouchedBy(folder, false)) {
    context.log.Error(account + "part of the daemon's own folder " + *own);
    context.jobs.End(job, static_cast<std::int32_t>(Result::NotAllowed), "part of the daemon's own folder " + *own);
    return account + "not checked out";
  }
  const std::string url = context.service.IsRemote() ? Remote(context).SpaceUrl(name) : SpaceUrl(space);
  Progress progress{context.jobs, job};
  context.jobs.Stage(job, "checking out", 0, 0);
  if (std::string problem = CheckOutInto(context, url, folder, false, &progress); !problem.empty()) {
    context.log.Error(account + "the checkout of " + url + " failed: " + problem);
    context.jobs.End(job, static_cast<std::int32_t>(context.stopping ? Result::Cancelled : Result::SubversionFailed),
                     "the checkout of " + url + " failed: " + problem);
    return account + "not checked out";
  }
  context.jobs.End(job, 0, "checked out " + url);
  return account + "checked out " + url;
}

// A one-way command on a folder, run on a thread of its own and published
// as a job; the same command on a folder where it still runs does nothing.
Handling OnFolder(DaemonContext& context, const char* operation, const std::optional<std::string>& payload,
                  std::string (*body)(DaemonContext&, const std::string&, JobBoard::Id)) {
  std::optional<std::string> folder = payload ? CanonicalFolder(SplitArguments(*payload, 1)[0]) : std::nullopt;
  if (!folder) {
    context.log.Warning(std::string(operation) + ": ignored, not an absolute path: " + payload.value_or(""));
    context.jobs.Record(operation, payload.value_or(""), static_cast<std::int32_t>(Result::BadArguments),
                        "not an absolute path");
    return {};
  }
  const std::optional<JobBoard::Id> job = context.jobs.Begin(operation, *folder);
  if (!job) {
    context.log.Info(std::string(operation) + " " + *folder + ": ignored, already running");
    return {};
  }
  return {std::nullopt,
          [&context, folder = *folder, body, id = *job] {
            const JobEnd end(context.jobs, id);
            return body(context, folder, id);
          },
          *folder};
}

}  // namespace

Handling ListSpaces(DaemonContext& context, const std::optional<std::string>& payload) {
  return Run(context, Command::ListSpaces, payload, ListSpacesNow);
}
Handling ShowSpace(DaemonContext& context, const std::optional<std::string>& payload) {
  return Run(context, Command::ShowSpace, payload, ShowSpaceNow);
}
Handling CreateSpace(DaemonContext& context, const std::optional<std::string>& payload) {
  return Run(context, Command::CreateSpace, payload, CreateSpaceNow);
}
Handling FindUsers(DaemonContext& context, const std::optional<std::string>& payload) {
  return Run(context, Command::FindUsers, payload, FindUsersNow);
}
Handling Invite(DaemonContext& context, const std::optional<std::string>& payload) {
  return Run(context, Command::Invite, payload, InviteNow);
}
Handling ShareFolder(DaemonContext& context, const std::optional<std::string>& payload) {
  return OnFolder(context, "shareFolder", payload, ShareFolderNow);
}
Handling CheckoutFromService(DaemonContext& context, const std::optional<std::string>& payload) {
  return OnFolder(context, "checkoutFromService", payload, CheckoutFromServiceNow);
}

}  // namespace korvane::server
