// The activated folders and their modes, kept in the state folder's file
// "activations": one "MODE|PATH" line per folder (MODE 1, 2 or 3, PATH
// absolute with "/" separators), sorted by path; lines starting with "#"
// and blank lines are ignored. Every change reaches the disk before it takes
// effect, and the file is only ever replaced whole, so a crash leaves either
// the old state or the new one.
#pragma once

#include "daemon/platform/wake_up.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace korvane::server {

using Activations = std::map<std::string, int>;  // folder -> mode 1..3

// The path in the form activations are kept in: absolute, single "/"
// separators, no "." components and no trailing "/" (except the root), as
// platform/local_path.h writes it for this system. Nothing for a relative
// path, one with ".." components, or one holding a NUL or a line break.
std::optional<std::string> CanonicalFolder(std::string_view path);

struct ParsedActivations {
  Activations activations;
  std::vector<std::string> rejected;  // one account per line that was left out
};

// Reads the file's text, keeping every line that parses.
ParsedActivations ParseActivations(std::string_view text);
// The file's text for these activations.
std::string FormatActivations(const Activations& activations);


// The activations in force. Safe to use from any thread.
//
// Changes are made durable together: a writer thread of the store's own
// takes every change that arrived while it wrote the last batch, settles
// each against the bounds in the order they came, writes the file once
// (one write, one flush) and only then puts them in force and tells each
// submitter what came of its change. A change is never in force, nor listed,
// before the file that holds it is on the disk.
class ActivationStore {
 public:
  explicit ActivationStore(std::string file);
  // Writes the changes still waiting, then stops the writer.
  ~ActivationStore();
  ActivationStore(const ActivationStore&) = delete;
  ActivationStore& operator=(const ActivationStore&) = delete;

  // The list goes back to a client in one packet, and every change rewrites
  // the file whole: both stay bounded. A folder beyond these is refused,
  // and the log says why.
  static constexpr std::size_t kMaxActivations = 10000;
  static constexpr std::size_t kMaxListBytes = 1 << 20;

  // Loads the file (a missing file is no activation). Gives one line for
  // each problem found: an unreadable file, each line left out (also those
  // beyond the bounds). Called before any change is submitted.
  std::vector<std::string> Load();

  enum class Change { Made, Unchanged, Failed };
  struct Outcome {
    Change change = Change::Unchanged;
    std::string error;  // why, when it failed
  };
  // Told on the writer thread once the change is in force (or refused);
  // it must not submit or wait for another change.
  using Done = std::function<void(const Outcome&)>;
  // Each change is numbered in the order it was submitted.
  using Ticket = std::uint64_t;

  // Changes waiting for the writer at most, and the bytes of their paths: a
  // flood of one-way frames cannot grow the queue while a flush runs.
  static constexpr std::size_t kMaxPending = 4096;
  static constexpr std::size_t kMaxPendingBytes = 4 << 20;

  // Queues a change without waiting for it: folder activated in mode 1..3,
  // or its activation removed for mode 0. The file is replaced before the
  // change is held here; when that fails, or the change would take the list
  // past its bounds, nothing changes and the outcome says why. Nothing (and
  // done is not called) when the queue is full.
  std::optional<Ticket> Submit(std::string folder, int mode, Done done = {});
  // Submits the change and waits until it is in force or refused. Callers
  // are the bounded workers, so their changes pass a full queue.
  Change Set(const std::string& folder, int mode, std::string& error);

  // The ticket of the newest change submitted (0: none yet).
  Ticket Submitted() const;
  // Every change up to this ticket is settled: in force or refused.
  Ticket Settled() const;
  // Waits until every change submitted so far is settled: their
  // acknowledgements may use what the submitter is about to destroy.
  void WaitSettled() const;
  // Raises wakeUp each time changes are settled, from Watch until Unwatch
  // returns: the event loop answers what waited for them, and a thread that
  // follows the activations need not keep asking.
  void Watch(WakeUp& wakeUp) const;
  void Unwatch(WakeUp& wakeUp) const;

  // One "MODE|PATH" line per activation, each ending in a line feed.
  std::string List() const;

  struct Covering {
    int mode = 0;
    std::string folder;
  };
  // The activated folder nearest to path among path and its ancestors.
  std::optional<Covering> Cover(std::string_view path) const;

  Activations Current() const;

 private:
  struct Pending {
    Ticket ticket;
    std::string folder;
    int mode;
    Done done;
  };
  Ticket Queue(std::string folder, int mode, Done done);  // with mutex_ held
  void WriteBatches();

  const std::string file_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  mutable std::condition_variable settledChanged_;
  Activations activations_;
  std::size_t listBytes_ = 0;  // FormatActivations(activations_).size()
  std::vector<Pending> pending_;
  std::size_t pendingBytes_ = 0;
  Ticket submitted_ = 0;
  Ticket settled_ = 0;
  bool stopping_ = false;
  mutable std::mutex watchersMutex_;
  mutable std::vector<WakeUp*> watchers_;
  std::thread writer_;
};

}  // namespace korvane::server
