// Three machines on one stock svnserve, with the daemon's own intervals,
// holding a space of 2,000 files and a small one, both in mode 3: a change
// reaches every other machine within 5 s, and a quiet machine asks the
// server for news at most once a second for all its spaces together, as
// svnserve's log of requests shows.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <csignal>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kArrival = 5s;
constexpr int kMachines = 3;
constexpr int kFiles = 2000;
// How long the machines are left quiet while their requests are counted.
constexpr auto kQuietWindow = 5s;

std::string BuildFolder() { return fs::read_symlink("/proc/self/exe").parent_path().parent_path().string(); }

std::string Slurp(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void Write(const std::string& file, const std::string& text) {
  fs::create_directories(fs::path(file).parent_path());
  std::ofstream(file, std::ios::binary) << text;
}

struct Outcome {
  int status;
  std::string output;
};

Outcome Shell(const std::string& command) {
  Outcome run{-1, {}};
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  for (std::size_t got; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.output.append(buffer, got);
  const int waited = pclose(pipe);
  run.status = WIFEXITED(waited) ? WEXITSTATUS(waited) : -1;
  return run;
}

std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

int FreePort() {
  const int probe = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t size = sizeof address;
  getsockname(probe, reinterpret_cast<sockaddr*>(&address), &size);
  close(probe);
  return ntohs(address.sin_port);
}

bool Eventually(const std::function<bool()>& check, Clock::duration limit) {
  const auto deadline = Clock::now() + limit;
  while (!check()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

std::string UserOf(int machine) { return "m" + std::to_string(machine); }

// A machine: a reference daemon with its own folders, user and credentials,
// and the daemon's default intervals.
class Machine {
 public:
  Machine(const std::string& top, const std::string& user, const std::string& url, const std::string& realm)
      : home_(top + "/" + user) {
    for (const char* folder : {"run", "state", "data", "config/korvane", "svn/auth/svn.simple", "tmp", "files"}) {
      fs::create_directories(home_ + "/" + folder);
    }
    fs::permissions(home_ + "/run", fs::perms::owner_all);
    Write(home_ + "/svn/config", "[auth]\npassword-stores =\n[miscellany]\nenable-auto-props = no\n");
    std::string entry;
    for (const auto& [key, value] : std::array<std::pair<std::string, std::string>, 4>{
             {{"passtype", "simple"}, {"password", user + "-secret"}, {"svn:realmstring", realm}, {"username", user}}}) {
      entry += "K " + std::to_string(key.size()) + "\n" + key + "\nV " + std::to_string(value.size()) + "\n" + value +
               "\n";
    }
    const std::string hash = Shell("printf %s " + Quoted(realm) + " | md5sum").output.substr(0, 32);
    Write(home_ + "/svn/auth/svn.simple/" + hash, entry + "END\n");
    Write(home_ + "/config/korvane/daemon.conf",
          "service = " + url + "\nsubversion-config = " + home_ + "/svn\nuser = " + user + "\n");
    environment_ = {"HOME=" + home_, "XDG_RUNTIME_DIR=" + home_ + "/run", "XDG_STATE_HOME=" + home_ + "/state",
                    "XDG_DATA_HOME=" + home_ + "/data", "XDG_CONFIG_HOME=" + home_ + "/config",
                    "TMPDIR=" + home_ + "/tmp", "DBUS_SESSION_BUS_ADDRESS="};
    std::vector<std::string> entries;
    for (char** each = environ; *each != nullptr; ++each) entries.emplace_back(*each);
    entries.insert(entries.end(), environment_.begin(), environment_.end());
    std::vector<char*> envp;
    for (std::string& each : entries) envp.push_back(each.data());
    envp.push_back(nullptr);
    const std::string program = BuildFolder() + "/reference/KorvaneBkgProc";
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
    started_ = posix_spawn(&pid_, program.c_str(), nullptr, nullptr, argv, envp.data()) == 0 &&
               Eventually([&] { return fs::exists(home_ + "/run/DalvDaemonCommand"); }, 10s);
  }
  ~Machine() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  bool Started() const { return started_; }
  Outcome Tool(const std::string& arguments) const {
    std::string command;
    for (const std::string& entry : environment_) command += Quoted(entry) + " ";
    return Shell("env " + command + BuildFolder() + "/bin/korvane " + arguments);
  }
  std::string Files(const std::string& name) const { return home_ + "/files/" + name; }
  std::string Log() const { return Slurp(home_ + "/state/korvane/daemon.log"); }

 private:
  std::string home_;
  std::vector<std::string> environment_;
  pid_t pid_ = -1;
  bool started_ = false;
};

class TeamAtScale : public ::testing::Test {
 protected:
  TeamAtScale() : port_(FreePort()) {
    std::string name = "/tmp/korvane-team-scale-XXXXXX";
    top_ = mkdtemp(name.data());
  }
  ~TeamAtScale() override {
    machines_.clear();
    Shell(std::string(KORVANE_SOURCE_DIR) + "/scripts/team-server.sh stop " + Quoted(top_ + "/server"));
    fs::remove_all(top_);
  }

  void SetUp() override {
    std::string users;
    for (int machine = 0; machine < kMachines; ++machine) users += " " + UserOf(machine) + ":" + UserOf(machine) + "-secret";
    const Outcome started = Shell(std::string(KORVANE_SOURCE_DIR) + "/scripts/team-server.sh start " +
                                  Quoted(top_ + "/server") + " " + std::to_string(port_) + users);
    ASSERT_EQ(started.status, 0) << started.output;
    std::string url = started.output.substr(started.output.rfind('\n', started.output.size() - 2) + 1);
    url.pop_back();
    const std::string realm = "<svn://127.0.0.1:" + std::to_string(port_) + "> korvane-team";
    for (int machine = 0; machine < kMachines; ++machine) {
      machines_.push_back(std::make_unique<Machine>(top_, UserOf(machine), url, realm));
      ASSERT_TRUE(machines_.back()->Started());
    }
  }

  // The first machine shares files/SPACE, filled by fill, with every other
  // machine; each holds it in mode 3.
  void ShareWithAll(const std::string& space, const std::function<void(const std::string&)>& fill) {
    const Machine& first = *machines_.front();
    fill(first.Files(space));
    Outcome run = first.Tool("share " + Quoted(first.Files(space)) + " --wait");
    ASSERT_EQ(run.status, 0) << run.output << first.Log();
    for (int machine = 1; machine < kMachines; ++machine) {
      const Machine& other = *machines_[machine];
      run = first.Tool("invite " + space + " " + UserOf(machine));
      ASSERT_EQ(run.status, 0) << run.output;
      fs::create_directories(other.Files(space));
      run = other.Tool("menu " + Quoted(other.Files(space)) + " --invoke verb:ascheckout --wait");
      ASSERT_EQ(run.status, 0) << run.output << other.Log();
    }
    for (const auto& machine : machines_) {
      run = machine->Tool("activate-path " + Quoted(machine->Files(space)) + " 3 --wait");
      ASSERT_EQ(run.status, 0) << run.output;
    }
  }

  // The requests for the youngest revision in svnserve's log, by user.
  std::map<std::string, int> PollsByUser() const {
    std::map<std::string, int> polls;
    std::istringstream log(Slurp(top_ + "/server/svnserve.log"));
    for (std::string line; std::getline(log, line);) {
      std::istringstream fields(line);
      std::string process, stamp, address, user, repository, request;
      if (fields >> process >> stamp >> address >> user >> repository >> request && request == "get-latest-rev") {
        ++polls[user];
      }
    }
    return polls;
  }

  std::string top_;
  int port_;
  std::vector<std::unique_ptr<Machine>> machines_;
};

TEST_F(TeamAtScale, ChangesReachEveryMachineAndQuietMachinesPollOncePerServer) {
  ASSERT_NO_FATAL_FAILURE(ShareWithAll("plans", [](const std::string& folder) {
    for (int file = 0; file < kFiles; ++file) {
      Write(folder + "/d" + std::to_string(file % 20) + "/sub" + std::to_string(file % 7) + "/file" +
                std::to_string(file) + ".txt",
            "file " + std::to_string(file) + "\n");
    }
  }));
  ASSERT_NO_FATAL_FAILURE(ShareWithAll("notes", [](const std::string& folder) { Write(folder + "/a.txt", "a\n"); }));

  // A new file, a changed file deep in the tree, a new file in the other
  // space: each on every machine within the limit.
  struct Change {
    const char* what;
    std::string path;  // under files/ of each machine
    std::string text;
  };
  const Change changes[] = {
      {"a new file", "plans/new.txt", "written by m0\n"},
      {"a changed file deep in the tree", "plans/d7/sub0/file7.txt", "changed by m0\n"},
      {"a new file in the second space", "notes/b.txt", "b\n"},
  };
  for (const Change& change : changes) {
    Write(machines_.front()->Files(change.path), change.text);
    const auto began = Clock::now();
    const bool everywhere = Eventually(
        [&] {
          for (int machine = 1; machine < kMachines; ++machine) {
            if (Slurp(machines_[machine]->Files(change.path)) != change.text) return false;
          }
          return true;
        },
        kArrival);
    EXPECT_TRUE(everywhere) << change.what << " did not reach every machine within 5 s\n" << machines_[1]->Log();
    RecordProperty(change.what, std::to_string(std::chrono::duration<double>(Clock::now() - began).count()));
  }

  // The quiet window: nothing changes anywhere, and each machine, holding
  // two spaces on this server, asks it at most once a second.
  std::this_thread::sleep_for(1s);
  const std::map<std::string, int> before = PollsByUser();
  const auto began = Clock::now();
  std::this_thread::sleep_for(kQuietWindow);
  const std::map<std::string, int> after = PollsByUser();
  const double seconds = std::chrono::duration<double>(Clock::now() - began).count();
  for (int machine = 0; machine < kMachines; ++machine) {
    const std::string user = UserOf(machine);
    const int polls = (after.contains(user) ? after.at(user) : 0) - (before.contains(user) ? before.at(user) : 0);
    // One more than the window's whole seconds: a poll may fall at each end.
    EXPECT_LE(polls, static_cast<int>(seconds) + 1)
        << user << " asked the server " << polls << " times in " << seconds << " s with two spaces";
    RecordProperty(user + " polls per second", std::to_string(polls / seconds));
  }
}

}  // namespace
