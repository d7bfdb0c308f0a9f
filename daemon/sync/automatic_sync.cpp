#include "daemon/sync/automatic_sync.h"

#include "daemon/conflicts/conflict_keeper.h"
#include "daemon/sync/left_out_entries.h"
#include "daemon/platform/notifier.h"
#include "daemon/platform/file_stamp.h"
#include "daemon/base/own_folders.h"
#include "daemon/base/utf8_path.h"
#include "daemon/reply/results.h"
#include "daemon/base/environment.h"
#include "daemon/store/service_config.h"
#include "daemon/sync/sparse_files.h"
#include "daemon/sync/sync_commit.h"
#include "daemon/sync/unfinished_work.h"
#include "daemon/svn/svn_runtime.h"
#include "daemon/svn/withdrawn_access.h"

#include <svn_pools.h>
#include <svn_ra.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <system_error>
#include <thread>
#include <vector>


namespace korvane::server {

namespace {

namespace fs = std::filesystem;

constexpr char kAdministrativeFolder[] = ".svn";
// The longest sleep while nothing is due: every change of the activations,
// every file event and the stop wake the thread themselves.
constexpr auto kLongestSleep = std::chrono::seconds(60);
// At most this many files an update brought are looked at one by one; more
// take a walk of the tree.
constexpr std::size_t kFewFiles = 500;
// At most this many written files are committed by their paths (a branch
// switch rewrites thousands at once); more take a walk of the tree. Files
// the watches saw written are known without the walk, however many.
constexpr std::size_t kMostCommittedByPath = 10000;

bool IsDiskFull(const SvnFailure& failure) {
  return failure.Has(ENOSPC) || failure.message.find(std::strerror(ENOSPC)) != std::string::npos;
}

// A working copy that an interrupted operation left locked or half done.
bool IsStuck(const SvnFailure& failure) {
  return failure.code == SVN_ERR_WC_LOCKED || failure.code == SVN_ERR_WC_CLEANUP_REQUIRED ||
         failure.message.find("cleanup") != std::string::npos || failure.message.find("locked") != std::string::npos;
}

}  // namespace

AutomaticSync::Periods AutomaticSync::PeriodsFromEnvironment() {
  Periods periods;
  periods.quiet = std::chrono::milliseconds(NumberFromEnvironment("KORVANE_COMMIT_QUIET_MS", periods.quiet.count()));
  periods.closed = std::chrono::milliseconds(NumberFromEnvironment("KORVANE_COMMIT_CLOSED_MS", periods.closed.count()));
  periods.closed = std::min(periods.closed, periods.quiet);
  periods.quietMost =
      std::chrono::milliseconds(NumberFromEnvironment("KORVANE_COMMIT_QUIET_MOST_MS", periods.quietMost.count()));
  periods.quietMost = std::max(periods.quietMost, periods.quiet);
  periods.update = std::chrono::seconds(NumberFromEnvironment("KORVANE_UPDATE_PERIOD_SECONDS", 60));
  periods.poll = std::chrono::milliseconds(NumberFromEnvironment("KORVANE_POLL_PERIOD_MS", periods.poll.count()));
  periods.retryFirst = std::chrono::milliseconds(NumberFromEnvironment("KORVANE_RETRY_FIRST_MS", periods.retryFirst.count()));
  periods.retryMost = std::chrono::milliseconds(NumberFromEnvironment("KORVANE_RETRY_MOST_MS", periods.retryMost.count()));
  periods.credentialWait =
      std::chrono::milliseconds(NumberFromEnvironment("KORVANE_CREDENTIAL_WAIT_MS", periods.credentialWait.count()));
  periods.scan = std::chrono::milliseconds(NumberFromEnvironment("KORVANE_SCAN_PERIOD_MS", periods.scan.count()));
  periods.watchLimit = static_cast<unsigned long>(NumberFromEnvironment("KORVANE_WATCH_LIMIT", 0));
  return periods;
}

namespace {

// The person conflict copies name: the service's user, else the login name.
std::string ThisPerson() {
  std::string problems;
  return ReadServiceConfig(ServiceConfigFile(), problems).user;
}

std::vector<std::string> Resolved(std::vector<std::string> folders) {
  for (std::string& folder : folders) folder = ResolvedPath(folder);
  return folders;
}

}  // namespace

AutomaticSync::AutomaticSync(const ActivationStore& activations, const DaemonLog& log, JobBoard& jobs,
                             std::vector<std::string> ownFolders, Periods periods)
    : activations_(activations),
      log_(log),
      jobs_(jobs),
      ownFolders_(Resolved(std::move(ownFolders))),
      periods_(periods),
      who_(ConflictAuthor(ThisPerson())),
      poller_(stop_, periods.poll) {
  try {
    wake_.emplace();
  } catch (const std::system_error&) {
  }
  if (watcher_.Handle() < 0 || !wake_) {
    log_.Error(std::string("automatic commit and update are off: ") + std::strerror(errno));
    return;
  }
  activations_.Watch(*wake_);
  thread_ = std::thread([this] { Run(); });
}

AutomaticSync::~AutomaticSync() {
  stop_ = true;
  if (thread_.joinable()) {
    activations_.Unwatch(*wake_);
    wake_->Raise();
    thread_.join();
  }
}

void AutomaticSync::Run() {
  while (!stop_) {
    FollowActivations();
    auto now = Clock::now();
    auto next = now + kLongestSleep;
    for (const auto& [path, folder] : folders_) {
      if (now < folder.retryAt) {
        next = std::min(next, folder.retryAt);
        continue;
      }
      next = std::min({next, CommitDueAt(folder), folder.nextUpdate, folder.nextScan});
      if (Asking(folder, now)) next = std::min(next, poller_.NextPollAt(folder.repository));
    }
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - now);
    bool changes = false;
    std::string problem;
    if (!WaitReady(watcher_.Handle(), *wake_, wait, changes, problem)) {
      log_.Error("automatic commit and update stopped: " + problem);
      return;
    }
    if (stop_) return;
    wake_->Take();
    if (changes) ReadEvents();
    PollRepositories(Clock::now());
    for (auto& [path, folder] : folders_) {
      if (stop_) return;
      Sync(path, folder, Clock::now());
    }
  }
}

AutomaticSync::Clock::time_point AutomaticSync::RestedAt(const std::string& file, const Writes& writes) const {
  std::error_code error;
  const bool empty = fs::is_regular_file(fs::symlink_status(PathOf(file), error)) && fs::file_size(PathOf(file), error) == 0;
  // An empty file is most often the first step of a write: it waits longest.
  const auto quiet = empty ? periods_.quietMost : writes.closed ? periods_.closed : periods_.quiet;
  return std::min(writes.last + quiet, writes.first + periods_.quietMost);
}

AutomaticSync::Clock::time_point AutomaticSync::CommitDueAt(const Folder& folder) const {
  // Deletes, renames and new folders wait for their own quiet period, and
  // what has rested by then goes with them.
  if (folder.changed) return std::min(folder.lastChange + periods_.quiet, folder.firstChange + periods_.quietMost);
  auto due = Clock::time_point::max();
  auto lastWrite = Clock::time_point::min();
  for (const auto& [file, writes] : folder.written) {
    due = std::min(due, RestedAt(file, writes));
    lastWrite = std::max(lastWrite, writes.last);
  }
  if (due == Clock::time_point::max()) return due;
  // While files are still being written one after another (a branch switch,
  // an unpacked archive), the first that has rested waits for the writing
  // to pause, for one quiet period at most, so the burst goes as one commit
  // rather than one for each batch that happened to rest together.
  return std::min(std::max(due, lastWrite + periods_.closed), due + periods_.quiet);
}

// One folder's due work: a clean-up of what an interrupted operation left,
// the commit of rested changes (an out-of-date commit updates first and
// goes again), then, once nothing waits to be committed, the update when
// the repository has moved on or the update period has passed.
void AutomaticSync::Sync(const std::string& path, Folder& folder, Clock::time_point now) {
  if (now < folder.retryAt) return;
  if (now >= folder.nextScan) {
    // What no watch reports is found by the commit's own walk of the tree.
    if (!folder.changed) folder.firstChange = folder.lastChange = now - periods_.quiet;
    folder.changed = true;
    folder.nextScan = now + periods_.scan;
  }
  if (folder.repair && !Repair(path, folder)) return;
  if (Waiting(folder) && now >= CommitDueAt(folder)) {
    Outcome committed = Commit(path, folder);
    if (committed == Outcome::OutOfDate && Update(path, folder) == Outcome::Done) committed = Commit(path, folder);
    if (committed != Outcome::Done) return;  // tried again after the back-off
  }
  // Local work first: no update runs while a deletion, a rename or a file
  // that has rested waits to be committed. A file still being written does
  // not hold updates back; where one brings a change to it, both versions
  // stay (LocalVersions, KeepOverwritten).
  if (folder.changed) return;
  if (Newer(folder)) {
    Update(path, folder);
    folder.nextUpdate = Clock::now() + periods_.update;
  }
  if (now >= folder.nextUpdate && !folder.changed) {
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
    fresh.firstChange = fresh.lastChange = now - periods_.quiet;
    fresh.nextUpdate = now + periods_.update;
    if (!WatchTree(path, path)) WatchLimitReached(path, fresh);
    wanted[path] = std::move(fresh);
    log_.Info("automatic commit and update of " + path + " begins");
  }
  for (auto watch = watches_.begin(); watch != watches_.end();) {
    if (wanted.contains(watch->second.folder)) {
      ++watch;
      continue;
    }
    watcher_.Remove(watch->first);
    watch = watches_.erase(watch);
  }
  for (const auto& [path, folder] : folders_) {
    if (!wanted.contains(path)) log_.Info("automatic commit and update of " + path + " ends");
  }
  folders_ = std::move(wanted);
  std::set<std::string> repositories;
  for (const auto& [path, folder] : folders_) repositories.insert(folder.repository);
  poller_.Keep(repositories);
}

bool AutomaticSync::IsOwn(const std::string& path) const {
  return std::any_of(ownFolders_.begin(), ownFolders_.end(),
                     [&](const std::string& own) { return IsWithin(path, own); });
}

bool AutomaticSync::WatchTree(const std::string& folder, const std::string& given) {
  const std::string top = ResolvedPath(given);
  if (IsOwn(top)) return true;
  bool complete = true;
  const auto watch = [&](const std::string& directory) {
    if (periods_.watchLimit != 0 && watches_.size() >= periods_.watchLimit) {
      complete = false;
      return;
    }
    FolderWatcher::Refusal refusal = FolderWatcher::Refusal::None;
    std::string problem;
    const int id = watcher_.Add(directory, refusal, problem);
    if (id >= 0) {
      watches_[id] = Watch{folder, directory};
    } else if (refusal == FolderWatcher::Refusal::LimitReached) {
      complete = false;  // told once for the folder by the caller
    } else if (refusal == FolderWatcher::Refusal::Failed) {
      log_.Warning("cannot watch " + directory + ": " + problem);
    }
  };
  watch(top);
  std::error_code error;
  for (fs::recursive_directory_iterator walk(PathOf(top), fs::directory_options::skip_permission_denied, error), end;
       !error && walk != end; walk.increment(error)) {
    if (!walk->is_directory(error) || walk->is_symlink(error)) continue;
    if (walk->path().filename() == kAdministrativeFolder || IsOwn(TextOf(walk->path()))) {
      walk.disable_recursion_pending();
      continue;
    }
    watch(TextOf(walk->path()));
  }
  return complete;
}

void AutomaticSync::WatchLimitReached(const std::string& path, Folder& folder) {
  const bool told = folder.nextScan != Clock::time_point::max();
  folder.nextScan = std::min(folder.nextScan, Clock::now() + periods_.scan);
  if (told) return;
  const std::string message = "the system's limit of watched folders is reached: changes in " + path +
                              " are found by a scan every " + std::to_string(periods_.scan.count() / 1000) +
                              " s instead; raise the limit with \"sysctl fs.inotify.max_user_watches=524288\"";
  log_.Warning(message);
  jobs_.Record("automaticSync", path, static_cast<std::int32_t>(Result::Done), message);
  server::Notify("Korvane cannot watch every folder", message);
}

void AutomaticSync::ReadEvents() {
  const auto now = Clock::now();
  // Until none is left: watching a folder that arrived can bring more.
  for (std::vector<FolderWatcher::Event> events; !(events = watcher_.Take()).empty();) {
    for (const FolderWatcher::Event& event : events) {
      if (event.kind == FolderWatcher::Kind::Lost) {
        for (auto& [path, folder] : folders_) {
          if (!folder.changed) folder.firstChange = now;
          folder.changed = true;
          folder.lastChange = now;
        }
        continue;
      }
      const auto watch = watches_.find(event.watch);
      if (watch == watches_.end()) continue;
      if (event.kind == FolderWatcher::Kind::Ended) {
        watches_.erase(watch);
        continue;
      }
      const std::string& name = event.name;
      if (name == kAdministrativeFolder) continue;
      const auto folder = folders_.find(watch->second.folder);
      if (folder == folders_.end()) continue;
      Folder& changed = folder->second;
      // Subversion keeps neither the times nor the permissions of a file,
      // and every commit sets both on the files it took (so does the
      // restamping below): only a folder's attributes count as a change.
      if (event.kind == FolderWatcher::Kind::FileTouched) continue;
      if (event.kind == FolderWatcher::Kind::FileWritten || event.kind == FolderWatcher::Kind::FileSaved) {
        // A written file rests on its own.
        const std::string file = watch->second.directory + "/" + name;
        auto [writes, fresh] = changed.written.try_emplace(file, Writes{now, now});
        writes->second.last = now;
        writes->second.closed = event.kind == FolderWatcher::Kind::FileSaved;
        // A file an update just wrote, written again here before anyone
        // could have seen it: the other side's version is kept aside.
        if (const auto arrival = changed.arrived.find(file); arrival != changed.arrived.end()) {
          const Arrival state = Stamp(file, now);
          if (state.size != arrival->second.size || state.modified != arrival->second.modified ||
              state.inode != arrival->second.inode) {
            if (now - arrival->second.when < periods_.quietMost) changed.unseen.insert(file);
            changed.arrived.erase(arrival);
          }
        }
        continue;
      }
      if (!changed.changed) changed.firstChange = now;
      changed.changed = true;
      changed.lastChange = now;
      if (event.kind == FolderWatcher::Kind::FolderAdded &&
          !WatchTree(watch->second.folder, watch->second.directory + "/" + name)) {
        WatchLimitReached(folder->first, changed);
      }
    }
  }
}

// A file written while the previous commit ran can carry the very time
// stamp that the commit recorded for it, and Subversion then takes it as
// unchanged without reading it. Stamping every written file anew makes
// Subversion compare its content, so no change is left out; a file whose
// content did not change stays unchanged.
AutomaticSync::Arrival AutomaticSync::Stamp(const std::string& file, Clock::time_point when) {
  Arrival state{when};
  if (const std::optional<FileStamp> stamp = StampOf(file)) {
    state.size = stamp->size;
    state.modified = stamp->modified;
    state.inode = stamp->identity;
  }
  return state;
}

void AutomaticSync::Restamp(const std::set<std::string>& files) {
  for (const std::string& file : files) TouchNow(file);
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

void AutomaticSync::Failed(const std::string& path, Folder& folder, const std::string& what, const SvnFailure& failure) {
  poller_.Drop(folder.repository);
  if (IsAccessWithdrawn(failure)) {
    return PauseForWithdrawnAccess(path, folder.failures, folder.retryAt, periods_.credentialWait, log_, jobs_);
  }
  // Whatever the operation left half done is cleaned up before the next,
  // and the next looks at the whole tree.
  folder.repair = true;
  folder.wholeWalkDue = true;
  ++folder.failures;
  const bool credential = IsCredentialFailure(failure);
  std::chrono::milliseconds delay = periods_.retryFirst;
  for (int doubling = 1; doubling < folder.failures && delay < periods_.retryMost; ++doubling) delay *= 2;
  delay = std::min(delay, periods_.retryMost);
  if (credential) delay = periods_.credentialWait;
  folder.retryAt = Clock::now() + delay;
  const std::string account = "automatic " + what + " of " + path + " failed: " + failure.message;
  if (credential) {
    const std::string advice = "; the server refused the credential, or none is stored: run `korvane login`; " +
                               std::string("tried again in ") + std::to_string(delay.count() / 1000) + " s";
    log_.Error(account + advice);
    server::Notify("Korvane cannot sync " + path, "The server refused the credential or the membership: " + failure.message);
    jobs_.Record("automaticSync", path, static_cast<std::int32_t>(Result::NotAllowed), account + advice);
    return;
  }
  if (failure.message.find("to UTF-8") != std::string::npos) {
    // Subversion cannot list a folder holding a name that is not UTF-8.
    std::map<std::string, std::string> found = folder.leftOut;
    for (const std::string& entry : NamesNotUtf8(path)) {
      found[entry] = "its name is not UTF-8, and Subversion cannot work in a folder holding it: " + path +
                     " syncs again once it is renamed";
    }
    ReportLeftOut(path, folder, std::move(found));
  }
  // What holds the folder back is said once, when it begins.
  Holdup holdup = Holdup::Server;
  std::string why = account + "; changes wait in the folder and go once the server answers";
  Result code = Result::SubversionFailed;
  if (IsDiskFull(failure)) {
    holdup = Holdup::Disk;
    why = "the disk holding " + path + " is full; sync of the folder waits and goes on once there is space again";
    code = Result::FileSystemFailed;
  } else if (failure.message.find("to UTF-8") != std::string::npos) {
    holdup = Holdup::Name;
    why = "a name in " + path + " is not UTF-8; the folder syncs again once it is renamed";
    code = Result::FileSystemFailed;
  } else if (failure.message.find(std::strerror(EACCES)) != std::string::npos) {
    // A versioned file or folder this user may not read stops Subversion's
    // walk of the folder; it is said once, and tried again after the back-off.
    holdup = Holdup::Name;
    why = account + "; " + path + " syncs again once that can be read";
    code = Result::FileSystemFailed;
  } else if (IsStuck(failure)) {
    holdup = Holdup::WorkingCopy;
    why = account + "; the working copy is cleaned up and the work tried again";
  }
  if (holdup == Holdup::Disk || holdup == Holdup::Name) {
    if (folder.holdup != holdup) log_.Error(why);
  } else {
    log_.Error(account + "; tried again in " + std::to_string(delay.count()) + " ms");
  }
  if (folder.holdup != holdup) {
    jobs_.Record("automaticSync", path, static_cast<std::int32_t>(code), why);
    if (holdup == Holdup::Disk) Notify(why);
  }
  folder.holdup = holdup;
}

void AutomaticSync::CommitSoon(Folder& folder) const {
  folder.changed = true;
  folder.firstChange = folder.lastChange = Clock::now() - periods_.quiet;
}

void AutomaticSync::Succeeded(const std::string& path, Folder& folder) {
  if (folder.failures > 0) {
    log_.Info("automatic commit and update of " + path + " go on after " + std::to_string(folder.failures) +
              " failures");
    jobs_.Record("automaticSync", path, 0,
                 folder.holdup == Holdup::Disk   ? "there is space on the disk again; sync goes on"
                 : folder.holdup == Holdup::Name ? "every entry of the folder can be read again; sync goes on"
                                                 : "the server answers again; sync goes on");
  }
  folder.failures = 0;
  folder.retryAt = {};
  folder.holdup = Holdup::None;
}

bool AutomaticSync::Repair(const std::string& path, Folder& folder) {
  Pool pool;
  std::optional<SvnFailure> failure;
  std::vector<KeptConflict> kept;
  if (svn_client_ctx_t* client = SyncContext(stop_, pool, failure)) {
    // Local changes stay as they are.
    failure = FinishUnfinishedWork(path, who_, kept, client, pool);
  }
  ReportConflicts(path, kept);
  if (!kept.empty()) CommitSoon(folder);  // the copies kept aside
  if (failure) {
    if (!stop_) Failed(path, folder, "clean-up", *failure);
    return false;
  }
  folder.repair = false;
  return true;
}

// Each entry left out where the user looks, once, and again only when the
// reason changes; one that is gone or versioned now is forgotten.
void AutomaticSync::ReportLeftOut(const std::string& path, Folder& folder, std::map<std::string, std::string> found) {
  // Clutter is common (a .DS_Store in every folder): the board gets one line
  // for all that is new of it, naming the first few.
  constexpr std::size_t kClutterNamed = 5;
  std::vector<std::string> clutter;
  for (const auto& [entry, why] : found) {
    const auto known = folder.leftOut.find(entry);
    if (known != folder.leftOut.end() && known->second == why) continue;
    const std::string message = "left out " + entry + ": " + why;
    if (IsClutter(TextOf(PathOf(entry).filename()))) {
      log_.Info(message);
      clutter.push_back(entry);
      continue;
    }
    log_.Warning(message + "; the rest of the folder syncs on, and this is tried again when it changes");
    jobs_.Record("automaticSync", path, static_cast<std::int32_t>(Result::FileSystemFailed), message);
    Notify(message);
  }
  if (!clutter.empty()) {
    std::string named;
    for (std::size_t each = 0; each < std::min(clutter.size(), kClutterNamed); ++each) {
      named += (each == 0 ? "" : ", ") + clutter[each];
    }
    if (clutter.size() > kClutterNamed) named += " and " + std::to_string(clutter.size() - kClutterNamed) + " more";
    jobs_.Record("automaticSync", path, 0, "left out system clutter, which is never synced: " + named);
  }
  folder.leftOut = std::move(found);
}

// Each conflict where the user looks: the log, the published work, and a
// desktop notification.
void AutomaticSync::ReportConflicts(const std::string& path, const std::vector<KeptConflict>& kept) {
  for (const KeptConflict& conflict : kept) {
    const std::string message =
        conflict.othersKept
            ? "conflict on " + conflict.path + ": it was written here over the other side's version, kept as " +
                  conflict.kept
            : "conflict on " + conflict.path + ": kept the other side's version there" +
                  (conflict.kept.empty() ? "" : " and the local one as " + conflict.kept);
    log_.Warning(message);
    jobs_.Record("automaticSync", path, 0, message);
    Notify(message);
  }
}

// A conflict copy that the other side kept and an update brought: this side
// hears of the conflict too.
void AutomaticSync::ReportReceivedCopies(const std::string& path, const std::vector<std::string>& copies) {
  for (const std::string& copy : copies) {
    const std::string message = "conflict: the other side kept its version as " + copy;
    log_.Warning(message);
    jobs_.Record("automaticSync", path, 0, message);
    Notify(message);
  }
}

void AutomaticSync::Notify(const std::string& message) const { server::Notify("Korvane kept both versions", message); }

AutomaticSync::Outcome AutomaticSync::Commit(const std::string& path, Folder& folder, bool repaired) {
  if (IsOwn(ResolvedPath(path))) return Outcome::Done;  // a mode-3 folder inside the daemon's own
  const auto began = Clock::now();
  CommitScope scope{[this](const std::string& each) { return IsOwn(each); }, ownFolders_, {}, {}};
  std::set<std::string> rested;
  for (const auto& [file, writes] : folder.written) {
    (began >= RestedAt(file, writes) ? rested : scope.busy).insert(file);
  }
  Restamp(rested);
  for (const std::string& file : folder.unseen) {
    if (rested.contains(file)) scope.unseen.insert(file);
  }
  Pool pool;
  std::optional<SvnFailure> failure;
  svn_revnum_t revision = SVN_INVALID_REVNUM;
  std::vector<KeptConflict> kept;
  // Files written since a whole walk left the folder settled go by their
  // paths, the watches having seen every change; anything else takes the walk.
  const bool byPath =
      Settled(folder) && scope.unseen.empty() && !rested.empty() && rested.size() <= kMostCommittedByPath;
  bool whole = !byPath;
  if (svn_client_ctx_t* client = SyncContext(stop_, pool, failure)) {
    if (byPath) {
      bool handled = false;
      failure = TakeError(
          CommitWritten(std::vector<std::string>(rested.begin(), rested.end()), scope, client, revision, handled, pool));
      whole = !failure && !handled;
    }
    if (whole) failure = TakeError(CommitAll(path, who_, scope, client, revision, kept, pool));
  }
  ReportConflicts(path, kept);
  if (failure || !whole) {
    // A commit that stopped part way, or looked only at its files, saw only
    // part of the folder: what was reported before stays known.
    scope.leftOut.insert(folder.leftOut.begin(), folder.leftOut.end());
  }
  ReportLeftOut(path, folder, std::move(scope.leftOut));
  if (failure) {
    if (stop_) return Outcome::Failed;
    if (IsOutOfDate(*failure)) {
      log_.Info("automatic commit of " + path + " is out of date; updating first");
      return Outcome::OutOfDate;
    }
    if (IsStuck(*failure) && !repaired && Repair(path, folder)) {
      log_.Info("cleaned up the working copy of " + path + " after: " + failure->message);
      return Commit(path, folder, true);
    }
    Failed(path, folder, "commit", *failure);
    return Outcome::Failed;
  }
  // What was committed rests; what changed since waits for the next commit.
  if (folder.lastChange < began) folder.changed = false;
  if (whole) folder.wholeWalkDue = false;
  for (const std::string& file : scope.unseen) folder.unseen.erase(file);
  for (const std::string& file : rested) {
    const auto writes = folder.written.find(file);
    if (writes == folder.written.end()) continue;
    if (writes->second.last < began) {
      folder.written.erase(writes);
    } else {
      writes->second.first = began;  // written on while committed: its longest quiet period starts again
    }
  }
  if (!kept.empty()) CommitSoon(folder);  // the copies kept aside
  Succeeded(path, folder);
  if (SVN_IS_VALID_REVNUM(revision)) {
    log_.Info("committed " + path + " as revision " + std::to_string(revision));
    jobs_.Record("automaticCommit", path, 0, "committed as revision " + std::to_string(revision));
    if (folder.revision >= 0 && revision == folder.revision + 1) folder.revision = revision;
  }
  return Outcome::Done;
}

void AutomaticSync::PollRepositories(Clock::time_point now) {
  std::map<std::string, std::vector<std::string>> asking;  // the folders that take an answer, by repository
  for (auto& [path, folder] : folders_) {
    if (!Asking(folder, now)) continue;
    if (folder.repository.empty()) {
      std::optional<SvnFailure> failure;
      folder.repository = poller_.RepositoryOf(path, failure);
      if (failure) {
        if (!stop_) Failed(path, folder, "poll", *failure);
        continue;
      }
    }
    asking[folder.repository].push_back(path);
  }
  for (const auto& [repository, paths] : asking) {
    if (stop_) return;
    if (now < poller_.NextPollAt(repository)) continue;
    const auto failed = poller_.Poll(repository, paths.front(), now);
    if (!failed || stop_) continue;
    // A session that cannot be opened, or that the server refuses access
    // through, concerns the folder whose URL it is at (its space may be
    // closed to this person now, not the others): the next poll opens it
    // through another. Any other failure concerns every folder that asked.
    std::vector<std::string> concerned = paths;
    if (failed->opening || IsAccessWithdrawn(failed->failure)) {
      concerned.assign(1, failed->through);
      if (!folders_.contains(failed->through)) continue;
    }
    for (const std::string& path : concerned) Failed(path, folders_.at(path), "poll", failed->failure);
  }
}

bool AutomaticSync::Newer(Folder& folder) {
  if (folder.repository.empty()) return false;
  const RepositoryPoller::Answer answer = poller_.LastAnswer(folder.repository);
  if (answer.number == folder.answered) return false;
  folder.answered = answer.number;
  return folder.revision < 0 || answer.latest > folder.revision;
}

namespace {

// What an update did that sync acts on afterwards.
struct Received {
  LocalVersions* local = nullptr;   // holds each file the update replaces or deletes
  std::vector<std::string> merged;  // local changes Subversion merged an incoming change into
  std::vector<std::string> copies;  // conflict copies the other side kept
  std::vector<std::string> files;   // files written by the update
  std::vector<std::string> restored;  // missing paths Subversion put back
  bool conflicted = false;            // the update left a conflict
};

void NoteReceived(void* baton, const svn_wc_notify_t* notify, apr_pool_t*) {
  auto& received = *static_cast<Received*>(baton);
  if (notify->path == nullptr) return;
  if (notify->action == svn_wc_notify_restore) received.restored.emplace_back(notify->path);
  // Subversion names a file it found unchanged before it puts its new
  // version in place or removes it: a save landing in between is held.
  if ((notify->action == svn_wc_notify_update_update && notify->content_state == svn_wc_notify_state_changed) ||
      notify->action == svn_wc_notify_update_delete) {
    received.local->Hold(notify->path);
  }
  if (notify->content_state == svn_wc_notify_state_conflicted || notify->prop_state == svn_wc_notify_state_conflicted ||
      notify->action == svn_wc_notify_tree_conflict) {
    received.conflicted = true;
  }
  if (notify->kind != svn_node_file) return;
  const std::string path = notify->path;
  if (notify->action == svn_wc_notify_update_update && notify->content_state == svn_wc_notify_state_merged) {
    received.merged.push_back(path);
  }
  if (notify->action == svn_wc_notify_update_add && IsConflictCopyName(TextOf(PathOf(path).filename()))) {
    received.copies.push_back(path);
  }
  if (notify->action == svn_wc_notify_update_add || notify->action == svn_wc_notify_update_update) {
    received.files.push_back(path);
  }
}

// An update puts back what is missing from the working copy. Since local
// work is committed before any update, what is missing then was deleted by
// the person while the update began: the deletion stands. A path that
// holds something else by now (an editor's save that replaced it) is kept.
void DeleteAgain(const std::vector<std::string>& restored, svn_client_ctx_t* client, apr_pool_t* pool) {
  apr_pool_t* each = svn_pool_create(pool);
  for (const std::string& path : Topmost(restored)) {
    svn_pool_clear(each);
    svn_error_clear(svn_client_delete4(Targets({path}, each), FALSE, FALSE, nullptr, nullptr, nullptr, client, each));
  }
  svn_pool_destroy(each);
}

}  // namespace

AutomaticSync::Outcome AutomaticSync::Update(const std::string& path, Folder& folder, bool repaired) {
  Pool pool;
  std::optional<SvnFailure> failure;
  apr_array_header_t* revisions = nullptr;
  std::vector<KeptConflict> kept;
  Received received;
  if (svn_client_ctx_t* client = SyncContext(stop_, pool, failure)) {
    client->notify_func2 = NoteReceived;
    client->notify_baton2 = &received;
    // Nothing written here since a whole walk left the folder settled: no
    // local version to hold aside, and only what the update brings to look at.
    const bool few = Settled(folder) && folder.written.empty() && folder.unseen.empty();
    LocalVersions local(path);
    received.local = &local;
    if (!few) failure = TakeError(local.Take(client, pool));
    const std::int64_t began = FileClockNow();
    const svn_opt_revision_t head{svn_opt_revision_head, {}};
    if (!failure) {
      failure = TakeError(svn_client_update4(&revisions, Targets({path}, pool), &head, svn_depth_unknown, FALSE, FALSE,
                                             TRUE, TRUE, FALSE, client, pool));
    }
    client->notify_func2 = nullptr;
    DeleteAgain(received.restored, client, pool);
    // What the update merged and the conflicts it left are settled even
    // after it failed: none of it must stop the next commit.
    if (auto settling = TakeError(local.KeepMerged(received.merged, who_, kept, client, pool)); settling && !failure) {
      failure = settling;
    }
    if (auto settling = TakeError(local.KeepWrittenDuring(began, who_, kept)); settling && !failure) {
      failure = settling;
    }
    if (!few || received.conflicted) {
      if (auto settling = TakeError(SettleConflicts(path, who_, kept, client, pool, &local)); settling && !failure) {
        failure = settling;
      }
    }
    // A file the update wrote that differs from what it brought was written
    // here meanwhile, over the other side's version.
    std::vector<std::string> changed;
    const bool byFile = few && received.files.size() <= kFewFiles;
    if (!received.files.empty() &&
        !TakeError(byFile ? LocallyChangedAmong(received.files, changed, client, pool)
                          : LocallyChangedFiles(path, changed, client, pool))) {
      const std::set<std::string> wrote(received.files.begin(), received.files.end());
      for (const std::string& file : changed) {
        if (wrote.contains(file)) folder.unseen.insert(file);
      }
    }
  }
  ReportConflicts(path, kept);
  ReportReceivedCopies(path, received.copies);
  const auto arrived = Clock::now();
  for (auto arrival = folder.arrived.begin(); arrival != folder.arrived.end();) {
    arrival = arrived - arrival->second.when >= periods_.quietMost ? folder.arrived.erase(arrival) : std::next(arrival);
  }
  for (const std::string& file : received.files) {
    MakeSparse(file);
    folder.arrived[file] = Stamp(file, arrived);
  }
  if (!kept.empty() || !received.restored.empty()) {
    // The copies kept aside and the deletions that stand are committed at once.
    if (!folder.changed) folder.firstChange = Clock::now() - periods_.quiet;
    folder.changed = true;
    folder.lastChange = Clock::now() - periods_.quiet;
  }
  if (failure) {
    if (stop_) return Outcome::Failed;
    if (IsStuck(*failure) && !repaired && Repair(path, folder)) {
      log_.Info("cleaned up the working copy of " + path + " after: " + failure->message);
      return Update(path, folder, true);
    }
    Failed(path, folder, "update", *failure);
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
