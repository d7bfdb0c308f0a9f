#include "daemon/commands/repository_commands.h"

#include "daemon/svn/folder_move.h"
#include "daemon/base/own_folders.h"
#include "daemon/base/utf8_path.h"
#include "daemon/platform/file_system.h"
#include "daemon/platform/host_names.h"
#include "daemon/platform/calendar_time.h"
#include "daemon/svn/svn_runtime.h"

#include <apr_errno.h>
#include <svn_dirent_uri.h>
#include <svn_fs.h>
#include <svn_path.h>
#include <svn_pools.h>
#include <svn_repos.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace korvane::server {

namespace {

namespace fs = std::filesystem;

constexpr char kLogMessage[] = "Committed by Korvane";
// A removed folder lies in removed/KEY/folder, and removed/KEY/origin says
// where it came from.
constexpr char kRemovedContent[] = "/folder";
constexpr char kRemovedOrigin[] = "/origin";

struct Outcome {
  Result result = Result::Done;
  std::string specifics;
  std::int32_t systemError = 0;
  std::string detail;
};

Outcome Done(std::string detail, std::string specifics = {}) {
  return {Result::Done, std::move(specifics), 0, std::move(detail)};
}

Outcome Failed(Result result, std::string specifics, std::int32_t systemError = 0) {
  return {result, std::move(specifics), systemError, {}};
}

Outcome FromErrno(int error, const std::string& what) {
  Result result = Result::FileSystemFailed;
  if (error == ENOENT) result = Result::NotFound;
  if (error == EEXIST || error == ENOTEMPTY) result = Result::AlreadyExists;
  return Failed(result, what + ": " + std::strerror(error), error);
}

Outcome FromSvn(const SvnFailure& failure, const DaemonContext& context) {
  Result result = Result::SubversionFailed;
  if (context.stopping || failure.code == SVN_ERR_CANCELLED) {
    result = Result::Cancelled;
  } else if (failure.code == SVN_ERR_WC_NOT_WORKING_COPY || failure.code == SVN_ERR_WC_PATH_NOT_FOUND) {
    result = Result::NotWorkingCopy;
  } else if (APR_STATUS_IS_ENOENT(failure.code) || failure.code == SVN_ERR_RA_LOCAL_REPOS_OPEN_FAILED ||
             failure.code == SVN_ERR_RA_CANNOT_CREATE_SESSION) {
    result = Result::NotFound;
  }
  return Failed(result, failure.message, static_cast<std::int32_t>(failure.code));
}

std::optional<std::string> LocalPath(const std::string& argument) { return CanonicalFolder(argument); }

std::optional<std::string> Url(const std::string& argument, apr_pool_t* pool) {
  if (argument.empty() || !svn_path_is_url(argument.c_str())) return std::nullopt;
  return svn_uri_canonicalize(argument.c_str(), pool);
}

// A repository's folder, given as a local path or a file:// URL.
std::optional<std::string> RepositoryFolder(const std::string& argument, apr_pool_t* pool) {
  if (argument.starts_with("file://")) {
    const char* folder = nullptr;
    if (TakeError(svn_uri_get_dirent_from_file_url(&folder, svn_uri_canonicalize(argument.c_str(), pool), pool))) {
      return std::nullopt;
    }
    return LocalPath(folder);
  }
  return LocalPath(argument);
}

std::string FileUrl(const std::string& folder, apr_pool_t* pool) {
  const char* url = nullptr;
  if (TakeError(svn_uri_get_file_url_from_dirent(&url, folder.c_str(), pool))) return {};
  return url;
}

bool IsInside(const std::string& path, const std::string& folder) {
  return folder == "/" ? path.size() > 1 : path.starts_with(folder + "/");
}

// The daemon's own folders, what holds them and what lies in them are not
// moved, deleted or written into by request, however the path leads there.
std::optional<Outcome> RefuseOwnFolders(const std::string& path, const DaemonContext& context, Reach reach) {
  if (std::optional<std::string> own = context.paths.OwnFolderTouchedBy(path, reach == Reach::Move)) {
    return Failed(Result::NotAllowed, path + " is part of the daemon's own folder " + *own);
  }
  return std::nullopt;
}

bool IsFolder(const std::string& path) {
  std::error_code error;
  return fs::is_directory(fs::symlink_status(PathOf(path), error));
}

bool Exists(const std::string& path) {
  std::error_code error;
  return fs::exists(fs::symlink_status(PathOf(path), error));
}

std::optional<Outcome> Move(const std::string& from, const std::string& to, bool& destinationKept) {
  const MoveResult moved = MoveFolder(from, to);
  destinationKept = moved.destinationKept;
  if (moved.moved) return std::nullopt;
  return FromErrno(moved.error, moved.problem);
}

std::string ParentOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == 0 ? "/" : path.substr(0, slash);
}

Outcome RenameAside(const std::vector<std::string>& arguments, DaemonContext& context) {
  const std::optional<std::string> path = LocalPath(arguments[0]);
  if (!path || *path == "/") return Failed(Result::BadArguments, "an absolute folder path is needed");
  if (!IsFolder(*path)) return Failed(Result::NotFound, *path + " is not a folder");
  if (std::optional<Outcome> refused = RefuseOwnFolders(*path, context, Reach::Move)) return *refused;
  for (int number = 1; number < 1000; ++number) {
    const std::string candidate = *path + (number == 1 ? " (old)" : " (old " + std::to_string(number) + ")");
    if (RenameNoReplace(path->c_str(), candidate.c_str()) == 0) {
      return Done(candidate);
    }
    if (errno != EEXIST) return FromErrno(errno, "cannot rename " + *path);
  }
  return Failed(Result::AlreadyExists, "no free name next to " + *path);
}

Outcome CreateRepositoryAt(const std::vector<std::string>& arguments, DaemonContext& context) {
  Pool pool;
  const std::optional<std::string> folder = RepositoryFolder(arguments[0], pool);
  if (!folder || *folder == "/") return Failed(Result::BadArguments, "a local path or file:// URL is needed");
  if (std::optional<Outcome> refused = RefuseOwnFolders(*folder, context, Reach::Into)) return *refused;
  std::error_code error;
  if (Exists(*folder) && !fs::is_empty(PathOf(*folder), error)) return Failed(Result::AlreadyExists, *folder);
  fs::create_directories(PathOf(ParentOf(*folder)), error);
  if (error) return FromErrno(error.value(), "cannot create " + ParentOf(*folder));
  svn_repos_t* repository = nullptr;
  if (std::optional<SvnFailure> failure =
          TakeError(svn_repos_create(&repository, folder->c_str(), nullptr, nullptr, nullptr, nullptr, pool))) {
    return FromSvn(*failure, context);
  }
  context.log.Info("created the repository " + *folder);
  return Done(FileUrl(*folder, pool));
}

Outcome OpenRepositoryAt(const std::vector<std::string>& arguments, DaemonContext& context) {
  Pool pool;
  const std::optional<std::string> folder = RepositoryFolder(arguments[0], pool);
  if (!folder) return Failed(Result::BadArguments, "a local path or file:// URL is needed");
  const char* root = svn_repos_find_root_path(folder->c_str(), pool);
  if (root == nullptr) return Failed(Result::NotFound, "no repository holds " + *folder);
  svn_repos_t* repository = nullptr;
  svn_revnum_t youngest = 0;
  std::optional<SvnFailure> failure = TakeError(svn_repos_open3(&repository, root, nullptr, pool, pool));
  if (!failure) failure = TakeError(svn_fs_youngest_rev(&youngest, svn_repos_fs(repository), pool));
  if (failure) return FromSvn(*failure, context);
  return Done(FileUrl(root, pool), "youngest revision " + std::to_string(youngest));
}

// Runs Subversion client work with a context of its own; body gives the
// result's detail.
template <typename Body>
Outcome WithClient(DaemonContext& context, Body body) {
  Pool pool;
  std::optional<SvnFailure> failure;
  svn_client_ctx_t* client = ClientContext(context.stopping, kLogMessage, pool, failure);
  std::string detail;
  if (client != nullptr) failure = TakeError(body(client, static_cast<apr_pool_t*>(pool), detail));
  if (failure) return FromSvn(*failure, context);
  return Done(detail);
}

Outcome CheckOut(const std::vector<std::string>& arguments, DaemonContext& context) {
  Pool pool;
  const std::optional<std::string> url = Url(arguments[0], pool);
  const std::optional<std::string> path = LocalPath(arguments[1]);
  if (!url || !path) return Failed(Result::BadArguments, "a URL and an absolute path are needed");
  if (std::optional<Outcome> refused = RefuseOwnFolders(*path, context, Reach::Into)) return *refused;
  return WithClient(context, [&](svn_client_ctx_t* client, apr_pool_t* scratch, std::string& detail) {
    const svn_opt_revision_t head{svn_opt_revision_head, {}};
    svn_revnum_t revision = SVN_INVALID_REVNUM;
    svn_error_t* error = svn_client_checkout3(&revision, url->c_str(), path->c_str(), &head, &head, svn_depth_infinity,
                                              FALSE, FALSE, client, scratch);
    detail = std::to_string(revision);
    return error;
  });
}

Outcome Import(const std::vector<std::string>& arguments, DaemonContext& context) {
  Pool pool;
  const std::optional<std::string> folder = LocalPath(arguments[0]);
  const std::optional<std::string> url = Url(arguments[1], pool);
  if (!folder || !url) return Failed(Result::BadArguments, "an absolute folder path and a URL are needed");
  if (!IsFolder(*folder)) return Failed(Result::NotFound, *folder + " is not a folder");
  return WithClient(context, [&](svn_client_ctx_t* client, apr_pool_t* scratch, std::string& detail) {
    CommitRecord record;
    svn_error_t* error = svn_client_import5(folder->c_str(), url->c_str(), svn_depth_infinity, FALSE, FALSE, FALSE,
                                            nullptr, nullptr, nullptr, RecordRevision, &record, client, scratch);
    if (SVN_IS_VALID_REVNUM(record.revision)) detail = std::to_string(record.revision);
    return error;
  });
}

Outcome Add(const std::vector<std::string>& arguments, DaemonContext& context) {
  const std::optional<std::string> path = LocalPath(arguments[0]);
  if (!path) return Failed(Result::BadArguments, "an absolute path is needed");
  if (!Exists(*path)) return Failed(Result::NotFound, *path);
  if (std::optional<Outcome> refused = RefuseOwnFolders(*path, context, Reach::Into)) return *refused;
  return WithClient(context, [&](svn_client_ctx_t* client, apr_pool_t* scratch, std::string& detail) {
    detail = *path;
    return svn_client_add5(path->c_str(), svn_depth_infinity, TRUE, FALSE, FALSE, TRUE, client, scratch);
  });
}

Outcome Commit(const std::vector<std::string>& arguments, DaemonContext& context) {
  const std::optional<std::string> path = LocalPath(arguments[0]);
  if (!path) return Failed(Result::BadArguments, "an absolute path is needed");
  if (std::optional<Outcome> refused = RefuseOwnFolders(*path, context, Reach::Into)) return *refused;
  return WithClient(context, [&](svn_client_ctx_t* client, apr_pool_t* scratch, std::string& detail) {
    apr_array_header_t* targets = apr_array_make(scratch, 1, sizeof(const char*));
    APR_ARRAY_PUSH(targets, const char*) = path->c_str();
    CommitRecord record{SVN_INVALID_REVNUM, client};
    svn_error_t* error = svn_client_commit6(targets, svn_depth_infinity, FALSE, FALSE, TRUE, FALSE, FALSE, nullptr,
                                            nullptr, RecordRevision, &record, client, scratch);
    if (SVN_IS_VALID_REVNUM(record.revision)) detail = std::to_string(record.revision);
    return error;
  });
}

bool IsUsableKey(const std::string& key) {
  if (key.empty() || key == "." || key == ".." || key.size() > 200) return false;
  for (unsigned char c : key) {
    if (c == '/' || c < 0x20) return false;
  }
  return true;
}

std::string NewKey() {
  static std::atomic<unsigned> counter{0};
  char stamp[32];
  const std::time_t now = std::time(nullptr);
  const std::tm parts = LocalTime(now);
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &parts);
  return std::string(stamp) + "-" + std::to_string(ProcessId()) + "-" + std::to_string(++counter);
}

Outcome RemoveAside(const std::vector<std::string>& arguments, DaemonContext& context) {
  const std::optional<std::string> path = LocalPath(arguments[0]);
  const std::string key = arguments[1].empty() ? NewKey() : arguments[1];
  if (!path || *path == "/" || !IsUsableKey(key)) {
    return Failed(Result::BadArguments, "an absolute folder path and a key without \"/\" are needed");
  }
  if (!IsFolder(*path)) return Failed(Result::NotFound, *path + " is not a folder");
  if (std::optional<Outcome> refused = RefuseOwnFolders(*path, context, Reach::Move)) return *refused;
  std::string problem;
  if (!PrepareFolder(context.paths.RemovedFolder(), true, problem)) return Failed(Result::FileSystemFailed, problem);
  const std::string place = context.paths.RemovedFolder() + "/" + key;
  if (MakePrivateFolder(place) != 0) return FromErrno(errno, "cannot keep " + key);
  std::ofstream(PathOf(place + kRemovedOrigin)) << *path;
  bool kept = false;
  if (std::optional<Outcome> failed = Move(*path, place + kRemovedContent, kept)) {
    // A copy that is the only complete one stays, where restoreLDir finds it.
    std::error_code ignored;
    if (!kept) fs::remove_all(PathOf(place), ignored);
    context.log.Error("removeLDir " + *path + ": " + failed->specifics);
    return *failed;
  }
  context.log.Info("removed " + *path + " as " + key);
  return Done(key);
}

Outcome RestoreAside(const std::vector<std::string>& arguments, DaemonContext& context) {
  const std::string& key = arguments[1];
  if (!IsUsableKey(key)) return Failed(Result::BadArguments, "the key of a removed folder is needed");
  if (!arguments[0].empty()) {
    const std::optional<std::string> target = LocalPath(arguments[0]);
    if (!target) return Failed(Result::BadArguments, "an absolute folder path is needed");
    if (std::optional<Outcome> refused = RefuseOwnFolders(*target, context, Reach::Into)) return *refused;
  }
  const std::string place = context.paths.RemovedFolder() + "/" + key;
  if (!IsFolder(place + kRemovedContent)) return Failed(Result::NotFound, "nothing was removed as " + key);
  std::string origin = arguments[0];
  if (origin.empty()) std::getline(std::ifstream(PathOf(place + kRemovedOrigin)), origin);
  const std::optional<std::string> path = LocalPath(origin);
  if (!path || *path == "/") return Failed(Result::BadArguments, "an absolute folder path is needed");
  if (std::optional<Outcome> refused = RefuseOwnFolders(*path, context, Reach::Into)) return *refused;
  std::error_code error;
  fs::create_directories(PathOf(ParentOf(*path)), error);
  if (error) return FromErrno(error.value(), "cannot create " + ParentOf(*path));
  bool kept = false;
  if (std::optional<Outcome> failed = Move(place + kRemovedContent, *path, kept)) {
    context.log.Error("restoreLDir " + key + ": " + failed->specifics);
    return *failed;
  }
  fs::remove_all(PathOf(place), error);
  context.log.Info("restored " + key + " to " + *path);
  return Done(*path);
}

std::string TemporaryRoot() { return TemporaryFolder(); }

Outcome RemoveTemporary(const std::vector<std::string>& arguments, DaemonContext& context) {
  const std::optional<std::string> path = LocalPath(arguments[0]);
  if (!path) return Failed(Result::BadArguments, "an absolute folder path is needed");
  if (!Exists(*path)) return Failed(Result::NotFound, *path);
  // Judged by where the folder really is, so that no link leads outside.
  const std::optional<std::string> real = RealPath(*path);
  const std::optional<std::string> root = RealPath(TemporaryRoot());
  if (!real || !root || !IsInside(*real, *root) || !IsFolder(*real)) {
    return Failed(Result::NotAllowed, *path + " is not a folder inside " + TemporaryRoot());
  }
  if (std::optional<Outcome> refused = RefuseOwnFolders(*real, context, Reach::Move)) return *refused;
  std::error_code error;
  fs::remove_all(PathOf(*real), error);
  if (error) return FromErrno(error.value(), "cannot remove " + *path);
  context.log.Info("deleted the temporary folder " + *path);
  return Done(*path);
}

using Runner = Outcome (*)(const std::vector<std::string>& arguments, DaemonContext& context);

// A verdict command, run on a thread of its own: its arguments as the
// protocol table shapes them, the payload whole for a one-text command or
// its first "|"-separated fields.
Handling Verdicts(DaemonContext& context, Command command, const std::optional<std::string>& payload, Runner run) {
  const protocol::CommandInfo& info = protocol::Describe(command);
  std::vector<std::string> arguments = protocol::ArgumentsOf(info, payload.value_or(""));
  const char* operation = info.operation;
  return {std::nullopt, [&context, operation, arguments = std::move(arguments), run] {
            const Outcome outcome = run(arguments, context);
            const std::string detail = outcome.result == Result::Done ? outcome.detail : TextOf(outcome.result).key;
            return Verdict(operation, outcome.result, outcome.specifics, outcome.systemError, detail);
          }};
}

}  // namespace

Handling RenameLocalDirectory(DaemonContext& context, const std::optional<std::string>& payload) {
  return Verdicts(context, Command::RenameLDir, payload, RenameAside);
}
Handling CreateRepository(DaemonContext& context, const std::optional<std::string>& payload) {
  return Verdicts(context, Command::CreateRepo, payload, CreateRepositoryAt);
}
Handling OpenRepository(DaemonContext& context, const std::optional<std::string>& payload) {
  return Verdicts(context, Command::OpenRepo, payload, OpenRepositoryAt);
}
Handling CheckoutAndWait(DaemonContext& context, const std::optional<std::string>& payload) {
  return Verdicts(context, Command::SvnCheckoutWait, payload, CheckOut);
}
Handling CopyToRepository(DaemonContext& context, const std::optional<std::string>& payload) {
  return Verdicts(context, Command::CopyToRepo, payload, Import);
}
Handling AddToWorkingCopy(DaemonContext& context, const std::optional<std::string>& payload) {
  return Verdicts(context, Command::SvnAdd, payload, Add);
}
Handling CommitWorkingCopy(DaemonContext& context, const std::optional<std::string>& payload) {
  return Verdicts(context, Command::SvnCommit, payload, Commit);
}
Handling RemoveLocalDirectory(DaemonContext& context, const std::optional<std::string>& payload) {
  return Verdicts(context, Command::RemoveLDir, payload, RemoveAside);
}
Handling RemoveTemporaryDirectory(DaemonContext& context, const std::optional<std::string>& payload) {
  return Verdicts(context, Command::RemoveTmpDir, payload, RemoveTemporary);
}
Handling RestoreLocalDirectory(DaemonContext& context, const std::optional<std::string>& payload) {
  return Verdicts(context, Command::RestoreLDir, payload, RestoreAside);
}

// The checkout's verdict goes to the log; the activation follows a
// successful checkout.
Handling CheckoutInBackground(DaemonContext& context, const std::optional<std::string>& payload) {
  std::vector<std::string> arguments =
      protocol::ArgumentsOf(protocol::Describe(Command::Checkout), payload.value_or(""));
  std::string folder = arguments[1];
  const std::optional<JobBoard::Id> job =
      context.jobs.Begin("checkout", CanonicalFolder(arguments[1]).value_or(arguments[1]));
  if (!job) return {};  // the same checkout still runs
  return {
      std::nullopt, [&context, arguments = std::move(arguments), job = *job] {
        const JobEnd end(context.jobs, job);
        const Outcome outcome = CheckOut(arguments, context);
        std::string message = TextOf(outcome.result).text;
        if (!outcome.specifics.empty()) message += " (" + outcome.specifics + ")";
        const std::string account = "checkout of " + arguments[0] + " into " + arguments[1] + ": " + message;
        const int mode = arguments[2].size() == 1 ? arguments[2][0] - '0' : 0;
        if (outcome.result == Result::Done && mode >= 1 && mode <= 3) {
          std::string error;
          if (context.activations.Set(*CanonicalFolder(arguments[1]), mode, error) == ActivationStore::Change::Failed) {
            context.jobs.End(job, static_cast<std::int32_t>(Result::FileSystemFailed), message + "; not activated: " + error);
            return account + "; not activated: " + error;
          }
          context.jobs.End(job, 0, message + "; activated in mode " + arguments[2]);
          return account + "; activated in mode " + arguments[2];
        }
        context.jobs.End(job, static_cast<std::int32_t>(outcome.result), message);
        return account;
      },
      std::move(folder)};
}

}  // namespace korvane::server
