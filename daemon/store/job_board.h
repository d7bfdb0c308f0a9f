// The daemon's background work as others see it. Every change is published
// in the file "jobs" of the state folder, a JSON document replaced whole
// (written beside it, then renamed over it), so that the korvane tool and a
// file manager can show what runs, how far it has got and how it ended:
//
//   {"format": 1, "daemon": PID, "nextId": 8, "updated": "2025-01-31T12:00:00.123Z",
//    "jobs": [{"id": 7, "operation": "shareFolder", "folder": "/home/a/site",
//              "state": "running", "stage": "importing",
//              "filesDone": 120, "filesTotal": 2000,
//              "bytesDone": 3145728, "bytesTotal": 52428800,
//              "started": "...", "ended": null, "code": null, "message": ""}]}
//
// state is "running", "succeeded" or "failed"; code is the result code of
// results.h once the work has ended (0 when it succeeded) and message says
// what came of it. Totals are 0 while unknown. The board survives restarts
// of the daemon: a new daemon keeps the ended work of the board it finds,
// ends the work left running there as cancelled, and numbers on from the
// highest id given (nextId). The running work and the last kKeptEnded ended
// pieces of each operation are kept.
//
// A thread of the board's own writes the file, at most every kPublishEvery:
// a burst of requests (or a hostile client) costs one rewrite per interval,
// not one per request, and no handler ever waits on the file.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace korvane::server {

class JobBoard {
 public:
  using Id = std::uint64_t;
  static constexpr std::size_t kKeptEnded = 32;
  // The most pieces of an earlier board taken over: a board edited by hand
  // cannot make the daemon's memory grow.
  static constexpr std::size_t kMaxLoaded = 1024;
  // The most of a folder's name the board keeps.
  static constexpr std::size_t kMaxFolderBytes = 4096;

  // Publishes the board at file, taking over the one an earlier daemon
  // left there.
  explicit JobBoard(std::string file);
  // Publishes what is pending.
  ~JobBoard();
  JobBoard(const JobBoard&) = delete;
  JobBoard& operator=(const JobBoard&) = delete;

  // Begins work of operation on folder; nothing when the same work on the
  // same folder is still running.
  std::optional<Id> Begin(const std::string& operation, const std::string& folder);
  // A new stage starts its counts from 0 of the totals given.
  void Stage(Id id, const std::string& stage, std::uint64_t filesTotal, std::uint64_t bytesTotal);
  // Counts one more file of bytes.
  void Advance(Id id, std::uint64_t bytes);
  // Ends the work with a code of results.h and a message; an ended piece of
  // work keeps its first end.
  void End(Id id, std::int32_t code, const std::string& message);
  // Work that ends as it begins.
  void Record(const std::string& operation, const std::string& folder, std::int32_t code, const std::string& message);
  // Publishes the pending changes now, without waiting for the interval.
  void Flush();

  static constexpr std::chrono::milliseconds kPublishEvery{100};

 private:

  struct Job {
    Id id;
    std::string operation;
    std::string folder;
    std::string stage;
    std::uint64_t filesDone = 0, filesTotal = 0, bytesDone = 0, bytesTotal = 0;
    std::string started;
    std::string ended;  // empty while running
    std::int32_t code = 0;
    std::string message;
  };

  Job* Find(Id id);
  void Load();  // before the publisher starts
  std::size_t EndedOf(const std::string& operation) const;
  void DropOldestEnded(const std::string& operation);
  // With mutex_ held, changing the board without publishing it.
  std::optional<Id> Add(const std::string& operation, const std::string& folder);
  bool Finish(Id id, std::int32_t code, const std::string& message);
  void Changed();          // with mutex_ held: the publisher will write the board
  std::string Document();  // with mutex_ held: the board as its file holds it
  void Write(const std::string& document);  // with writing_ held, or before the publisher starts
  void PublishInIntervals();

  std::string file_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool pending_ = false;
  bool stopping_ = false;
  Id nextId_ = 1;
  std::vector<Job> jobs_;  // in the order they began
  std::mutex writing_;     // one writer of the file at a time; taken before mutex_
  std::thread publisher_;
};

// Ends a piece of work that its body left without an end (an exception, a
// forgotten path) as failed, so that nobody waits for it for ever.
class JobEnd {
 public:
  JobEnd(JobBoard& board, JobBoard::Id id) : board_(board), id_(id) {}
  ~JobEnd();
  JobEnd(const JobEnd&) = delete;
  JobEnd& operator=(const JobEnd&) = delete;

 private:
  JobBoard& board_;
  JobBoard::Id id_;
};

}  // namespace korvane::server
