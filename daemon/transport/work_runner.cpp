#include "daemon/transport/work_runner.h"

#include <exception>
#include <system_error>
#include <utility>

namespace korvane::server {

WorkRunner::WorkRunner(Limits limits) : limits_(limits) {}

WorkRunner::~WorkRunner() {
  Stop();
  for (std::thread& worker : workers_) worker.join();
}

bool WorkRunner::StartWorker() {
  // At the process limit the thread cannot start: the work is refused rather
  // than the daemon brought down.
  try {
    workers_.emplace_back([this] { Serve(); });
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

bool WorkRunner::Submit(Job job) {
  std::lock_guard lock(mutex_);
  if (stopping_ || queue_.size() >= limits_.queued) return false;
  if (waiting_ <= queue_.size() && workers_.size() < limits_.workers && !StartWorker() && workers_.empty()) {
    return false;
  }
  queue_.push_back(std::move(job));
  wake_.notify_one();
  return true;
}

void WorkRunner::Serve() {
  std::unique_lock lock(mutex_);
  for (;;) {
    ++waiting_;
    wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    --waiting_;
    if (queue_.empty()) return;  // stopping
    Job job = std::move(queue_.front());
    queue_.pop_front();
    ++running_;
    lock.unlock();
    std::string reply;
    try {
      reply = job.work();
    } catch (const std::exception&) {
      reply = std::move(job.failed);
    }
    lock.lock();
    --running_;
    finished_.push_back({job.connection, std::move(job.name), std::move(reply)});
    ready_.Raise();
    idle_.notify_all();
  }
}

std::vector<WorkRunner::Finished> WorkRunner::TakeFinished() {
  ready_.Take();
  std::lock_guard lock(mutex_);
  return std::exchange(finished_, {});
}

std::vector<WorkRunner::Job> WorkRunner::Stop() {
  std::lock_guard lock(mutex_);
  stopping_ = true;
  wake_.notify_all();
  std::vector<Job> unstarted(std::make_move_iterator(queue_.begin()), std::make_move_iterator(queue_.end()));
  queue_.clear();
  return unstarted;
}

bool WorkRunner::WaitIdle(std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  return idle_.wait_for(lock, limit, [this] { return running_ == 0 && queue_.empty(); });
}

std::size_t WorkRunner::Running() const {
  std::lock_guard lock(mutex_);
  return running_;
}

}  // namespace korvane::server
