// Work that may take long (Subversion, file systems) runs on a thread of its
// own, so that no client waits for another's. The event loop learns of
// finished work through a descriptor that turns readable.
#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace korvane::server {

class WorkRunner {
 public:
  using Work = std::function<std::string()>;

  WorkRunner();  // throws std::system_error when no descriptor can be made
  ~WorkRunner();
  WorkRunner(const WorkRunner&) = delete;
  WorkRunner& operator=(const WorkRunner&) = delete;

  // Readable while finished work waits to be taken.
  int ReadyFd() const { return ready_; }

  // Runs work for the connection; its result is the reply. Work that
  // throws gives failed as its reply.
  void Start(std::uint64_t connection, Work work, std::string failed);

  struct Finished {
    std::uint64_t connection;
    std::string reply;
  };
  std::vector<Finished> TakeFinished();

  // Waits for every piece of work to end and gives what none took yet.
  std::vector<Finished> JoinAll();

 private:
  struct Job {
    std::uint64_t connection;
    std::thread thread;
    bool done = false;
    std::string reply;
  };

  int ready_ = -1;
  std::mutex mutex_;
  std::list<Job> jobs_;
};

}  // namespace korvane::server
