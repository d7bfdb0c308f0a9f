#include "daemon/store/job_board.h"

#include "daemon/platform/atomic_file.h"
#include "daemon/platform/calendar_time.h"
#include "daemon/platform/host_names.h"
#include "daemon/reply/results.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>

namespace korvane::server {

namespace {

using nlohmann::json;

std::string Now() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  const std::tm utc = UniversalTime(seconds);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(millis));
  return text;
}

// A folder as the board shows it: a request may name anything, and the board
// is rewritten whole, so what it keeps of a name is bounded.
std::string ShownFolder(const std::string& folder) {
  if (folder.size() <= JobBoard::kMaxFolderBytes) return folder;
  std::size_t cut = JobBoard::kMaxFolderBytes;
  while (cut > 0 && (static_cast<unsigned char>(folder[cut]) & 0xC0) == 0x80) --cut;  // a whole character
  return folder.substr(0, cut) + "...";
}

}  // namespace

JobBoard::JobBoard(std::string file) : file_(std::move(file)) {
  Load();
  Write(Document());
  publisher_ = std::thread([this] { PublishInIntervals(); });
}

// The board an earlier daemon left: its ended work stays on the board, work
// it left running ends as cancelled, and the numbering goes on after the
// highest id it gave. A board that does not parse starts afresh.
void JobBoard::Load() {
  const json earlier = json::parse(std::ifstream(file_), nullptr, false);
  if (!earlier.is_object()) return;
  const auto text = [](const json& job, const char* name) {
    const auto found = job.find(name);
    return found != job.end() && found->is_string() ? found->get<std::string>() : std::string();
  };
  const auto count = [](const json& job, const char* name) {
    const auto found = job.find(name);
    return found != job.end() && found->is_number_unsigned() ? found->get<std::uint64_t>() : std::uint64_t{0};
  };
  if (const auto next = earlier.find("nextId"); next != earlier.end() && next->is_number_unsigned()) {
    nextId_ = std::max(nextId_, next->get<Id>());
  }
  const auto jobs = earlier.find("jobs");
  if (jobs == earlier.end() || !jobs->is_array()) return;
  for (const json& each : *jobs) {
    if (!each.is_object() || count(each, "id") == 0 || text(each, "operation").empty()) continue;
    Job job;
    job.id = count(each, "id");
    nextId_ = std::max(nextId_, job.id + 1);
    if (Find(job.id) != nullptr) continue;
    job.operation = text(each, "operation");
    job.folder = ShownFolder(text(each, "folder"));
    job.stage = text(each, "stage");
    job.filesDone = count(each, "filesDone");
    job.filesTotal = count(each, "filesTotal");
    job.bytesDone = count(each, "bytesDone");
    job.bytesTotal = count(each, "bytesTotal");
    job.started = text(each, "started");
    job.ended = text(each, "ended");
    job.message = text(each, "message");
    const auto code = each.find("code");
    job.code = code != each.end() && code->is_number_integer() ? code->get<std::int32_t>() : 0;
    if (job.ended.empty()) {
      job.ended = Now();
      job.code = static_cast<std::int32_t>(Result::Cancelled);
      job.message = "the daemon stopped before this ended";
    }
    jobs_.push_back(std::move(job));
    if (jobs_.size() > kMaxLoaded) break;
  }
  // Kept as a running board would have kept them.
  for (std::size_t i = 0; i < jobs_.size();) {
    if (EndedOf(jobs_[i].operation) > kKeptEnded) {
      DropOldestEnded(jobs_[i].operation);
    } else {
      ++i;
    }
  }
}

std::size_t JobBoard::EndedOf(const std::string& operation) const {
  std::size_t ended = 0;
  for (const Job& each : jobs_) ended += !each.ended.empty() && each.operation == operation ? 1 : 0;
  return ended;
}

void JobBoard::DropOldestEnded(const std::string& operation) {
  for (auto each = jobs_.begin(); each != jobs_.end(); ++each) {
    if (!each->ended.empty() && each->operation == operation) {
      jobs_.erase(each);
      return;
    }
  }
}

JobBoard::~JobBoard() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_one();
  publisher_.join();
  Flush();
}

void JobBoard::Changed() {
  pending_ = true;
  changed_.notify_one();
}

// The document is made and written under writing_, so a later state of the
// board is never overwritten by an earlier one.
void JobBoard::Flush() {
  std::lock_guard writing(writing_);
  std::string document;
  {
    std::lock_guard lock(mutex_);
    if (!pending_) return;
    pending_ = false;
    document = Document();
  }
  Write(document);
}

void JobBoard::PublishInIntervals() {
  for (;;) {
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] { return pending_ || stopping_; });
      if (stopping_) return;
    }
    Flush();
    std::this_thread::sleep_for(kPublishEvery);
  }
}

JobBoard::Job* JobBoard::Find(Id id) {
  for (Job& job : jobs_) {
    if (job.id == id) return &job;
  }
  return nullptr;
}

std::optional<JobBoard::Id> JobBoard::Begin(const std::string& operation, const std::string& folder) {
  std::lock_guard lock(mutex_);
  const std::optional<Id> id = Add(operation, folder);
  if (id) Changed();
  return id;
}

std::optional<JobBoard::Id> JobBoard::Add(const std::string& operation, const std::string& folder) {
  const std::string shown = ShownFolder(folder);
  for (const Job& job : jobs_) {
    if (job.ended.empty() && job.operation == operation && job.folder == shown) return std::nullopt;
  }
  Job& job = jobs_.emplace_back();
  job.id = nextId_++;
  job.operation = operation;
  job.folder = shown;
  job.started = Now();
  return job.id;
}

void JobBoard::Stage(Id id, const std::string& stage, std::uint64_t filesTotal, std::uint64_t bytesTotal) {
  std::lock_guard lock(mutex_);
  Job* job = Find(id);
  if (job == nullptr || !job->ended.empty()) return;
  job->stage = stage;
  job->filesDone = job->bytesDone = 0;
  job->filesTotal = filesTotal;
  job->bytesTotal = bytesTotal;
  Changed();
}

void JobBoard::Advance(Id id, std::uint64_t bytes) {
  std::lock_guard lock(mutex_);
  Job* job = Find(id);
  if (job == nullptr || !job->ended.empty()) return;
  ++job->filesDone;
  job->bytesDone += bytes;
  Changed();
}

void JobBoard::End(Id id, std::int32_t code, const std::string& message) {
  std::lock_guard lock(mutex_);
  if (Finish(id, code, message)) Changed();
}

bool JobBoard::Finish(Id id, std::int32_t code, const std::string& message) {
  Job* job = Find(id);
  if (job == nullptr || !job->ended.empty()) return false;
  job->ended = Now();
  job->code = code;
  job->message = message;
  // The oldest ended work of the same operation makes room; running work
  // always stays, and frequent work (automatic commits) never pushes out
  // the rare (a share).
  if (EndedOf(job->operation) > kKeptEnded) DropOldestEnded(job->operation);
  return true;
}

// One change of the board for work that began and ended at once.
void JobBoard::Record(const std::string& operation, const std::string& folder, std::int32_t code,
                      const std::string& message) {
  std::lock_guard lock(mutex_);
  const std::optional<Id> id = Add(operation, folder);
  if (id && Finish(*id, code, message)) Changed();
}

std::string JobBoard::Document() {
  json jobs = json::array();
  for (const Job& job : jobs_) {
    const bool running = job.ended.empty();
    jobs.push_back({{"id", job.id},
                    {"operation", job.operation},
                    {"folder", job.folder},
                    {"state", running ? "running" : job.code == 0 ? "succeeded" : "failed"},
                    {"stage", job.stage},
                    {"filesDone", job.filesDone},
                    {"filesTotal", job.filesTotal},
                    {"bytesDone", job.bytesDone},
                    {"bytesTotal", job.bytesTotal},
                    {"started", job.started},
                    {"ended", running ? json(nullptr) : json(job.ended)},
                    {"code", running ? json(nullptr) : json(job.code)},
                    {"message", job.message}});
  }
  const json board = {{"format", 1}, {"daemon", ProcessId()}, {"nextId", nextId_}, {"updated", Now()}, {"jobs", std::move(jobs)}};
  // Paths that are not UTF-8 come out with U+FFFD rather than failing.
  return board.dump(1, ' ', false, json::error_handler_t::replace) + "\n";
}

void JobBoard::Write(const std::string& text) {
  // On failure the board stays as it was; the log has the work. It is
  // rebuilt from the work, so it is not flushed to the disk: a flush every
  // publication would hold up the disk, and the daemon's log, under a flood.
  ReplaceFileAtomically(file_, text, Durability::WholeOnly);
}

JobEnd::~JobEnd() { board_.End(id_, static_cast<std::int32_t>(Result::InternalError), TextOf(Result::InternalError).text); }

}  // namespace korvane::server
