// Work that may take long (Subversion, file systems) runs on a bounded pool
// of worker threads, so that no client waits for another's and no flood of
// requests takes the daemon to its process limit. Work beyond the pool waits
// in a bounded queue; when that is full a submission is refused and the
// caller says so. The event loop learns of finished work through a
// descriptor that turns readable.
#pragma once

#include "daemon/platform/wake_up.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace korvane::server {

class WorkRunner {
 public:
  using Work = std::function<std::string()>;

  struct Limits {
    std::size_t workers;  // threads at most, started as work arrives
    std::size_t queued;   // jobs waiting for a thread at most
  };

  struct Job {
    std::uint64_t connection = 0;  // 0: nobody waits for the result
    std::string name;              // the operation, for the log
    std::string folder;            // the folder it works on, when it has one
    Work work;
    std::string failed;  // the result when the work throws
  };

  struct Finished {
    std::uint64_t connection;
    std::string name;
    std::string reply;
  };

  // Throws std::system_error when no descriptor can be made.
  explicit WorkRunner(Limits limits);
  // Waits for running work; the daemon's stop watchdog bounds that wait.
  ~WorkRunner();
  WorkRunner(const WorkRunner&) = delete;
  WorkRunner& operator=(const WorkRunner&) = delete;

  // Readable while finished work waits to be taken.
  NativeHandle ReadyFd() const { return ready_.Handle(); }

  // Queues the job; false (and the job not taken) when the queue is full,
  // when no thread can be started to run it, or once stopping began.
  bool Submit(Job job);

  std::vector<Finished> TakeFinished();

  // Takes no more work and gives back the jobs that never started.
  std::vector<Job> Stop();

  // Waits up to limit for running work to end; true when none runs.
  bool WaitIdle(std::chrono::milliseconds limit);

  std::size_t Running() const;

 private:
  void Serve();
  bool StartWorker();  // called with mutex_ held

  const Limits limits_;
  WakeUp ready_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::deque<Job> queue_;
  std::vector<Finished> finished_;
  std::vector<std::thread> workers_;
  std::size_t waiting_ = 0;  // workers waiting for a job
  std::size_t running_ = 0;
  bool stopping_ = false;
};

}  // namespace korvane::server
