#include "daemon/commands/hosting_service.h"

#include "names.h"
#include "daemon/base/own_folders.h"
#include "daemon/base/utf8_path.h"
#include "daemon/store/share_claims.h"

#include "daemon/svn/svn_runtime.h"

#include <algorithm>
#include <filesystem>
#include <vector>

namespace korvane::server {

namespace {

namespace fs = std::filesystem;

constexpr char kDefaultRole[] = "member";
constexpr char kImportMessage[] = "Shared by Korvane";
constexpr int kMaxNameTries = 1000;

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

Reply FromAnswer(const HostingAnswer& answer) {
  Reply reply = Failure(answer.result, answer.text);
  reply.ownWords = answer.ownWords;
  return reply;
}

// Makes the space; its URL is the reply's first field. Every service takes
// a space name by the rule of names, in its normal form.
Reply MakeSpace(DaemonContext& context, const std::string& given, const std::string& description,
                const std::string& owner) {
  const std::string name = names::Normalised(given).value_or(given);
  if (std::string problem = SpaceNameProblem(name); !problem.empty()) {
    return Failure(Result::BadArguments, problem);
  }
  const HostingAnswer made = context.hosting.CreateSpace(name, description, owner);
  if (made.result != Result::Done) return FromAnswer(made);
  context.log.Info("created the space " + name + context.hosting.LogPlace());
  return {Result::Done, context.hosting.SpaceUrl(name), "created", {}};
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
  HostingAnswer listed = context.hosting.ListSpaces();
  if (listed.result != Result::Done) return FromAnswer(listed);
  std::vector<std::string>& names = listed.lines;
  std::erase_if(names, [&](const std::string& name) { return !Matches(name, arguments[0]); });
  return {Result::Done, std::to_string(names.size()), Lines(names), {}};
}

Reply ShowSpaceNow(DaemonContext& context, const std::vector<std::string>& arguments) {
  const std::string& name = arguments[0];
  if (!IsUsableName(name)) return Failure(Result::BadArguments, "not a usable space name: \"" + name + "\"");
  const HostingAnswer shown = context.hosting.ShowSpace(name);
  if (shown.result != Result::Done) return FromAnswer(shown);
  return {Result::Done, context.hosting.SpaceUrl(name), Lines(shown.lines), shown.text};
}

Reply CreateSpaceNow(DaemonContext& context, const std::vector<std::string>& arguments) {
  return MakeSpace(context, arguments[0], arguments[1], arguments[2]);
}

Reply FindUsersNow(DaemonContext& context, const std::vector<std::string>& arguments) {
  HostingAnswer found = context.hosting.FindUsers();
  if (found.result != Result::Done) return FromAnswer(found);
  std::vector<std::string>& users = found.lines;
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
  if (std::string problem = UserProblem(user); !problem.empty()) return Failure(Result::BadArguments, problem);
  const HostingAnswer invited = context.hosting.Invite(space, user, role);
  if (invited.result != Result::Done) return FromAnswer(invited);
  if (role == names::kNoRole) {
    context.log.Info("removed " + user + " from " + space + context.hosting.LogPlace());
    return {Result::Done, "removed", space, user};
  }
  context.log.Info("invited " + user + " to " + space + " as " + role + context.hosting.LogPlace());
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
  const std::uintmax_t size = fs::file_size(PathOf(notify->path), error);
  auto* progress = static_cast<Progress*>(baton);
  progress->board.Advance(progress->job, error ? 0 : size);
}

// The files in a folder and their bytes, the totals of its share.
std::pair<std::uint64_t, std::uint64_t> CountFolder(const std::string& folder) {
  std::uint64_t files = 0, bytes = 0;
  std::error_code error;
  for (fs::recursive_directory_iterator each(PathOf(folder), fs::directory_options::skip_permission_denied, error), end;
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
  if (client != nullptr && !failure && adopt) {
    // The files adopted in place have no recorded size and time, so every
    // later look at the tree would read each of them: they are recorded now,
    // once, while the share reads them anyway.
    failure = TakeError(svn_client_cleanup2(folder.c_str(), FALSE, TRUE, FALSE, FALSE, FALSE, client, pool));
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
  for (fs::recursive_directory_iterator walk(PathOf(folder), fs::directory_options::skip_permission_denied, error), end;
       !error && walk != end; walk.increment(error)) {
    if (walk->is_symlink(error) || !walk->is_directory(error)) continue;
    if (walk->path().filename() == ".svn") {
      const std::string holder = TextOf(walk->path().parent_path());
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
  if (folder == "/" || !fs::is_directory(PathOf(folder), error)) return failed(folder + " is not a folder", Result::NotFound);
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
  if (std::string problem = SpaceNameProblem(base); !problem.empty()) {
    return failed(problem + "; rename the folder to share it", Result::BadArguments);
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
  CommitRecord record;
  if (client != nullptr) {
    client->notify_func2 = CountFile;
    client->notify_baton2 = &progress;
    failure = TakeError(svn_client_import5(folder.c_str(), url.c_str(), svn_depth_infinity, FALSE, FALSE, FALSE, nullptr,
                                           nullptr, nullptr, RecordRevision, &record, client, pool));
  }
  const svn_revnum_t revision = record.revision;
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
  if (!IsUsableName(name) || !context.hosting.MayHold(name)) {
    context.log.Error(account + "no space is named " + name);
    context.jobs.End(job, static_cast<std::int32_t>(Result::NotFound), "no space is named " + name);
    return account + "not checked out";
  }
  if (std::optional<std::string> own = context.paths.OwnFolderTouchedBy(folder, false)) {
    context.log.Error(account + "part of the daemon's own folder " + *own);
    context.jobs.End(job, static_cast<std::int32_t>(Result::NotAllowed), "part of the daemon's own folder " + *own);
    return account + "not checked out";
  }
  const std::string url = context.hosting.SpaceUrl(name);
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
