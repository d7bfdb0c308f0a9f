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
// The periods come from the environment: KORVANE_UPDATE_PERIOD_SECONDS
// (default 60) and KORVANE_COMMIT_QUIET_MS (default 2000).
#pragma once

#include "activation_store.h"
#include "daemon_log.h"

#include <atomic>
#include <chrono>
#include <map>
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
  };
  static Periods PeriodsFromEnvironment();

  // Starts the thread; Subversion must be started already. Without inotify
  // nothing is watched, which the log says.
  AutomaticSync(const ActivationStore& activations, const DaemonLog& log, std::vector<std::string> ownFolders,
                Periods periods);
  // Cancels any running commit or update and waits for the thread.
  ~AutomaticSync();
  AutomaticSync(const AutomaticSync&) = delete;
  AutomaticSync& operator=(const AutomaticSync&) = delete;

 private:
  using Clock = std::chrono::steady_clock;
  struct Folder {
    bool changed = true;
    Clock::time_point lastChange;
    Clock::time_point nextUpdate;
    std::set<std::string> written;  // files written since the last commit
  };
  struct Watch {
    std::string folder;     // the activated folder
    std::string directory;  // the directory watched
  };

  void Run();
  void FollowActivations();
  void WatchTree(const std::string& folder, const std::string& top);
  void ReadEvents();
  void Commit(const std::string& folder);
  static void Restamp(std::set<std::string>& files);
  void Update(const std::string& folder);
  bool IsOwn(const std::string& path) const;

  const ActivationStore& activations_;
  const DaemonLog& log_;
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
