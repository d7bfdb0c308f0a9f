#include "daemon/store/activation_store.h"

#include "daemon/base/path_rules.h"
#include "daemon/platform/atomic_file.h"
#include "daemon/platform/file_system.h"
#include "daemon/platform/local_path.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <future>
#include <system_error>


namespace korvane::server {

namespace {
constexpr char kFileHeader[] = "# Korvane activations: one MODE|PATH line per activated folder\n";

// What one activation takes in the list: "MODE|PATH\n".
std::size_t LineBytes(const std::string& folder) { return folder.size() + 3; }
}  // namespace

std::optional<std::string> CanonicalFolder(std::string_view path) { return CanonicalLocalPath(path); }

ParsedActivations ParseActivations(std::string_view text) {
  ParsedActivations parsed;
  std::size_t number = 0;
  while (!text.empty()) {
    ++number;
    const std::size_t end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.empty() || line.front() == '#') continue;
    const auto reject = [&](const char* why) {
      parsed.rejected.push_back("line " + std::to_string(number) + " (" + why + "): " + std::string(line));
    };
    if (line.size() < 3 || line[1] != '|' || line[0] < '1' || line[0] > '3') {
      reject("not MODE|PATH with MODE 1 to 3");
      continue;
    }
    const std::optional<std::string> folder = CanonicalFolder(line.substr(2));
    if (!folder || *folder != line.substr(2)) {
      reject("not a canonical absolute path");
      continue;
    }
    if (parsed.activations.contains(*folder)) {
      reject("the folder is listed already");
      continue;
    }
    parsed.activations.emplace(*folder, line[0] - '0');
  }
  return parsed;
}

std::string FormatActivations(const Activations& activations) {
  std::string text;
  for (const auto& [folder, mode] : activations) {
    text += static_cast<char>('0' + mode);
    ((text += '|') += folder) += '\n';
  }
  return text;
}

namespace {

std::string Failure(const std::string& step, const std::string& path) {
  return step + " " + path + ": " + std::strerror(errno);
}

}  // namespace

ActivationStore::ActivationStore(std::string file) : file_(std::move(file)) {
  writer_ = std::thread([this] { WriteBatches(); });
}

ActivationStore::~ActivationStore() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  writer_.join();
}

std::vector<std::string> ActivationStore::Load() {
  // A temporary file left by a write that never finished holds nothing that
  // took effect.
  std::lock_guard lock(mutex_);
  RemoveFile(file_ + ".new");
  activations_.clear();
  listBytes_ = 0;
  std::string text;
  if (ReadWholeFile(file_, text) != 0) {
    if (errno == ENOENT) return {};
    return {Failure("cannot open", file_)};
  }
  ParsedActivations parsed = ParseActivations(text);
  std::size_t leftOut = 0;
  for (const auto& [folder, mode] : parsed.activations) {
    const std::size_t line = LineBytes(folder);
    if (activations_.size() < kMaxActivations && listBytes_ + line <= kMaxListBytes) {
      activations_.emplace(folder, mode);
      listBytes_ += line;
    } else {
      ++leftOut;
    }
  }
  if (leftOut > 0) {
    parsed.rejected.push_back(std::to_string(leftOut) + " folders left out beyond the bound of " +
                              std::to_string(kMaxActivations) + " folders and " + std::to_string(kMaxListBytes) +
                              " bytes");
  }
  return std::move(parsed.rejected);
}

ActivationStore::Ticket ActivationStore::Queue(std::string folder, int mode, Done done) {
  pendingBytes_ += folder.size();
  pending_.push_back({++submitted_, std::move(folder), mode, std::move(done)});
  return submitted_;
}

std::optional<ActivationStore::Ticket> ActivationStore::Submit(std::string folder, int mode, Done done) {
  Ticket ticket;
  {
    std::lock_guard lock(mutex_);
    if (pending_.size() >= kMaxPending || pendingBytes_ + folder.size() > kMaxPendingBytes) return std::nullopt;
    ticket = Queue(std::move(folder), mode, std::move(done));
  }
  wake_.notify_one();
  return ticket;
}

ActivationStore::Change ActivationStore::Set(const std::string& folder, int mode, std::string& error) {
  std::promise<Outcome> settled;
  std::future<Outcome> outcome = settled.get_future();
  {
    std::lock_guard lock(mutex_);
    Queue(folder, mode, [&settled](const Outcome& result) { settled.set_value(result); });
  }
  wake_.notify_one();
  const Outcome result = outcome.get();
  error = result.error;
  return result.change;
}

ActivationStore::Ticket ActivationStore::Submitted() const {
  std::lock_guard lock(mutex_);
  return submitted_;
}

ActivationStore::Ticket ActivationStore::Settled() const {
  std::lock_guard lock(mutex_);
  return settled_;
}

void ActivationStore::WaitSettled() const {
  std::unique_lock lock(mutex_);
  settledChanged_.wait(lock, [this] { return settled_ == submitted_; });
}

void ActivationStore::WriteBatches() {
  std::vector<Pending> batch;
  std::vector<Outcome> outcomes;
  for (;;) {
    Activations next;
    std::size_t nextBytes = 0;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !pending_.empty(); });
      // Changes still waiting are written before the writer goes.
      if (pending_.empty()) return;
      batch.swap(pending_);
      pendingBytes_ = 0;
      // Only this thread changes activations_: the copy stays current while
      // the batch is written.
      next = activations_;
      nextBytes = listBytes_;
    }
    // Each change settled against the list as the changes before it left
    // it, in the order they came.
    outcomes.assign(batch.size(), Outcome{});
    bool changed = false;
    for (std::size_t i = 0; i < batch.size(); ++i) {
      const Pending& change = batch[i];
      const auto current = next.find(change.folder);
      if (change.mode == 0) {
        if (current == next.end()) continue;
        nextBytes -= LineBytes(current->first);
        next.erase(current);
      } else if (current != next.end()) {
        if (current->second == change.mode) continue;
        current->second = change.mode;
      } else {
        const std::size_t line = LineBytes(change.folder);
        if (next.size() + 1 > kMaxActivations || nextBytes + line > kMaxListBytes) {
          outcomes[i] = {Change::Failed, "refused: the activation list is bounded at " +
                                             std::to_string(kMaxActivations) + " folders and " +
                                             std::to_string(kMaxListBytes) + " bytes"};
          continue;
        }
        next.emplace(change.folder, change.mode);
        nextBytes += line;
      }
      outcomes[i].change = Change::Made;
      changed = true;
    }
    // One write and one flush for the whole batch; when it fails, none of
    // the batch's changes takes effect.
    const std::string problem = changed ? ReplaceFileAtomically(file_, kFileHeader + FormatActivations(next)) : "";
    if (!problem.empty()) {
      for (Outcome& outcome : outcomes) {
        if (outcome.change == Change::Made) outcome = {Change::Failed, problem};
      }
    }
    if (changed && problem.empty()) {
      std::lock_guard lock(mutex_);
      activations_ = std::move(next);
      listBytes_ = nextBytes;
    }
    // Submitters hear of their changes (the log, the jobs board) before the
    // batch counts as settled: what is answered after it shows them.
    for (std::size_t i = 0; i < batch.size(); ++i) {
      if (batch[i].done) batch[i].done(outcomes[i]);
    }
    {
      std::lock_guard lock(mutex_);
      settled_ = batch.back().ticket;
    }
    settledChanged_.notify_all();
    {
      std::lock_guard lock(watchersMutex_);
      for (WakeUp* watcher : watchers_) watcher->Raise();
    }
    batch.clear();
  }
}

void ActivationStore::Watch(WakeUp& wakeUp) const {
  std::lock_guard lock(watchersMutex_);
  watchers_.push_back(&wakeUp);
}

void ActivationStore::Unwatch(WakeUp& wakeUp) const {
  std::lock_guard lock(watchersMutex_);
  std::erase(watchers_, &wakeUp);
}

std::string ActivationStore::List() const {
  std::lock_guard lock(mutex_);
  return FormatActivations(activations_);
}

Activations ActivationStore::Current() const {
  std::lock_guard lock(mutex_);
  return activations_;
}

std::optional<ActivationStore::Covering> ActivationStore::Cover(std::string_view path) const {
  std::lock_guard lock(mutex_);
  std::optional<std::string> candidate = CanonicalFolder(path);
  while (candidate) {
    if (const auto found = activations_.find(*candidate); found != activations_.end()) {
      return Covering{found->second, found->first};
    }
    // Up to the parent, and no further than the root ("/", "C:/" or a
    // share's "//server/share"), in the written form activations are kept in.
    const std::size_t root = RootLength(*candidate);
    const std::size_t slash = candidate->rfind('/');
    if (candidate->size() <= root || slash == std::string::npos) break;
    std::optional<std::string> parent = CanonicalFolder(candidate->substr(0, std::max(slash, root)));
    if (parent == candidate) break;
    candidate = std::move(parent);
  }
  return std::nullopt;
}

}  // namespace korvane::server
