// KorvaneBkgProc: the product's background daemon. It serves the daemon
// pipe for the user who runs it, keeps the activated folders, answers status
// queries from the working copies, does the repository and local-directory
// work that the library asks of it, hosts the spaces of the embedded hosting
// service, and commits and updates the folders activated in mode 3.
//
// Started with no arguments (the library starts it detached). It leaves at
// once, with status 0, when a daemon already serves the pipe; a lock file
// beside the socket settles daemons started at the same moment. It stops on
// the stop request (254) and on SIGTERM, SIGINT or SIGHUP.
#include "daemon/store/activation_store.h"
#include "daemon/sync/automatic_sync.h"
#include "daemon/commands/commands.h"
#include "daemon/hosting/hosting_backend.h"
#include "daemon/base/daemon_log.h"
#include "daemon/base/own_folders.h"
#include "daemon/platform/daemon_paths.h"
#include "daemon/platform/notifier.h"
#include "daemon/platform/pipe_listener.h"
#include "daemon/platform/process_lock.h"
#include "daemon/platform/stop_signals.h"
#include "daemon/transport/server.h"
#include "daemon/svn/svn_runtime.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <iostream>
#include <memory>
#include <system_error>
#include <thread>

namespace {

using namespace korvane::server;

// How long a start waits for a daemon that holds the start lock either to
// serve the pipe or to finish stopping.
constexpr auto kStartLockWait = std::chrono::seconds(10);
constexpr auto kStartLockPoll = std::chrono::milliseconds(50);

enum class Claim { Ours, ServedElsewhere, Failed };

// Either another daemon serves the pipe, or this one holds the start lock
// and may bind. A lock holder that does not serve is starting or stopping:
// wait until it does the one or the other.
Claim ClaimPipe(const DaemonPaths& paths, const DaemonLog& log) {
  const auto deadline = std::chrono::steady_clock::now() + kStartLockWait;
  std::string problem;
  for (;;) {
    if (Served(paths.socketPath)) return Claim::ServedElsewhere;
    if (HoldLock(paths.StartLock(), problem)) {
      return Served(paths.socketPath) ? Claim::ServedElsewhere : Claim::Ours;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      log.Error(problem + " which does not serve the pipe");
      return Claim::Failed;
    }
    std::this_thread::sleep_for(kStartLockPoll);
  }
}

// Once the daemon stops, it ends within the stop grace whatever its work
// does: a Subversion call blocked on a server that never answers (svn://
// has no time-out) reaches no cancellation. Such work writes only into the
// folder it was given, which a later checkout resumes, and the activations
// are replaced whole or not at all, so leaving it mid-call loses nothing.
class StopWatchdog {
 public:
  StopWatchdog(std::atomic<bool>& stopping, const DaemonLog& log, std::chrono::milliseconds grace)
      : stopping_(stopping), log_(log), grace_(grace), thread_([this] { Run(); }) {}
  ~StopWatchdog() {
    {
      std::lock_guard lock(mutex_);
      finished_ = true;
    }
    stopping_ = true;
    stopping_.notify_all();
    done_.notify_all();
    thread_.join();
  }
  StopWatchdog(const StopWatchdog&) = delete;
  StopWatchdog& operator=(const StopWatchdog&) = delete;

 private:
  void Run() {
    stopping_.wait(false);
    std::unique_lock lock(mutex_);
    if (done_.wait_for(lock, grace_, [this] { return finished_; })) return;
    log_.Warning("the stop took longer than " + std::to_string(grace_.count()) +
                 " ms; work still waiting on the network is abandoned");
    std::_Exit(0);
  }

  std::atomic<bool>& stopping_;
  const DaemonLog& log_;
  const std::chrono::milliseconds grace_;
  std::mutex mutex_;
  std::condition_variable done_;
  bool finished_ = false;
  std::thread thread_;
};

int Serve(DaemonPaths& paths, const DaemonLog& log) {
  std::string problem;
  if (!PrepareFolder(paths.runtimeFolder, true, problem)) {
    log.Error(problem);
    return 1;
  }
  // Every own folder exists now: each is resolved once, not per request.
  paths.ResolveOwnFolders();
  switch (ClaimPipe(paths, log)) {
    case Claim::ServedElsewhere:
      log.Info("another daemon serves " + paths.socketPath + "; leaving it to serve");
      return 0;
    case Claim::Failed:
      return 1;
    case Claim::Ours:
      break;
  }
  if (!HoldLock(paths.StateLock(), problem)) {
    log.Error(problem + "; its state is not shared");
    return 1;
  }

  ActivationStore activations(paths.ActivationsFile());
  for (const std::string& rejected : activations.Load()) log.Warning("activations: " + rejected);
  if (!StartSubversion(problem)) {
    log.Error(problem);
    return 1;
  }
  int status = 0;
  try {
    std::atomic<bool> stopping{false};
    const ServerLimits limits = ServerLimits::FromEnvironment();
    // The whole stop, the server's share included, is bounded.
    const StopWatchdog watchdog(stopping, log, limits.stopGrace);
    JobBoard jobs(paths.JobsFile());
    const std::unique_ptr<Notifier> notifier = MakeDesktopNotifier(log);
    const InstalledNotifier notifications(*notifier);
    std::string configProblems;
    const ServiceConfig service = ReadServiceConfig(ServiceConfigFile(), configProblems);
    if (!configProblems.empty()) log.Warning(configProblems);
    if (service.IsRemote()) log.Info("the hosting service is " + service.url + " as " + service.user);
    SetSubversionConfigFolder(service.subversionConfig);
    const std::unique_ptr<HostingBackend> hosting = ChooseHostingBackend(service, paths, stopping);
    DaemonContext context{activations, paths, log, stopping, jobs, *hosting};
    const AutomaticSync sync(activations, log, jobs, paths.OwnFolders(), AutomaticSync::PeriodsFromEnvironment());
    CommandDispatcher dispatcher(context);
    Server server(Listen(paths.socketPath), dispatcher, activations, log, stopping, limits);
    log.Info("serving " + paths.socketPath + " with " + std::to_string(activations.Current().size()) + " activations");
    server.Run();
  } catch (const std::exception& error) {
    log.Error(error.what());
    status = 1;
  }
  EndSubversion();
  log.Info("stopped");
  return status;
}

}  // namespace

int main() {
  // Before any thread starts: the server takes the stop signals between
  // requests.
  SetUpSignals();
  // The user's umask stays: working copies, shared folders and checkouts
  // are the user's files. The daemon's own folders are made private
  // (0700) instead, which keeps everything in them private.
  // The daemon holds no folder of its caller's busy.
  std::error_code changed;
  std::filesystem::current_path("/", changed);
  if (changed) return 1;

  std::string problem;
  std::optional<DaemonPaths> paths = FindPaths(problem);
  if (!paths || !PrepareFolder(paths->stateFolder, true, problem) || !PrepareFolder(paths->dataFolder, true, problem)) {
    std::cerr << "KorvaneBkgProc: " << problem << '\n';
    return 1;
  }
  // Requests name real paths; the state folder is compared with them.
  if (std::optional<std::string> real = RealPath(paths->stateFolder)) paths->stateFolder = *real;
  const DaemonLog log(paths->Log());
  return Serve(*paths, log);
}
