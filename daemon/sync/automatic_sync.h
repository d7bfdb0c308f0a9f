// Automatic commit and update of the folders activated in mode 3. One thread
// watches each such working copy with inotify (every folder in it except
// .svn), commits what has rested (scheduling new files for addition and
// missing ones for deletion first, each missing tree once at its top), and
// updates it every update period. A folder is committed once as soon as it
// is activated, so that nothing changed before the watch began is left out:
// one walk of the tree, with no commit when it found nothing.
//
// The quiet period is per file: a file is committed once it has not been
// written for the quiet period, or, when it never stops changing, once it
// has been written for the longest quiet period, as it stands then. Others
// beside it do not wait for it longer than one quiet period: while files
// are still being written one after another (a branch switch), those that
// have rested wait for the writing to pause, so that a burst goes as one
// commit. Written files (up to ten thousand) are committed by their paths
// without a walk of the tree while the watches have seen every change. An
// empty file waits for the longest quiet
// period, since an empty file is most often the first step of a write:
// a file written in two steps is not committed empty in between when the
// pause between the steps is shorter than that.
//
// Local work goes first: no update runs while local changes that have
// rested wait to be committed (a file still being written does not hold
// updates back). They are committed first, and a commit the server finds out
// of date updates over changes already scheduled, so that a deletion or a
// rename a person made is never undone. Where an update meets a file both
// sides changed, both saved versions stay as files (the other side's at the
// name, the local one as its conflict copy), even where Subversion could
// merge them.
//
// An entry that cannot be versioned (left_out_entries.h) is left out of the
// commit and reported once, and everything else syncs on. A working copy
// that an interrupted or failed operation left locked or half done is
// cleaned up (keeping local changes) when the daemon starts and after every
// failure, and the work is tried again. A full disk is reported once ("the
// disk holding FOLDER is full"); the folder waits and syncs on once there
// is space again. The jobs board says what holds a folder back.
// Every commit that makes a revision and every update is logged, and so is
// every failure. The daemon's own folders are left out even when a mode-3
// folder holds them (a home folder that is a working copy): they are neither
// watched nor added, or every write to the log would make a revision.
//
// Every poll period the youngest revision of each repository the folders
// belong to is asked for, once for all its folders (one cheap request on a
// session kept open, repository_poller.h): the spaces of a team are folders
// of one repository, so a quiet machine asks its server once a poll period
// however many spaces it holds. Only a folder whose working copy is older
// than that revision is updated, so a commit made elsewhere arrives within
// about a poll period and an idle folder costs the server nothing more. A
// full update still runs every update period.
//
// An update that conflicts keeps both versions (conflict_keeper.h); each
// conflict is logged, published on the jobs board ("automaticSync") and,
// where a session bus runs, shown as a desktop notification.
//
// A server that cannot be reached is tried again after a back-off that
// doubles from the first retry delay up to the longest; changes wait in the
// working copy and go once it answers. A credential the server refuses is
// logged with what to do and tried again only after the credential wait.
//
// The periods come from the environment: KORVANE_UPDATE_PERIOD_SECONDS
// (default 60), KORVANE_COMMIT_QUIET_MS (default 2000),
// KORVANE_COMMIT_CLOSED_MS (the quiet period of a file its writer closed or
// renamed into place, default 300), KORVANE_COMMIT_QUIET_MOST_MS (the
// longest quiet period, default 30000),
// KORVANE_POLL_PERIOD_MS (default 1000), KORVANE_RETRY_FIRST_MS (default
// 1000), KORVANE_RETRY_MOST_MS (default 60000),
// KORVANE_CREDENTIAL_WAIT_MS (default 600000), KORVANE_SCAN_PERIOD_MS (how
// often a folder the limit of watches left partly unwatched is scanned,
// default 30000) and KORVANE_WATCH_LIMIT (a cap below the system's, 0 none).
#pragma once

#include "daemon/store/activation_store.h"
#include "daemon/conflicts/conflict_keeper.h"
#include "daemon/base/daemon_log.h"
#include "daemon/platform/folder_watcher.h"
#include "daemon/platform/wake_up.h"
#include "daemon/store/job_board.h"
#include "daemon/sync/repository_poller.h"
#include "daemon/svn/svn_runtime.h"

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace korvane::server {

class AutomaticSync {
 public:
  struct Periods {
    std::chrono::milliseconds quiet{2000};
    // A file whose writer closed it, or that was renamed into place (how
    // editors save), is most likely whole: it rests sooner.
    std::chrono::milliseconds closed{300};
    std::chrono::milliseconds quietMost{30000};
    std::chrono::milliseconds update{60000};
    std::chrono::milliseconds poll{1000};
    std::chrono::milliseconds retryFirst{1000};
    std::chrono::milliseconds retryMost{60000};
    std::chrono::milliseconds credentialWait{600000};
    // How often a folder some of whose subfolders could not be watched (the
    // system's limit of watches reached) is scanned for changes instead.
    std::chrono::milliseconds scan{30000};
    // At most this many watches are set by this daemon (0: only the
    // system's limit); a test reaches the limit with it.
    unsigned long watchLimit = 0;
  };
  static Periods PeriodsFromEnvironment();

  // Starts the thread; Subversion must be started already. Without inotify
  // nothing is watched, which the log says.
  AutomaticSync(const ActivationStore& activations, const DaemonLog& log, JobBoard& jobs,
                std::vector<std::string> ownFolders, Periods periods);
  // Cancels any running commit or update and waits for the thread.
  ~AutomaticSync();
  AutomaticSync(const AutomaticSync&) = delete;
  AutomaticSync& operator=(const AutomaticSync&) = delete;

 private:
  using Clock = std::chrono::steady_clock;
  struct Writes {
    Clock::time_point first, last;
    bool closed = false;  // the last event was its writer closing it or a rename into place
  };
  // A file as an update left it, to tell the update's own writes from a
  // person's.
  struct Arrival {
    Clock::time_point when;
    std::int64_t size = 0, modified = 0, inode = 0;
  };
  static Arrival Stamp(const std::string& file, Clock::time_point when);
  // Why a folder waits, for the board: each is said once when it begins.
  // Name: an entry Subversion cannot get past (a name that is not UTF-8, a
  // versioned file that cannot be read).
  enum class Holdup { None, Server, Disk, WorkingCopy, Name };
  struct Folder {
    bool changed = true;            // a change other than a written file: a delete, a rename, a new folder
    Clock::time_point firstChange;  // of those since the last commit
    Clock::time_point lastChange;
    Clock::time_point nextUpdate;
    std::map<std::string, Writes> written;  // files written since their last commit
    bool repair = true;             // the working copy is cleaned up before the next work
    // The next commit and update look at the whole tree: nothing is known
    // of it yet (a start, a failure), or the watches may have missed
    // something. Otherwise a few written files are committed on their
    // own, and an update looks only at what it brought.
    bool wholeWalkDue = true;
    Holdup holdup = Holdup::None;
    std::map<std::string, std::string> leftOut;  // entries left out, with the reason reported
    std::map<std::string, Arrival> arrived;       // files the last updates wrote
    std::set<std::string> unseen;  // arrived files a local write replaced before anyone could have seen them
    std::string repository;         // "ROOT-URL UUID", read once; empty until known
    unsigned long answered = 0;     // the number of the repository's last answer acted on
    long revision = -1;             // the revision the working copy was last updated to; -1 unknown
    int failures = 0;               // network failures in a row
    Clock::time_point retryAt;      // nothing is tried before this while failing
    // When the next scan is due, for a folder not wholly watched; max() for
    // one whose every subfolder is watched.
    Clock::time_point nextScan = Clock::time_point::max();
  };
  enum class Outcome { Done, OutOfDate, Failed };
  struct Watch {
    std::string folder;     // the activated folder
    std::string directory;  // the directory watched
  };

  void Run();
  void FollowActivations();
  // Watches top and every folder below it; false when the limit of watches
  // left some of them out.
  bool WatchTree(const std::string& folder, const std::string& top);
  // Scans folder from now on, and says so once: log, board, notification.
  void WatchLimitReached(const std::string& path, Folder& folder);
  void ReadEvents();
  void Sync(const std::string& path, Folder& folder, Clock::time_point now);
  // Whether a written file has rested, and when it will have.
  Clock::time_point RestedAt(const std::string& file, const Writes& writes) const;
  // When the folder's next commit is due (max() when nothing waits).
  Clock::time_point CommitDueAt(const Folder& folder) const;
  bool Waiting(const Folder& folder) const { return folder.changed || !folder.written.empty(); }
  // Whether the last whole walk left the folder settled and the watches
  // have seen everything since: only written files can have changed.
  static bool Settled(const Folder& folder) {
    return !folder.wholeWalkDue && !folder.changed && folder.nextScan == Clock::time_point::max();
  }
  // repaired: the working copy was cleaned up for this attempt already.
  Outcome Commit(const std::string& path, Folder& folder, bool repaired = false);
  static void Restamp(const std::set<std::string>& files);
  // Cleans the working copy up, keeping local changes; false when it failed.
  bool Repair(const std::string& path, Folder& folder);
  // Marks the folder's changes as due for a commit at once, without waiting
  // for them to rest.
  void CommitSoon(Folder& folder) const;
  void ReportLeftOut(const std::string& path, Folder& folder, std::map<std::string, std::string> found);
  Outcome Update(const std::string& path, Folder& folder, bool repaired = false);
  // Whether a folder takes the repository's next answer: it is not waiting
  // for a back-off, and no deletion or rename holds its updates back.
  bool Asking(const Folder& folder, Clock::time_point now) const { return now >= folder.retryAt && !folder.changed; }
  // Asks each repository that is due and that a folder asks about for its
  // youngest revision, once for all its folders.
  void PollRepositories(Clock::time_point now);
  // Whether the repository's answer not yet acted on has a revision the
  // working copy lacks.
  bool Newer(Folder& folder);
  // Counts a failure and sets when to try again.
  void Failed(const std::string& path, Folder& folder, const std::string& what, const SvnFailure& failure);
  void Succeeded(const std::string& path, Folder& folder);
  void ReportConflicts(const std::string& path, const std::vector<KeptConflict>& kept);
  void ReportReceivedCopies(const std::string& path, const std::vector<std::string>& copies);
  void Notify(const std::string& message) const;
  bool IsOwn(const std::string& path) const;

  const ActivationStore& activations_;
  const DaemonLog& log_;
  JobBoard& jobs_;
  const std::vector<std::string> ownFolders_;  // resolved
  const Periods periods_;
  const std::string who_;  // who conflict copies made here name: "PERSON on HOST"
  std::atomic<bool> stop_{false};
  FolderWatcher watcher_;
  std::optional<WakeUp> wake_;  // none when the system gave none
  RepositoryPoller poller_;
  std::map<std::string, Folder> folders_;
  std::unordered_map<int, Watch> watches_;
  std::thread thread_;
};

}  // namespace korvane::server
