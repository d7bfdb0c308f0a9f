#include "jobs.h"

#include "daemon_place.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <utility>
#include <vector>
#include <fstream>
#include <thread>

#include <unistd.h>

namespace korvane::cli {

namespace {

using namespace std::chrono_literals;

constexpr auto kPoll = 100ms;
// How often the waiting checks that the daemon is still there.
constexpr auto kAliveCheck = 1s;
// How long a new piece of work may take to reach the board's file: the daemon
// publishes its board at most every 100 ms.
constexpr auto kBoardDelay = 2s;
// Plain progress lines, when standard error is no terminal.
constexpr auto kLineEvery = 2s;
constexpr int kBarWidth = 30;

std::uint64_t Number(const Json& job, const char* name) {
  const auto found = job.find(name);
  return found != job.end() && found->is_number_unsigned() ? found->get<std::uint64_t>() : 0;
}

std::string Text(const Json& job, const char* name) {
  const auto found = job.find(name);
  return found != job.end() && found->is_string() ? found->get<std::string>() : std::string();
}

std::string Megabytes(std::uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", static_cast<double>(bytes) / (1024.0 * 1024.0));
  return text;
}

// The stages of work that runs through several, in order: its progress
// is one bar over all of them, each stage an equal part.
struct Stages {
  const char* operation;
  std::vector<const char*> stages;
};
const Stages kStagedWork[] = {
    {"shareFolder", {"importing", "checking out"}},
};

// The stage's place among its work's stages and their number (0 of 1 for
// work of one stage).
std::pair<std::size_t, std::size_t> StagePlace(const Json& job) {
  for (const Stages& work : kStagedWork) {
    if (Text(job, "operation") != work.operation) continue;
    for (std::size_t i = 0; i < work.stages.size(); ++i) {
      if (Text(job, "stage") == work.stages[i]) return {i, work.stages.size()};
    }
  }
  return {0, 1};
}

// "step 1 of 2, importing 120 of 2000 files, 3.0 of 50.0 MB"
std::string Progress(const Json& job) {
  std::string text = Text(job, "stage");
  if (const auto [index, count] = StagePlace(job); count > 1 && !text.empty()) {
    text = "step " + std::to_string(index + 1) + " of " + std::to_string(count) + ", " + text;
  }
  const std::uint64_t files = Number(job, "filesDone"), filesTotal = Number(job, "filesTotal");
  const std::uint64_t bytes = Number(job, "bytesDone"), bytesTotal = Number(job, "bytesTotal");
  if (filesTotal > 0) {
    text += " " + std::to_string(files) + " of " + std::to_string(filesTotal) + " files, " + Megabytes(bytes) +
            " of " + Megabytes(bytesTotal) + " MB";
  } else if (files > 0) {
    text += " " + std::to_string(files) + " files, " + Megabytes(bytes) + " MB";
  }
  return text;
}

// Fraction of the stage done, by bytes when known, else by files; nothing
// when unknown.
std::optional<double> StageFraction(const Json& job) {
  if (Number(job, "bytesTotal") > 0) return static_cast<double>(Number(job, "bytesDone")) / Number(job, "bytesTotal");
  if (Number(job, "filesTotal") > 0) return static_cast<double>(Number(job, "filesDone")) / Number(job, "filesTotal");
  return std::nullopt;
}

// Fraction of the whole work done: the stages before this one, and this one's part.
std::optional<double> Fraction(const Json& job) {
  const auto [index, count] = StagePlace(job);
  const std::optional<double> stage = StageFraction(job);
  if (!stage && index == 0) return std::nullopt;
  return (static_cast<double>(index) + std::min(stage.value_or(0.0), 1.0)) / static_cast<double>(count);
}

// A UTC time of the board ("2025-01-31T12:00:00.123Z") as local time,
// "2025-01-31 13:00:00"; the text itself when it is not one.
std::string LocalTime(const std::string& utc) {
  std::tm parts{};
  if (strptime(utc.c_str(), "%Y-%m-%dT%H:%M:%S", &parts) == nullptr) return utc;
  const std::time_t seconds = timegm(&parts);
  std::tm local{};
  if (localtime_r(&seconds, &local) == nullptr) return utc;
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

// "started 2025-01-31 13:00:00, ended 13:00:04": the end without the day
// when it is the start's.
std::string Times(const Json& job) {
  const std::string started = LocalTime(Text(job, "started"));
  std::string text = "started " + started;
  if (const std::string ended = Text(job, "ended"); !ended.empty()) {
    const std::string local = LocalTime(ended);
    text += ", ended " + (local.compare(0, 11, started, 0, 11) == 0 ? local.substr(11) : local);
  }
  return text;
}

// What the board calls an operation, for a person.
std::string OperationInWords(const std::string& operation) {
  static const std::pair<const char*, const char*> kWords[] = {
      {"activatePath1", "activate (Korvane dialogs)"},
      {"activatePath2", "activate (TortoiseSVN dialogs)"},
      {"activatePath3", "activate (automatic commit and update)"},
      {"deactivatePath", "deactivate"},
      {"shareFolder", "share"},
      {"checkout", "checkout"},
      {"checkoutFromService", "checkout from the service"},
      {"shareWithTeam", "share with the team"},
      {"automaticSync", "automatic sync"},
      {"automaticCommit", "automatic commit"},
      {"automaticUpdate", "automatic update"},
  };
  for (const auto& [name, words] : kWords) {
    if (operation == name) return words;
  }
  return operation;
}

bool Running(const Json& job) { return Text(job, "state") == "running"; }

std::optional<Json> FindJob(const std::optional<Json>& board, std::uint64_t id) {
  if (!board) return std::nullopt;
  for (const Json& job : (*board)["jobs"]) {
    if (Number(job, "id") == id) return job;
  }
  return std::nullopt;
}

// Shows progress as it changes: a bar redrawn in place on a terminal,
// otherwise a line now and then.
class ProgressShow {
 public:
  ProgressShow() : terminal_(isatty(STDERR_FILENO) == 1) {}
  ~ProgressShow() { Close(); }

  // Ends the bar's line, so that what follows starts on a line of its own.
  void Close() {
    if (drawn_) std::fprintf(stderr, "\n");
    drawn_ = false;
  }

  void Update(const Json& job) {
    const std::string text = Progress(job);
    if (text.empty()) return;
    const std::optional<double> fraction = Fraction(job);
    if (terminal_) {
      const int filled = fraction ? static_cast<int>(*fraction * kBarWidth) : 0;
      std::fprintf(stderr, "\r[%s%s] %3d%% %s\033[K", std::string(std::min(filled, kBarWidth), '#').c_str(),
                   std::string(kBarWidth - std::min(filled, kBarWidth), '.').c_str(),
                   fraction ? static_cast<int>(*fraction * 100) : 0, text.c_str());
      drawn_ = true;
    } else if (text != last_ && (Text(job, "stage") != lastStage_ ||
                                 std::chrono::steady_clock::now() - lastLine_ >= kLineEvery)) {
      std::fprintf(stderr, "%s\n", text.c_str());
      lastLine_ = std::chrono::steady_clock::now();
      lastStage_ = Text(job, "stage");
      last_ = text;
    }
    std::fflush(stderr);
  }

 private:
  bool terminal_;
  bool drawn_ = false;
  std::string last_, lastStage_;
  std::chrono::steady_clock::time_point lastLine_{};
};

}  // namespace

std::optional<Json> ReadJobs() {
  std::ifstream file(StateFolder() + "/jobs");
  if (!file) return std::nullopt;
  Json board = Json::parse(file, nullptr, false);
  if (!board.is_object() || !board.contains("jobs") || !board["jobs"].is_array()) return std::nullopt;
  return board;
}

std::uint64_t HighestJobId(const std::optional<Json>& board) {
  std::uint64_t highest = 0;
  if (board) {
    for (const Json& job : (*board)["jobs"]) highest = std::max(highest, Number(job, "id"));
  }
  return highest;
}

int ListJobs(Report& report) {
  const std::optional<Json> board = ReadJobs();
  report.Fields()["jobs"] = board ? (*board)["jobs"] : Json::array();
  if (!board || (*board)["jobs"].empty()) {
    report.Say(board ? "The daemon has no background work to show." : "The daemon has published no background work (" +
                                                                          StateFolder() + "/jobs).");
    return report.Finish();
  }
  for (const Json& job : (*board)["jobs"]) {
    std::string line = std::to_string(Number(job, "id")) + "  " + Text(job, "state") + "  " +
                       OperationInWords(Text(job, "operation")) + " " + Text(job, "folder") + " (" + Times(job) +
                       ")";
    if (Running(job)) {
      if (const std::string progress = Progress(job); !progress.empty()) line += ": " + progress;
    } else if (!Text(job, "message").empty()) {
      line += ": " + Text(job, "message");
    }
    report.Say(line);
  }
  return report.Finish();
}

void WaitForJob(Report& report, const std::string& operation, const std::string& folder,
                std::uint64_t highestBefore) {
  // The command that asked for the work went out before this request, so
  // once the daemon answers, the work is on its board; the board reaches its
  // file within the daemon's publishing interval.
  if (!Serves()) {
    report.Fail(kNoDaemon, NotRunningMessage());
    return;
  }
  std::optional<std::uint64_t> id;
  const auto givingUp = std::chrono::steady_clock::now() + kBoardDelay;
  while (!id && std::chrono::steady_clock::now() < givingUp) {
    if (const std::optional<Json> board = ReadJobs()) {
      for (const Json& job : (*board)["jobs"]) {
        if (Text(job, "operation") != operation || Text(job, "folder") != folder) continue;
        if (Number(job, "id") > highestBefore || Running(job)) id = Number(job, "id");
      }
    }
    if (!id) std::this_thread::sleep_for(kPoll);
  }
  if (!id) {
    report.Fail(kFailed, "The daemon published no record of the work (" + operation + " " + folder + ") in " +
                             StateFolder() + "/jobs; see its log there.");
    return;
  }
  ProgressShow show;
  auto lastAliveCheck = std::chrono::steady_clock::now();
  for (;;) {
    const std::optional<Json> job = FindJob(ReadJobs(), *id);
    if (!job) {
      report.Fail(kNoDaemon, "The daemon left before the work ended: " + operation + " " + folder);
      return;
    }
    if (!Running(*job)) {
      show.Close();
      report.Fields()["job"] = *job;
      if (Text(*job, "state") == "succeeded") {
        report.Say("Done: " + Text(*job, "message"));
      } else {
        report.Fail(kFailed, "The daemon could not do it: " + Text(*job, "message"));
      }
      return;
    }
    show.Update(*job);
    if (std::chrono::steady_clock::now() - lastAliveCheck >= kAliveCheck) {
      if (!Serves()) {
        show.Close();
        report.Fields()["job"] = *job;
        report.Fail(kNoDaemon, "The daemon stopped answering before the work ended. " + NotRunningMessage());
        return;
      }
      lastAliveCheck = std::chrono::steady_clock::now();
    }
    std::this_thread::sleep_for(kPoll);
  }
}

}  // namespace korvane::cli
