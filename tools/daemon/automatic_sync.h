// Automatic commit and update of the folders activated in mode 3. One thread
// watches each such working copy with inotify (every folder in it except
// .svn), commits it once changes have rested for a quiet period (scheduling
// new files for addition and missing ones for deletion first), and updates
// it every update period. A folder is committed once as soon as it is
// activated, so that nothing changed before the watch began is left out.
// Every commit that makes a revision and every update is logged, and so is
// every failure. The daemon's own folders are left out even when a mode-3
// folder holds them (a home folder that is a working copy): they are neither
// watched nor added, or every write to the log would make a revision.
//
// Every poll period the youngest revision of each folder's repository is
// asked for (one cheap request on a session kept open); only when it is
// newer than the working copy does an update run, so a commit made
// elsewhere arrives within about a poll period and an idle folder costs
// the server almost nothing. A full update still runs every update period.
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
// KORVANE_POLL_PERIOD_MS (default 1000), KORVANE_RETRY_FIRST_MS (default
// 1000), KORVANE_RETRY_MOST_MS (default 60000) and
// KORVANE_CREDENTIAL_WAIT_MS (default 600000).
#pragma once

#include "activation_store.h"
#include "conflict_keeper.h"
#include "daemon_log.h"
#include "job_board.h"

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
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
    std::chrono::milliseconds update{60000};
    std::chrono::milliseconds poll{1000};
    std::chrono::milliseconds retryFirst{1000};
    std::chrono::milliseconds retryMost{60000};
    std::chrono::milliseconds credentialWait{600000};
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
  struct Link;  // an open session on a folder's repository, for polling
  struct Folder {
    bool changed = true;
    Clock::time_point lastChange;
    Clock::time_point nextUpdate;
    std::set<std::string> written;  // files written since the last commit
    Clock::time_point nextPoll;
    long revision = -1;             // the revision the working copy was last updated to; -1 unknown
    int failures = 0;               // network failures in a row
    Clock::time_point retryAt;      // nothing is tried before this while failing
    std::shared_ptr<Link> link;
  };
  enum class Outcome { Done, OutOfDate, Failed };
  struct Watch {
    std::string folder;     // the activated folder
    std::string directory;  // the directory watched
  };

  void Run();
  void FollowActivations();
  void WatchTree(const std::string& folder, const std::string& top);
  void ReadEvents();
  void Sync(const std::string& path, Folder& folder, Clock::time_point now);
  Outcome Commit(const std::string& path, Folder& folder);
  static void Restamp(std::set<std::string>& files);
  Outcome Update(const std::string& path, Folder& folder);
  // Whether the repository has a revision the working copy lacks.
  bool Newer(const std::string& path, Folder& folder);
  // Counts a failure and sets when to try again.
  void Failed(const std::string& path, Folder& folder, const std::string& what, const std::string& message,
              bool credential);
  void Succeeded(const std::string& path, Folder& folder);
  void ReportConflicts(const std::string& path, const std::vector<KeptConflict>& kept);
  void Notify(const std::string& message) const;
  bool IsOwn(const std::string& path) const;

  const ActivationStore& activations_;
  const DaemonLog& log_;
  JobBoard& jobs_;
  const std::vector<std::string> ownFolders_;  // resolved
  const Periods periods_;
  std::atomic<bool> stop_{false};
  int inotify_ = -1;
  int wake_ = -1;
  std::map<std::string, Folder> folders_;
  std::unordered_map<int, Watch> watches_;
  std::thread thread_;
};

}  // namespace korvane::server
