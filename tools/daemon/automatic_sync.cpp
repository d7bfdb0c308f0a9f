#include "automatic_sync.h"

#include "conflict_keeper.h"
#include "notifier.h"
#include "own_folders.h"
#include "results.h"
#include "svn_runtime.h"

#include <svn_pools.h>
#include <svn_ra.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <thread>
#include <vector>

#include <spawn.h>
#include <sys/wait.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvane::server {

namespace {

namespace fs = std::filesystem;

constexpr char kLogMessage[] = "Committed automatically by Korvane";
constexpr char kAdministrativeFolder[] = ".svn";
constexpr std::uint32_t kWatchedEvents = IN_CREATE | IN_DELETE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_FROM |
                                         IN_MOVED_TO | IN_ATTRIB | IN_DELETE_SELF | IN_ONLYDIR;
// How often the activations are looked at again while nothing else is due.
constexpr auto kActivationPoll = std::chrono::milliseconds(250);

long FromEnvironment(const char* name, long fallback) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return fallback;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  return *end == '\0' && value > 0 ? value : fallback;
}

struct Pending {
  std::vector<std::string> unversioned;
  std::vector<std::string> missing;
};

svn_error_t* Collect(void* baton, const char* path, const svn_client_status_t* status, apr_pool_t*) {
  Pending& pending = *static_cast<Pending*>(baton);
  if (status->node_status == svn_wc_status_unversioned) pending.unversioned.emplace_back(path);
  if (status->node_status == svn_wc_status_missing) pending.missing.emplace_back(path);
  return SVN_NO_ERROR;
}

svn_error_t* RecordRevision(const svn_commit_info_t* info, void* baton, apr_pool_t*) {
  *static_cast<svn_revnum_t*>(baton) = info->revision;
  return SVN_NO_ERROR;
}

apr_array_header_t* Targets(const std::vector<std::string>& paths, apr_pool_t* pool) {
  apr_array_header_t* targets = apr_array_make(pool, static_cast<int>(paths.size()), sizeof(const char*));
  for (const std::string& path : paths) APR_ARRAY_PUSH(targets, const char*) = path.c_str();
  return targets;
}

// Schedules path for addition, leaving out whatever lies in an own folder:
// a folder that holds one is added alone and its entries one by one.
svn_error_t* AddLeavingOut(const std::string& path, const std::function<bool(const std::string&)>& isOwn,
                           const std::vector<std::string>& ownFolders, svn_client_ctx_t* client, apr_pool_t* pool) {
  const std::string resolved = ResolvedPath(path);
  if (isOwn(resolved)) return SVN_NO_ERROR;
  const bool holdsOwn = std::any_of(ownFolders.begin(), ownFolders.end(),
                                    [&](const std::string& own) { return IsWithin(own, resolved); });
  if (!holdsOwn) return svn_client_add5(path.c_str(), svn_depth_infinity, FALSE, FALSE, FALSE, FALSE, client, pool);
  SVN_ERR(svn_client_add5(path.c_str(), svn_depth_empty, FALSE, FALSE, FALSE, FALSE, client, pool));
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(path, error)) {
    SVN_ERR(AddLeavingOut(entry.path().string(), isOwn, ownFolders, client, pool));
  }
  return SVN_NO_ERROR;
}

// Schedules what is new or gone, then commits; the new revision, or an
// invalid one when nothing changed. Conflicts left from before are settled
// first, so Subversion's conflict files are never scheduled.
svn_error_t* CommitAll(const std::string& folder, const std::function<bool(const std::string&)>& isOwn,
                       const std::vector<std::string>& ownFolders, svn_client_ctx_t* client, svn_revnum_t& revision,
                       std::vector<KeptConflict>& kept, apr_pool_t* pool) {
  SVN_ERR(SettleConflicts(folder, kept, client, pool));
  Pending pending;
  const svn_opt_revision_t working{svn_opt_revision_working, {}};
  SVN_ERR(svn_client_status6(nullptr, client, folder.c_str(), &working, svn_depth_infinity, FALSE, FALSE, TRUE, FALSE,
                             TRUE, FALSE, nullptr, Collect, &pending, pool));
  for (const std::string& path : pending.unversioned) SVN_ERR(AddLeavingOut(path, isOwn, ownFolders, client, pool));
  if (!pending.missing.empty()) {
    SVN_ERR(svn_client_delete4(Targets(pending.missing, pool), TRUE, FALSE, nullptr, nullptr, nullptr, client, pool));
  }
  return svn_client_commit6(Targets({folder}, pool), svn_depth_infinity, FALSE, FALSE, TRUE, FALSE, FALSE, nullptr,
                            nullptr, RecordRevision, &revision, client, pool);
}

}  // namespace

AutomaticSync::Periods AutomaticSync::PeriodsFromEnvironment() {
  Periods periods;
  periods.quiet = std::chrono::milliseconds(FromEnvironment("KORVANE_COMMIT_QUIET_MS", periods.quiet.count()));
  periods.update = std::chrono::seconds(FromEnvironment("KORVANE_UPDATE_PERIOD_SECONDS", 60));
  periods.poll = std::chrono::milliseconds(FromEnvironment("KORVANE_POLL_PERIOD_MS", periods.poll.count()));
  periods.retryFirst = std::chrono::milliseconds(FromEnvironment("KORVANE_RETRY_FIRST_MS", periods.retryFirst.count()));
  periods.retryMost = std::chrono::milliseconds(FromEnvironment("KORVANE_RETRY_MOST_MS", periods.retryMost.count()));
  periods.credentialWait =
      std::chrono::milliseconds(FromEnvironment("KORVANE_CREDENTIAL_WAIT_MS", periods.credentialWait.count()));
  return periods;
}

namespace {

std::vector<std::string> Resolved(std::vector<std::string> folders) {
  for (std::string& folder : folders) folder = ResolvedPath(folder);
  return folders;
}

}  // namespace

struct AutomaticSync::Link {
  Pool pool;
  svn_ra_session_t* session = nullptr;
};

AutomaticSync::AutomaticSync(const ActivationStore& activations, const DaemonLog& log, JobBoard& jobs,
                             std::vector<std::string> ownFolders, Periods periods)
    : activations_(activations), log_(log), jobs_(jobs), ownFolders_(Resolved(std::move(ownFolders))), periods_(periods) {
  inotify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  wake_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (inotify_ < 0 || wake_ < 0) {
    log_.Error(std::string("automatic commit and update are off: ") + std::strerror(errno));
    return;
  }
  thread_ = std::thread([this] { Run(); });
}

AutomaticSync::~AutomaticSync() {
  stop_ = true;
  if (thread_.joinable()) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(wake_, &one, sizeof one);
    thread_.join();
  }
  if (inotify_ >= 0) close(inotify_);
  if (wake_ >= 0) close(wake_);
}

void AutomaticSync::Run() {
  while (!stop_) {
    FollowActivations();
    auto now = Clock::now();
    auto next = now + kActivationPoll;
    for (const auto& [path, folder] : folders_) {
      if (now < folder.retryAt) {
        next = std::min(next, folder.retryAt);
        continue;
      }
      next = std::min({next, folder.changed ? folder.lastChange + periods_.quiet : folder.nextUpdate,
                       folder.nextUpdate, folder.nextPoll});
    }
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count();
    pollfd descriptors[] = {{inotify_, POLLIN, 0}, {wake_, POLLIN, 0}};
    if (poll(descriptors, 2, static_cast<int>(std::max<long long>(wait, 0))) < 0 && errno != EINTR) {
      log_.Error(std::string("automatic commit and update stopped: ") + std::strerror(errno));
      return;
    }
    if (stop_) return;
    if (descriptors[0].revents & POLLIN) ReadEvents();
    for (auto& [path, folder] : folders_) {
      if (stop_) return;
      Sync(path, folder, Clock::now());
    }
  }
}

// One folder's due work: the commit of rested changes (an out-of-date
// commit updates first and goes again), then the update when the
// repository has moved on or the update period has passed.
void AutomaticSync::Sync(const std::string& path, Folder& folder, Clock::time_point now) {
  if (now < folder.retryAt) return;
  if (folder.changed && now - folder.lastChange >= periods_.quiet) {
    folder.changed = false;
    Restamp(folder.written);
    Outcome committed = Commit(path, folder);
    if (committed == Outcome::OutOfDate && Update(path, folder) == Outcome::Done) committed = Commit(path, folder);
    if (committed != Outcome::Done) {
      folder.changed = true;  // tried again after the back-off
      return;
    }
  }
  if (now >= folder.nextPoll) {
    folder.nextPoll = now + periods_.poll;
    if (Newer(path, folder)) {
      Update(path, folder);
      folder.nextUpdate = Clock::now() + periods_.update;
    }
  }
  if (now >= folder.nextUpdate) {
    Update(path, folder);
    folder.nextUpdate = Clock::now() + periods_.update;
  }
}

// Watches the folders newly activated in mode 3 and lets go of the others.
void AutomaticSync::FollowActivations() {
  std::map<std::string, Folder> wanted;
  const auto now = Clock::now();
  for (const auto& [path, mode] : activations_.Current()) {
    if (mode != 3) continue;
    if (auto known = folders_.find(path); known != folders_.end()) {
      wanted.insert(*known);
      continue;
    }
    Folder fresh;
    fresh.lastChange = now - periods_.quiet;
    fresh.nextUpdate = now + periods_.update;
    fresh.nextPoll = now;
    wanted[path] = std::move(fresh);
    WatchTree(path, path);
    log_.Info("automatic commit and update of " + path + " begins");
  }
  for (auto watch = watches_.begin(); watch != watches_.end();) {
    if (wanted.contains(watch->second.folder)) {
      ++watch;
      continue;
    }
    inotify_rm_watch(inotify_, watch->first);
    watch = watches_.erase(watch);
  }
  for (const auto& [path, folder] : folders_) {
    if (!wanted.contains(path)) log_.Info("automatic commit and update of " + path + " ends");
  }
  folders_ = std::move(wanted);
}

bool AutomaticSync::IsOwn(const std::string& path) const {
  return std::any_of(ownFolders_.begin(), ownFolders_.end(),
                     [&](const std::string& own) { return IsWithin(path, own); });
}

void AutomaticSync::WatchTree(const std::string& folder, const std::string& given) {
  const std::string top = ResolvedPath(given);
  if (IsOwn(top)) return;
  const auto watch = [&](const std::string& directory) {
    const int id = inotify_add_watch(inotify_, directory.c_str(), kWatchedEvents);
    if (id >= 0) {
      watches_[id] = Watch{folder, directory};
    } else if (errno != ENOENT && errno != ENOTDIR) {
      if (errno == ENOSPC) server::Notify("Korvane cannot watch every folder", "The system's limit of watches is reached at " + directory);
      log_.Warning("cannot watch " + directory + ": " + std::strerror(errno));
    }
  };
  watch(top);
  std::error_code error;
  for (fs::recursive_directory_iterator walk(top, fs::directory_options::skip_permission_denied, error), end;
       !error && walk != end; walk.increment(error)) {
    if (!walk->is_directory(error) || walk->is_symlink(error)) continue;
    if (walk->path().filename() == kAdministrativeFolder || IsOwn(walk->path().string())) {
      walk.disable_recursion_pending();
      continue;
    }
    watch(walk->path().string());
  }
}

void AutomaticSync::ReadEvents() {
  alignas(inotify_event) char buffer[16 * 1024];
  const auto now = Clock::now();
  for (;;) {
    const ssize_t size = read(inotify_, buffer, sizeof buffer);
    if (size <= 0) return;
    for (const char* at = buffer; at < buffer + size;) {
      const auto* event = reinterpret_cast<const inotify_event*>(at);
      at += sizeof(inotify_event) + event->len;
      if (event->mask & IN_Q_OVERFLOW) {
        for (auto& [path, folder] : folders_) {
          folder.changed = true;
          folder.lastChange = now;
        }
        continue;
      }
      const auto watch = watches_.find(event->wd);
      if (watch == watches_.end()) continue;
      if (event->mask & IN_IGNORED) {
        watches_.erase(watch);
        continue;
      }
      const std::string name = event->len > 0 ? event->name : "";
      if (name == kAdministrativeFolder) continue;
      const auto folder = folders_.find(watch->second.folder);
      if (folder == folders_.end()) continue;
      folder->second.changed = true;
      folder->second.lastChange = now;
      if (!(event->mask & IN_ISDIR) && !name.empty() &&
          (event->mask & (IN_MODIFY | IN_CLOSE_WRITE | IN_CREATE | IN_MOVED_TO)) != 0) {
        folder->second.written.insert(watch->second.directory + "/" + name);
      }
      if ((event->mask & IN_ISDIR) && (event->mask & (IN_CREATE | IN_MOVED_TO))) {
        WatchTree(watch->second.folder, watch->second.directory + "/" + name);
      }
    }
  }
}

// A file written while the previous commit ran can carry the very time
// stamp that the commit recorded for it, and Subversion then takes it as
// unchanged without reading it. Stamping every written file anew makes
// Subversion compare its content, so no change is left out; a file whose
// content did not change stays unchanged.
void AutomaticSync::Restamp(std::set<std::string>& files) {
  for (const std::string& file : files) utimensat(AT_FDCWD, file.c_str(), nullptr, AT_SYMLINK_NOFOLLOW);
  files.clear();
}

namespace {

bool IsOutOfDate(const SvnFailure& failure) {
  return failure.code == SVN_ERR_WC_NOT_UP_TO_DATE || failure.code == SVN_ERR_FS_TXN_OUT_OF_DATE ||
         failure.code == SVN_ERR_FS_CONFLICT || failure.code == SVN_ERR_RA_OUT_OF_DATE ||
         failure.code == SVN_ERR_FS_NOT_FOUND || failure.code == SVN_ERR_FS_ALREADY_EXISTS ||
         failure.code == SVN_ERR_RA_DAV_PRECONDITION_FAILED || failure.message.find("out of date") != std::string::npos ||
         failure.message.find("out-of-date") != std::string::npos;
}

}  // namespace

void AutomaticSync::Failed(const std::string& path, Folder& folder, const std::string& what, const std::string& message,
                           bool credential) {
  folder.link.reset();
  ++folder.failures;
  std::chrono::milliseconds delay = periods_.retryFirst;
  for (int doubling = 1; doubling < folder.failures && delay < periods_.retryMost; ++doubling) delay *= 2;
  delay = std::min(delay, periods_.retryMost);
  if (credential) delay = periods_.credentialWait;
  folder.retryAt = Clock::now() + delay;
  const std::string account = "automatic " + what + " of " + path + " failed: " + message;
  if (credential) {
    const std::string advice = "; the server refused the credential: store a valid one with \"svn info --username NAME " +
                               std::string("URL\" (in the daemon's subversion-config folder, if one is set); ") +
                               "tried again in " + std::to_string(delay.count() / 1000) + " s";
    log_.Error(account + advice);
    server::Notify("Korvane cannot sync " + path, "The server refused the credential or the membership: " + message);
    jobs_.Record("automaticSync", path, static_cast<std::int32_t>(Result::NotAllowed), account + advice);
    return;
  }
  log_.Error(account + "; tried again in " + std::to_string(delay.count()) + " ms");
  if (folder.failures == 1) {
    jobs_.Record("automaticSync", path, static_cast<std::int32_t>(Result::SubversionFailed),
                 account + "; changes wait in the folder and go once the server answers");
  }
}

void AutomaticSync::Succeeded(const std::string& path, Folder& folder) {
  if (folder.failures > 0) {
    log_.Info("automatic commit and update of " + path + " go on after " + std::to_string(folder.failures) +
              " failures");
    jobs_.Record("automaticSync", path, 0, "the server answers again; sync goes on");
  }
  folder.failures = 0;
  folder.retryAt = {};
}

// Each conflict where the user looks: the log, the published work, and a
// desktop notification.
void AutomaticSync::ReportConflicts(const std::string& path, const std::vector<KeptConflict>& kept) {
  for (const KeptConflict& conflict : kept) {
    const std::string message = "conflict on " + conflict.path + ": kept the other side's version there" +
                                (conflict.kept.empty() ? "" : " and the local one as " + conflict.kept);
    log_.Warning(message);
    jobs_.Record("automaticSync", path, 0, message);
    Notify(message);
  }
}

void AutomaticSync::Notify(const std::string& message) const { server::Notify("Korvane kept both versions", message); }

AutomaticSync::Outcome AutomaticSync::Commit(const std::string& path, Folder& folder) {
  Pool pool;
  std::optional<SvnFailure> failure;
  svn_revnum_t revision = SVN_INVALID_REVNUM;
  std::vector<KeptConflict> kept;
  if (svn_client_ctx_t* client = ClientContext(stop_, kLogMessage, pool, failure)) {
    if (IsOwn(ResolvedPath(path))) return Outcome::Done;  // a mode-3 folder inside the daemon's own
    failure = TakeError(CommitAll(path, [this](const std::string& each) { return IsOwn(each); }, ownFolders_, client,
                                  revision, kept, pool));
  }
  ReportConflicts(path, kept);
  if (failure) {
    if (stop_) return Outcome::Failed;
    if (IsOutOfDate(*failure)) {
      log_.Info("automatic commit of " + path + " is out of date; updating first");
      return Outcome::OutOfDate;
    }
    Failed(path, folder, "commit", failure->message, IsCredentialFailure(*failure));
    return Outcome::Failed;
  }
  Succeeded(path, folder);
  if (SVN_IS_VALID_REVNUM(revision)) {
    log_.Info("committed " + path + " as revision " + std::to_string(revision));
    jobs_.Record("automaticCommit", path, 0, "committed as revision " + std::to_string(revision));
    if (folder.revision >= 0 && revision == folder.revision + 1) folder.revision = revision;
  }
  return Outcome::Done;
}

bool AutomaticSync::Newer(const std::string& path, Folder& folder) {
  if (folder.revision < 0) return true;
  std::optional<SvnFailure> failure;
  if (!folder.link) {
    auto link = std::make_shared<Link>();
    if (svn_client_ctx_t* client = ClientContext(stop_, kLogMessage, link->pool, failure)) {
      const char* url = nullptr;
      failure = TakeError(svn_client_url_from_path2(&url, path.c_str(), client, link->pool, link->pool));
      if (!failure && url == nullptr) return true;
      if (!failure) {
        failure = TakeError(svn_client_open_ra_session2(&link->session, url, path.c_str(), client, link->pool,
                                                        link->pool));
      }
    }
    if (!failure) folder.link = std::move(link);
  }
  svn_revnum_t latest = SVN_INVALID_REVNUM;
  if (!failure) {
    Pool pool;
    failure = TakeError(svn_ra_get_latest_revnum(folder.link->session, &latest, pool));
  }
  if (failure) {
    if (!stop_) Failed(path, folder, "poll", failure->message, IsCredentialFailure(*failure));
    return false;
  }
  return latest > folder.revision;
}

AutomaticSync::Outcome AutomaticSync::Update(const std::string& path, Folder& folder) {
  Pool pool;
  std::optional<SvnFailure> failure;
  apr_array_header_t* revisions = nullptr;
  std::vector<KeptConflict> kept;
  if (svn_client_ctx_t* client = ClientContext(stop_, kLogMessage, pool, failure)) {
    const svn_opt_revision_t head{svn_opt_revision_head, {}};
    failure = TakeError(svn_client_update4(&revisions, Targets({path}, pool), &head, svn_depth_unknown, FALSE, FALSE,
                                           TRUE, TRUE, FALSE, client, pool));
    // Conflicts are settled even after a failed update: what it did leave
    // must not stop the next commit.
    if (std::optional<SvnFailure> settling = TakeError(SettleConflicts(path, kept, client, pool)); settling && !failure) {
      failure = settling;
    }
  }
  ReportConflicts(path, kept);
  if (!kept.empty()) {
    // The copies kept aside are committed at once.
    folder.changed = true;
    folder.lastChange = Clock::now() - periods_.quiet;
  }
  if (failure) {
    if (!stop_) Failed(path, folder, "update", failure->message, IsCredentialFailure(*failure));
    return Outcome::Failed;
  }
  Succeeded(path, folder);
  if (revisions != nullptr && revisions->nelts > 0) {
    const svn_revnum_t revision = APR_ARRAY_IDX(revisions, 0, svn_revnum_t);
    if (revision != folder.revision) {
      log_.Info("updated " + path + " to revision " + std::to_string(revision));
      jobs_.Record("automaticUpdate", path, 0, "updated to revision " + std::to_string(revision));
    }
    folder.revision = revision;
  }
  return Outcome::Done;
}

}  // namespace korvane::server
