#include "work_runner.h"

#include <cerrno>
#include <exception>
#include <system_error>

#include <sys/eventfd.h>
#include <unistd.h>

namespace korvane::server {

WorkRunner::WorkRunner() : ready_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (ready_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
}

WorkRunner::~WorkRunner() {
  JoinAll();
  close(ready_);
}

void WorkRunner::Start(std::uint64_t connection, Work work, std::string failed) {
  std::lock_guard lock(mutex_);
  Job& job = jobs_.emplace_back();
  job.connection = connection;
  // The job stays in the list, at the same address, until its thread is
  // joined.
  job.thread = std::thread([this, &job, work = std::move(work), failed = std::move(failed)]() mutable {
    std::string reply;
    try {
      reply = work();
    } catch (const std::exception&) {
      reply = std::move(failed);
    }
    {
      std::lock_guard done(mutex_);
      job.reply = std::move(reply);
      job.done = true;
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(ready_, &one, sizeof one);
  });
}

std::vector<WorkRunner::Finished> WorkRunner::TakeFinished() {
  std::uint64_t count = 0;
  [[maybe_unused]] const ssize_t drained = read(ready_, &count, sizeof count);
  std::list<Job> finished;
  {
    std::lock_guard lock(mutex_);
    for (auto job = jobs_.begin(); job != jobs_.end();) {
      auto next = std::next(job);
      if (job->done) finished.splice(finished.end(), jobs_, job);
      job = next;
    }
  }
  std::vector<Finished> results;
  for (Job& job : finished) {
    job.thread.join();
    results.push_back({job.connection, std::move(job.reply)});
  }
  return results;
}

std::vector<WorkRunner::Finished> WorkRunner::JoinAll() {
  std::list<Job> all;
  {
    std::lock_guard lock(mutex_);
    all.splice(all.end(), jobs_);
  }
  std::vector<Finished> results;
  for (Job& job : all) {
    job.thread.join();
    results.push_back({job.connection, std::move(job.reply)});
  }
  std::uint64_t count = 0;
  [[maybe_unused]] const ssize_t drained = read(ready_, &count, sizeof count);
  return results;
}

}  // namespace korvane::server
