// The reference daemon under load: 32 client threads make 5000 exported
// calls of mixed kinds through the library, and every answer is checked.
// Beside it, in the same run and with the same 32 threads: the floor, a bare
// echo over the same socket type (connect, send a request frame, receive
// it back, close, as the library does for each call) against a server of
// one event loop; a load of only the two queries answered from memory,
// GetActivations and GetErrorText, run in pairs with the floor; and the
// same queries through the library against a server of one event loop that
// gives the daemon's stored replies (the answering floor: the daemon's side
// at no cost but the transport's). Reported: calls per second of each,
// their ratios to the floors (the queries' the median of the pairs'
// ratios), wrong answers, and the daemon's resident memory
// before the runs and after each, which shows whether the daemon keeps
// memory it no longer needs.
//
// The daemon is the reference program, ../reference/KorvaneBkgProc beside
// this program's folder, with private runtime, state, data and temporary
// folders. It is stopped at the end, and killed if it does not go.
#include "korvane/korvane.h"
#include "platform/posix/pipe_path.h"
#include "protocol/commands.h"
#include "protocol/frame.h"

#include "support/runtime_folder.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <latch>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int kThreads = 32;
constexpr int kCallsPerRun = 5000;
constexpr char kErrorKey[] = "DONE";
// Runs of the queries, each beside a run of the floor.
constexpr int kQueryPairs = 5;

// Sets an environment variable for the object's lifetime.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const std::string& value) : name_(name) {
    if (const char* previous = std::getenv(name)) previous_ = previous;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedVariable() {
    if (previous_) {
      setenv(name_, previous_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  const char* name_;
  std::optional<std::string> previous_;
};

std::string DaemonProgram() {
  return (fs::read_symlink("/proc/self/exe").parent_path() / ".." / "reference" / "KorvaneBkgProc").string();
}

// Where the library looks for the daemon's socket.
std::optional<std::string> DaemonSocketPath() {
  return korvane::posix::PipeSocketPath(R"(\\.\pipe\DalvDaemonCommand)");
}

bool Served() {
  const std::optional<std::string> path = DaemonSocketPath();
  if (!path || path->size() >= sizeof(sockaddr_un::sun_path)) return false;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path->c_str(), path->size() + 1);
  const int probe = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (probe < 0) return false;
  const bool served = connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  close(probe);
  return served;
}

// The daemon process this benchmark started; killed and reaped at the end
// if it is still there.
class Daemon {
 public:
  Daemon() {
    const std::string program = DaemonProgram();
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
    const int error = posix_spawn(&pid_, program.c_str(), nullptr, nullptr, argv, environ);
    if (error != 0) {
      pid_ = -1;
      error_ = "cannot start " + program + ": " + std::strerror(error);
    }
  }
  ~Daemon() {
    if (Running()) {
      ::kill(pid_, SIGKILL);
      WaitForExit(10s);
    }
  }
  Daemon(const Daemon&) = delete;
  Daemon& operator=(const Daemon&) = delete;

  const std::string& Error() const { return error_; }
  pid_t Pid() const { return pid_; }

  bool Running() {
    if (pid_ < 0 || exited_) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) != pid_) return true;
    exited_ = true;
    return false;
  }
  bool WaitForExit(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (Running() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(5ms);
    return !Running();
  }
  bool WaitUntilServed(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!Served()) {
      if (!Running() || std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(5ms);
    }
    return true;
  }

  // VmRSS in bytes; 0 when it cannot be read.
  double ResidentBytes() const {
    std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.starts_with("VmRSS:")) return std::strtod(line.c_str() + 6, nullptr) * 1024.0;
    }
    return 0;
  }

 private:
  pid_t pid_ = -1;
  bool exited_ = false;
  std::string error_;
};

std::u16string Wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

std::string Take(char* text) {
  std::string taken = text != nullptr ? text : "";
  std::free(text);
  return taken;
}

// Wrong answers of one run, with the first one described.
class Verdicts {
 public:
  void Wrong(const std::string& what) {
    if (count_.fetch_add(1) == 0) {
      std::lock_guard lock(mutex_);
      first_ = what;
    }
  }
  long Count() const { return count_.load(); }
  std::string First() {
    std::lock_guard lock(mutex_);
    return first_;
  }

 private:
  std::atomic<long> count_{0};
  std::mutex mutex_;
  std::string first_;
};

// Whether every line of an activation list reads MODE|PATH with a mode of
// 1 to 3 and an absolute path, and whether the list holds the line wanted
// (when wanted is not empty) or no line for folder (when it is).
bool ListIsRight(const std::string& list, const std::string& folder, const std::string& wanted) {
  if (!list.empty() && list.back() != '\n') return false;
  bool found = false;
  std::size_t start = 0;
  while (start < list.size()) {
    const std::size_t end = list.find('\n', start);
    const std::string line = list.substr(start, end - start);
    start = end + 1;
    if (line.size() < 3 || line[0] < '1' || line[0] > '3' || line[1] != '|' || line[2] != '/') return false;
    if (line.substr(2) == folder) {
      if (line != wanted) return false;
      found = true;
    }
  }
  return found == !wanted.empty();
}

// One client's share of a run, on a folder of its own. Its folder's mode is
// known to it at every step: a one-way change written before a request is
// applied before that request is answered.
void Client(const std::string& folder, int calls, const std::string& errorText, Verdicts& verdicts) {
  const std::u16string path = Wide(folder);
  int mode = 0;
  for (int call = 0; call < calls; ++call) {
    char* text = nullptr;
    switch (call % 8) {
      case 0:
      case 4: {
        const int wanted = call % 3 + 1;
        if (Korvane_ActivatePath(path.c_str(), wanted) != 1) {
          verdicts.Wrong("ActivatePath " + folder + " returned 0");
        } else {
          mode = wanted;
        }
        break;
      }
      case 6:
        if (Korvane_DeactivatePath(path.c_str()) != 1) {
          verdicts.Wrong("DeactivatePath " + folder + " returned 0");
        } else {
          mode = 0;
        }
        break;
      case 1:
      case 7: {
        if (Korvane_GetStatus(path.c_str(), &text) != 1) {
          verdicts.Wrong("GetStatus " + folder + " returned 0");
          break;
        }
        const std::string status = Take(text);
        const std::string expected =
            std::to_string(mode) + "||" + (mode != 0 ? folder : std::string()) + "|" + folder + "|";
        if (status != expected) verdicts.Wrong("GetStatus " + folder + " gave '" + status + "', not '" + expected + "'");
        break;
      }
      case 2:
      case 5: {
        if (Korvane_GetActivations(&text) != 1) {
          verdicts.Wrong("GetActivations returned 0");
          break;
        }
        const std::string list = Take(text);
        const std::string wanted = mode != 0 ? std::to_string(mode) + "|" + folder : std::string();
        if (!ListIsRight(list, folder, wanted)) {
          verdicts.Wrong("GetActivations for " + folder + " in mode " + std::to_string(mode) + " gave '" + list + "'");
        }
        break;
      }
      case 3: {
        if (Korvane_GetErrorText(kErrorKey, &text) != 1) {
          verdicts.Wrong("GetErrorText returned 0");
          break;
        }
        const std::string got = Take(text);
        if (got != errorText) verdicts.Wrong("GetErrorText gave '" + got + "', not '" + errorText + "'");
        break;
      }
    }
  }
  // Every run starts with no folder activated. For a client whose last call
  // activated its folder, this deactivation follows that activation at once,
  // on another connection: the daemon must apply the two in the order sent.
  if (mode != 0 && Korvane_DeactivatePath(path.c_str()) != 1) verdicts.Wrong("DeactivatePath " + folder + " returned 0");
}

// A client that only asks what the daemon answers from memory: the
// activation list (empty: no client holds a folder during this run) and an
// error text.
void QueryClient(int calls, const std::string& errorText, Verdicts& verdicts) {
  for (int call = 0; call < calls; ++call) {
    char* text = nullptr;
    if (call % 2 == 0) {
      if (Korvane_GetActivations(&text) != 1) {
        verdicts.Wrong("GetActivations returned 0");
      } else if (const std::string list = Take(text); !list.empty()) {
        verdicts.Wrong("GetActivations gave '" + list + "' with no folder activated");
      }
    } else if (Korvane_GetErrorText(kErrorKey, &text) != 1) {
      verdicts.Wrong("GetErrorText returned 0");
    } else if (const std::string got = Take(text); got != errorText) {
      verdicts.Wrong("GetErrorText gave '" + got + "', not '" + errorText + "'");
    }
  }
}

sockaddr_un AddressOf(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), std::min(path.size() + 1, sizeof address.sun_path));
  return address;
}

// The floors' server: one event loop, as the daemon has. It sends every
// packet back on its connection (the echo), or, given answers, the answer
// stored for the request's code: the daemon's own reply, without the work
// of making it. A connection is closed at its end.
class FloorServer {
 public:
  using Answers = std::map<std::uint32_t, std::string>;

  explicit FloorServer(const std::string& path, Answers answers = {})
      : address_(AddressOf(path)), answers_(std::move(answers)) {
    listener_ = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    epoll_ = epoll_create1(EPOLL_CLOEXEC);
    wake_[0] = wake_[1] = -1;
    if (listener_ < 0 || epoll_ < 0 || pipe2(wake_, O_CLOEXEC) != 0 ||
        bind(listener_, reinterpret_cast<const sockaddr*>(&address_), sizeof address_) != 0 ||
        listen(listener_, SOMAXCONN) != 0) {
      error_ = std::string("cannot serve the floor: ") + std::strerror(errno);
      return;
    }
    for (int fd : {listener_, wake_[0]}) {
      epoll_event event{EPOLLIN, {.fd = fd}};
      epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event);
    }
    thread_ = std::thread([this] { Serve(); });
  }
  ~FloorServer() {
    if (thread_.joinable()) {
      [[maybe_unused]] const ssize_t written = write(wake_[1], "x", 1);
      thread_.join();
    }
    for (int fd : {listener_, epoll_, wake_[0], wake_[1]}) {
      if (fd >= 0) close(fd);
    }
    unlink(address_.sun_path);
  }
  FloorServer(const FloorServer&) = delete;
  FloorServer& operator=(const FloorServer&) = delete;

  const std::string& Error() const { return error_; }
  const sockaddr_un& Address() const { return address_; }

 private:
  void Serve() {
    std::vector<epoll_event> events(256);
    std::vector<char> buffer(korvane::protocol::kFrameHeaderSize + 65536);
    for (;;) {
      const int count = epoll_wait(epoll_, events.data(), static_cast<int>(events.size()), -1);
      for (int i = 0; i < count; ++i) {
        const int fd = events[static_cast<std::size_t>(i)].data.fd;
        if (fd == wake_[0]) return;
        if (fd == listener_) {
          for (int client; (client = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC)) >= 0;) {
            epoll_event event{EPOLLIN, {.fd = client}};
            epoll_ctl(epoll_, EPOLL_CTL_ADD, client, &event);
          }
          continue;
        }
        const ssize_t got = recv(fd, buffer.data(), buffer.size(), 0);
        if (got > 0) {
          const std::string_view packet(buffer.data(), static_cast<std::size_t>(got));
          const std::string_view reply = AnswerTo(packet);
          send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
        } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
          close(fd);  // leaves the epoll set with it
        }
      }
    }
  }

  std::string_view AnswerTo(std::string_view packet) const {
    if (answers_.empty()) return packet;
    const std::optional<std::uint32_t> code = korvane::protocol::FrameCode(packet);
    const auto found = code ? answers_.find(*code) : answers_.end();
    return found != answers_.end() ? std::string_view(found->second) : packet;
  }

  sockaddr_un address_;
  const Answers answers_;
  int listener_ = -1;
  int epoll_ = -1;
  int wake_[2];
  std::string error_;
  std::thread thread_;
};

// One exchange on a bare socket, as the library makes it without its
// checks: connect, send the frame, receive one packet, close. Nothing when
// any step fails.
std::optional<std::string> Exchange(const sockaddr_un& address, const std::string& frame) {
  char reply[256];
  const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  ssize_t got = -1;
  if (fd >= 0 && connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
      send(fd, frame.data(), frame.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(frame.size())) {
    got = recv(fd, reply, sizeof reply, 0);
  }
  if (fd >= 0) close(fd);
  if (got < 0) return std::nullopt;
  return std::string(reply, static_cast<std::size_t>(got));
}

// One call of the echo floor: what the library does for a request, on a
// bare socket, with the answer checked.
void EchoClient(const sockaddr_un& address, int calls, Verdicts& verdicts) {
  const std::string frame = *korvane::protocol::BuildRequestFrame(korvane::protocol::Command::GetErrorText, kErrorKey);
  for (int call = 0; call < calls; ++call) {
    if (Exchange(address, frame) != frame) verdicts.Wrong("the echo did not give the frame back");
  }
}

// Puts another server's socket file where the library looks for the
// daemon, for the object's lifetime; the daemon's own waits aside. A
// socket is reached by its file, so each new call reaches the server whose
// file lies at the path then.
class ServedInstead {
 public:
  ServedInstead(const std::string& daemonPath, const std::string& otherPath)
      : daemonPath_(daemonPath), otherPath_(otherPath), aside_(daemonPath + ".aside") {
    moved_ = rename(daemonPath_.c_str(), aside_.c_str()) == 0 && rename(otherPath_.c_str(), daemonPath_.c_str()) == 0;
  }
  ~ServedInstead() {
    rename(daemonPath_.c_str(), otherPath_.c_str());
    rename(aside_.c_str(), daemonPath_.c_str());
  }
  ServedInstead(const ServedInstead&) = delete;
  ServedInstead& operator=(const ServedInstead&) = delete;

  bool Moved() const { return moved_; }

 private:
  std::string daemonPath_, otherPath_, aside_;
  bool moved_ = false;
};

struct RunResult {
  double seconds;
  long wrong;
  std::string firstWrong;

  double CallsPerSecond() const { return kCallsPerRun / seconds; }
};

// kCallsPerRun calls shared by kThreads threads that start together; each
// thread runs client(index, calls, verdicts).
template <typename Client>
RunResult RunThreads(const Client& client) {
  Verdicts verdicts;
  std::latch ready(kThreads + 1);
  std::vector<std::thread> clients;
  for (int index = 0; index < kThreads; ++index) {
    const int calls = kCallsPerRun / kThreads + (index < kCallsPerRun % kThreads ? 1 : 0);
    clients.emplace_back([&, index, calls] {
      ready.arrive_and_wait();
      client(index, calls, verdicts);
    });
  }
  ready.arrive_and_wait();
  const auto start = std::chrono::steady_clock::now();
  for (std::thread& thread : clients) thread.join();
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  return {elapsed.count(), verdicts.Count(), verdicts.First()};
}

// The list must be empty after a run: each client left its folder
// deactivated.
void CheckNothingLeft(RunResult& result) {
  char* list = nullptr;
  std::string wrong;
  if (Korvane_GetActivations(&list) != 1) {
    wrong = "GetActivations after the run returned 0";
  } else if (const std::string left = Take(list); !left.empty()) {
    wrong = "activations left after the run: '" + left + "'";
  }
  if (!wrong.empty() && result.wrong++ == 0) result.firstWrong = wrong;
}

RunResult Run(const std::vector<std::string>& folders, const std::string& errorText) {
  RunResult result = RunThreads([&](int index, int calls, Verdicts& verdicts) {
    Client(folders[static_cast<std::size_t>(index)], calls, errorText, verdicts);
  });
  CheckNothingLeft(result);
  return result;
}

RunResult RunQueries(const std::string& errorText) {
  RunResult result = RunThreads([&](int, int calls, Verdicts& verdicts) { QueryClient(calls, errorText, verdicts); });
  CheckNothingLeft(result);
  return result;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

RunResult RunFloor(const sockaddr_un& address) {
  return RunThreads([&](int, int calls, Verdicts& verdicts) { EchoClient(address, calls, verdicts); });
}

// The daemon's own replies to the two queries, asked on a bare socket, for
// the answering floor to give.
std::optional<FloorServer::Answers> DaemonAnswers(const std::string& daemonPath) {
  using korvane::protocol::Command;
  FloorServer::Answers answers;
  for (const auto& [command, payload] : {std::pair{Command::GetActivations, std::optional<std::string_view>()},
                                         {Command::GetErrorText, std::optional<std::string_view>(kErrorKey)}}) {
    const std::optional<std::string> reply =
        Exchange(AddressOf(daemonPath), *korvane::protocol::BuildRequestFrame(command, payload));
    if (!reply) return std::nullopt;
    answers[korvane::protocol::CodeOf(command)] = *reply;
  }
  return answers;
}

// The queries through the library against the answering floor, put where
// the daemon's socket lies for the run.
RunResult RunAnsweredQueries(const std::string& daemonPath, const FloorServer& answering,
                             const std::string& errorText) {
  const ServedInstead instead(daemonPath, answering.Address().sun_path);
  if (!instead.Moved()) return {1, 1, "the answering floor could not take the daemon's place"};
  return RunThreads([&](int, int calls, Verdicts& verdicts) { QueryClient(calls, errorText, verdicts); });
}

void BM_LoadReferenceDaemon(benchmark::State& state) {
  korvane::testing::ScopedRuntimeFolder runtime;
  const std::string top = runtime.Path();
  for (const char* folder : {"state", "data", "config", "tmp", "work"}) fs::create_directories(top + "/" + folder);
  ScopedVariable stateHome("XDG_STATE_HOME", top + "/state");
  ScopedVariable dataHome("XDG_DATA_HOME", top + "/data");
  ScopedVariable configHome("XDG_CONFIG_HOME", top + "/config");
  ScopedVariable temporary("TMPDIR", top + "/tmp");
  std::vector<std::string> folders;
  for (int index = 0; index < kThreads; ++index) {
    folders.push_back(top + "/work/client" + std::to_string(index));
    fs::create_directories(folders.back());
  }

  Daemon daemon;
  if (!daemon.Error().empty()) {
    state.SkipWithError(daemon.Error().c_str());
    return;
  }
  if (!daemon.WaitUntilServed(20s)) {
    state.SkipWithError("the reference daemon did not serve its pipe");
    return;
  }
  std::string errorText;
  {
    char* text = nullptr;
    if (Korvane_GetErrorText(kErrorKey, &text) != 1 || (errorText = Take(text)).empty()) {
      state.SkipWithError("the daemon gives no text for DONE");
      return;
    }
  }

  FloorServer echo(top + "/echo");
  const std::string daemonPath = DaemonSocketPath().value_or("");
  const std::optional<FloorServer::Answers> answers = DaemonAnswers(daemonPath);
  if (!answers) {
    state.SkipWithError("the daemon did not answer a bare request");
    return;
  }
  FloorServer answering(top + "/answering", *answers);
  for (const FloorServer* floor : {&echo, &answering}) {
    if (!floor->Error().empty()) {
      state.SkipWithError(floor->Error().c_str());
      return;
    }
  }

  const double rssBefore = daemon.ResidentBytes();
  std::vector<double> rssAfter;
  std::vector<RunResult> floors;
  std::vector<RunResult> mixed;
  std::vector<RunResult> queries;
  std::vector<RunResult> answered;
  std::vector<double> queryRatios;
  std::vector<double> answeredRatios;
  for (auto _ : state) {
    for (int run = 0; run < 3; ++run) {
      mixed.push_back(Run(folders, errorText));
      rssAfter.push_back(daemon.ResidentBytes());
    }
    // The queries beside the floors, run back to back and in turn first: on
    // a shared machine the rates drift between runs, and the ratio of runs
    // made together is what drifts least.
    for (int pair = 0; pair < kQueryPairs; ++pair) {
      const bool floorsFirst = pair % 2 == 0;
      if (floorsFirst) {
        floors.push_back(RunFloor(echo.Address()));
        answered.push_back(RunAnsweredQueries(daemonPath, answering, errorText));
      }
      queries.push_back(RunQueries(errorText));
      if (!floorsFirst) {
        answered.push_back(RunAnsweredQueries(daemonPath, answering, errorText));
        floors.push_back(RunFloor(echo.Address()));
      }
      queryRatios.push_back(queries.back().CallsPerSecond() / floors.back().CallsPerSecond());
      answeredRatios.push_back(queries.back().CallsPerSecond() / answered.back().CallsPerSecond());
    }
    rssAfter.push_back(daemon.ResidentBytes());
  }

  long wrong = 0;
  std::string firstWrong;
  for (const std::vector<RunResult>* runs : {&floors, &answered, &queries, &mixed}) {
    for (const RunResult& run : *runs) {
      if (wrong == 0 && run.wrong != 0) firstWrong = run.firstWrong;
      wrong += run.wrong;
    }
  }
  double mixedBest = 0;
  for (const RunResult& run : mixed) mixedBest = std::max(mixedBest, run.CallsPerSecond());
  const auto rates = [](const std::vector<RunResult>& runs) {
    std::vector<double> each;
    for (const RunResult& run : runs) each.push_back(run.CallsPerSecond());
    return each;
  };
  const double floorRate = Median(rates(floors));
  const double queryRate = Median(rates(queries));
  const double queryRatio = Median(queryRatios);
  const double answeredRate = Median(rates(answered));
  const double answeredRatio = Median(answeredRatios);
  using benchmark::Counter;
  state.counters["floor_calls_per_s"] = Counter(floorRate);
  for (std::size_t run = 0; run < mixed.size(); ++run) {
    state.counters["mixed_calls_per_s_run" + std::to_string(run + 1)] = Counter(mixed[run].CallsPerSecond());
  }
  state.counters["queries_calls_per_s"] = Counter(queryRate);
  state.counters["mixed_to_floor"] = Counter(mixedBest / floorRate);
  state.counters["queries_to_floor"] = Counter(queryRatio);
  state.counters["answering_floor_calls_per_s"] = Counter(answeredRate);
  state.counters["queries_to_answering_floor"] = Counter(answeredRatio);
  state.counters["wrong_answers"] = Counter(static_cast<double>(wrong));
  state.counters["rss_before"] = Counter(rssBefore, Counter::kDefaults, Counter::kIs1024);
  for (std::size_t run = 0; run < rssAfter.size(); ++run) {
    state.counters["rss_after_run" + std::to_string(run + 1)] = Counter(rssAfter[run], Counter::kDefaults, Counter::kIs1024);
  }

  // A run marked as an error shows no counters, so the figures also go to
  // standard error.
  std::string rss;
  for (double bytes : rssAfter) rss += " " + std::to_string(static_cast<long>(bytes / 1024));
  const auto listed = [](const std::vector<double>& ratios) {
    std::string list;
    for (double ratio : ratios) list += " " + std::to_string(ratio).substr(0, 4);
    return list;
  };
  std::fprintf(stderr,
               "load: floor (bare echo) %.0f calls/s (median of %d); mixed %.0f, %.0f, %.0f calls/s (best %.2f of the "
               "floor); GetActivations and GetErrorText only %.0f calls/s, %.2f of the floor (median of the pairs:%s); "
               "the same calls through the library against a server that only answers %.0f calls/s, the daemon at "
               "%.2f of it (median of the pairs:%s); %ld wrong answer(s); daemon VmRSS %.0f KiB before, after each "
               "run (KiB):%s\n",
               floorRate, kQueryPairs, mixed[0].CallsPerSecond(), mixed[1].CallsPerSecond(),
               mixed[2].CallsPerSecond(), mixedBest / floorRate, queryRate, queryRatio, listed(queryRatios).c_str(),
               answeredRate, answeredRatio, listed(answeredRatios).c_str(), wrong, rssBefore / 1024, rss.c_str());

  // The daemon goes at the end, whatever the runs gave.
  const bool stopDelivered = Korvane_StopDaemon() == 1;
  const bool gone = daemon.WaitForExit(10s);
  if (wrong != 0) {
    const std::string message = std::to_string(wrong) + " wrong answer(s); the first: " + firstWrong;
    state.SkipWithError(message.c_str());
  } else if (!stopDelivered) {
    state.SkipWithError("the stop request did not reach the daemon");
  } else if (!gone) {
    state.SkipWithError("the daemon still ran 10 s after the stop request");
  } else if (Served()) {
    state.SkipWithError("something still serves the pipe after the daemon stopped");
  }
  // Nothing outlives the private folders, not even a daemon the library
  // started on its own.
  if (Served()) Korvane_StopDaemon();
}
// One iteration is three mixed runs and five runs of the queries, each
// beside a run of either floor, 5000 calls each; the rates and ratios are
// the counters'.
BENCHMARK(BM_LoadReferenceDaemon)->Name("Load/ReferenceDaemon")->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace
