// The harness of the team tests: a team on a stock Subversion server (one
// svnserve on the loopback, set up by scripts/team-server.sh) and
// "machines", each a reference daemon with its own folders, user,
// credentials and Subversion configuration, driven through the korvane
// tool as a person's shell would drive it.
#pragma once

#include "reference_daemon.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <thread>

#include <csignal>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace korvane::team {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using reference::ReadAll;

// How long a change may take to reach the other machine.
inline constexpr auto kArrival = 5s;
inline const std::string kSources = KORVANE_SOURCE_DIR;
inline const std::string kBuild = fs::read_symlink("/proc/self/exe").parent_path().parent_path().string();

inline bool Eventually(const std::function<bool()>& check, std::chrono::milliseconds limit = kArrival) {
  return reference::Eventually(check, limit);
}

inline void Write(const std::string& file, const std::string& text) {
  fs::create_directories(fs::path(file).parent_path());
  std::ofstream(file, std::ios::binary) << text;
}

struct Outcome {
  int status;
  std::string output;
};

inline Outcome Shell(const std::string& command) {
  Outcome run{-1, {}};
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  for (std::size_t got; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.output.append(buffer, got);
  const int waited = pclose(pipe);
  run.status = WIFEXITED(waited) ? WEXITSTATUS(waited) : -1;
  return run;
}

// Runs a command that must succeed.
inline void Run(const std::string& command) {
  const Outcome ran = Shell(command);
  ASSERT_EQ(ran.status, 0) << command << "\n" << ran.output;
}

inline std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

inline int FreePort() {
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

inline bool HasApache() {
  return fs::exists("/usr/sbin/apache2") && fs::exists("/usr/lib/apache2/modules/mod_dav_svn.so");
}

// The server of scripts/team-server.sh ("start": svnserve, "apache":
// Apache httpd with mod_dav_svn), stopped with the test.
class TeamServer {
 public:
  TeamServer(const std::string& folder, const std::string& kind) : folder_(folder), kind_(kind), port_(FreePort()) {
    Start();
  }
  ~TeamServer() { Stop(); }
  void Start() {
    const Outcome run = Shell(kSources + "/scripts/team-server.sh " + kind_ + " " + Quoted(folder_) + " " +
                              std::to_string(port_) + " ann:ann-secret bob:bob-secret carl:carl-secret");
    ASSERT_EQ(run.status, 0) << run.output;
    url_ = run.output.substr(run.output.rfind('\n', run.output.size() - 2) + 1);
    url_.pop_back();
  }
  void Stop() { Shell(kSources + "/scripts/team-server.sh stop " + Quoted(folder_)); }
  // The realm that Subversion files the credentials under.
  std::string Realm() const {
    return "<" + url_.substr(0, url_.find(':')) + "://127.0.0.1:" + std::to_string(port_) + "> korvane-team";
  }
  const std::string& Url() const { return url_; }
  const std::string& Folder() const { return folder_; }

 private:
  std::string folder_, kind_;
  int port_;
  std::string url_;
};

// One person's computer: a daemon with its own XDG folders, user name,
// credentials in a Subversion configuration folder of its own, and short
// intervals.
class Machine {
 public:
  Machine(const std::string& top, const std::string& user, const std::string& password, const TeamServer& server)
      : user_(user), home_(top + "/" + user) {
    for (const char* folder : {"run", "state", "data", "config/korvane", "svn/auth/svn.simple", "tmp", "files"}) {
      fs::create_directories(home_ + "/" + folder);
    }
    fs::permissions(home_ + "/run", fs::perms::owner_all);
    Write(home_ + "/svn/config", "[auth]\npassword-stores =\n[miscellany]\nenable-auto-props = no\n");
    // The team's certificate authority, trusted as the README says.
    if (server.Url().rfind("https://", 0) == 0) {
      Write(home_ + "/svn/servers", "[global]\nssl-authority-files = " + server.Folder() + "/ca.pem\n");
    }
    StoreCredential(server, user, password);
    Write(home_ + "/config/korvane/daemon.conf",
          "service = " + server.Url() + "\nsubversion-config = " + home_ + "/svn\nuser = " + user + "\n");
    environment_ = {"HOME=" + home_, "XDG_RUNTIME_DIR=" + home_ + "/run", "XDG_STATE_HOME=" + home_ + "/state",
                    "XDG_DATA_HOME=" + home_ + "/data", "XDG_CONFIG_HOME=" + home_ + "/config",
                    "TMPDIR=" + home_ + "/tmp", "KORVANE_COMMIT_QUIET_MS=150", "KORVANE_POLL_PERIOD_MS=200",
                    "KORVANE_RETRY_FIRST_MS=200", "KORVANE_RETRY_MOST_MS=1000", "KORVANE_UPDATE_PERIOD_SECONDS=30",
                    "KORVANE_COMMIT_QUIET_MOST_MS=1500", "DBUS_SESSION_BUS_ADDRESS=",
                    "LSAN_OPTIONS=suppressions=" + kSources + "/tests/reference/openssl-leaks.supp"};
    Start();
  }
  ~Machine() { Stop(); }

  // Through env(1), which then runs the daemon in its own place: the last
  // entry of a name holds, so what Restart adds overrides the defaults and the
  // test's own environment.
  void Start() {
    std::string program = kBuild + "/reference/KorvaneBkgProc";
    std::vector<char*> argv{const_cast<char*>("env")};
    for (std::string& entry : environment_) argv.push_back(entry.data());
    argv.push_back(program.data());
    argv.push_back(nullptr);
    ASSERT_EQ(posix_spawnp(&pid_, "env", nullptr, nullptr, argv.data(), environ), 0);
    ASSERT_TRUE(Eventually([&] { return fs::exists(home_ + "/run/DalvDaemonCommand"); }, 10s));
  }
  // SIGKILL ends the daemon as a crash or a power cut would, with no chance to tidy up.
  void Stop(int signal = SIGTERM) {
    if (pid_ <= 0) return;
    kill(pid_, signal);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  // Stops the daemon and starts it again with these environment entries too.
  void Restart(const std::vector<std::string>& entries) {
    Stop();
    environment_.insert(environment_.end(), entries.begin(), entries.end());
    ASSERT_NO_FATAL_FAILURE(Start());
  }

  // Subversion's own credential store, as "svn info --username" leaves it.
  void StoreCredential(const TeamServer& server, const std::string& user, const std::string& password) {
    const std::string realm = server.Realm();
    const std::string fields[] = {"passtype", "simple", "password", password,
                                  "svn:realmstring", realm, "username", user};
    std::string entry;
    for (std::size_t at = 0; at < std::size(fields); ++at) {
      entry += (at % 2 == 0 ? "K " : "V ") + std::to_string(fields[at].size()) + "\n" + fields[at] + "\n";
    }
    const std::string hash = Shell("printf %s " + Quoted(realm) + " | md5sum").output.substr(0, 32);
    Write(home_ + "/svn/auth/svn.simple/" + hash, entry + "END\n");
  }

  // The korvane tool in this machine's environment, given input on its
  // standard input.
  Outcome Tool(const std::string& arguments, const std::string& input = "") const {
    std::string command;
    for (const std::string& entry : environment_) command += Quoted(entry) + " ";
    return Shell("printf %s " + Quoted(input) + " | env " + command + kBuild + "/bin/korvane " + arguments);
  }
  // svn in this machine's configuration.
  Outcome Svn(const std::string& arguments) const {
    return Shell("svn --non-interactive --config-dir " + Quoted(home_ + "/svn") + " " + arguments);
  }
  // Whether the daemon logs a commit past offset of its log.
  bool CommitsAfter(std::size_t offset) const {
    return Eventually([&] { return Log().find("committed ", offset) != std::string::npos; }, 10s);
  }
  const std::string& User() const { return user_; }
  const std::string& Home() const { return home_; }
  std::string Files(const std::string& name) const { return home_ + "/files/" + name; }
  std::string Log() const { return ReadAll(home_ + "/state/korvane/daemon.log"); }
  std::string Jobs() const { return ReadAll(home_ + "/state/korvane/jobs"); }

 private:
  std::string user_, home_;
  std::vector<std::string> environment_;
  pid_t pid_ = -1;
};

class Team : public ::testing::Test {
 protected:
  explicit Team(const std::string& kind = "start") {
    std::string name = "/tmp/korvane-team-XXXXXX";
    top_ = mkdtemp(name.data());
    // Apache, run as root, serves as www-data, which must reach the server's folder.
    fs::permissions(top_, fs::perms::owner_all | fs::perms::others_exec);
    server_ = std::make_unique<TeamServer>(top_ + "/server", kind);
    ann_ = std::make_unique<Machine>(top_, "ann", "ann-secret", *server_);
    bob_ = std::make_unique<Machine>(top_, "bob", "bob-secret", *server_);
  }
  ~Team() override {
    ann_.reset();
    bob_.reset();
    server_.reset();
    fs::remove_all(top_);
  }

  // The owner shares a folder of theirs and invites the members, who check
  // it out through the menu's "Checkout from Halcyra"; all sync it in mode 3.
  void Share(const std::string& space, Machine& owner, std::vector<Machine*> members) {
    const auto run = [](const Machine& machine, const std::string& arguments) {
      const Outcome ran = machine.Tool(arguments);
      ASSERT_EQ(ran.status, 0) << arguments << ": " << ran.output << machine.Log();
    };
    ASSERT_NO_FATAL_FAILURE(run(owner, "share " + Quoted(owner.Files(space)) + " --wait"));
    for (Machine* member : members) {
      ASSERT_NO_FATAL_FAILURE(run(owner, "invite " + space + " " + member->User()));
      fs::create_directories(member->Files(space));
      const std::string checkout = "menu " + Quoted(member->Files(space)) + " --invoke verb:ascheckout --wait";
      ASSERT_NO_FATAL_FAILURE(run(*member, checkout));
    }
    members.push_back(&owner);
    for (Machine* machine : members) {
      ASSERT_NO_FATAL_FAILURE(run(*machine, "activate-path " + Quoted(machine->Files(space)) + " 3 --wait"));
    }
  }
  void ShareBetweenAnnAndBob() {
    Write(ann_->Files("plans/today.txt"), "first words\n");
    ASSERT_NO_FATAL_FAILURE(Share("plans", *ann_, {bob_.get()}));
    ASSERT_EQ(ReadAll(bob_->Files("plans/today.txt")), "first words\n");
  }

  // Bob's daemon is off while both change things, so that his return meets
  // them; Ann's changes are committed before Bob makes his.
  void WhileBobIsAway(const std::function<void()>& byAnn, const std::function<void()>& byBob) {
    bob_->Stop();
    const std::size_t before = ann_->Log().size();
    byAnn();
    ASSERT_TRUE(ann_->CommitsAfter(before)) << ann_->Log();
    std::this_thread::sleep_for(500ms);  // what was saved as that commit began is committed too
    byBob();
    ASSERT_NO_FATAL_FAILURE(bob_->Start());
  }

  // How long until check holds; fails the test past the arrival limit.
  void Arrival(const std::string& what, const std::function<bool()>& check) {
    const auto began = Clock::now();
    EXPECT_TRUE(Eventually(check)) << what << " did not arrive within 5 s\nann:\n" << ann_->Log() << "\nbob:\n"
                                   << bob_->Log();
    const double seconds = std::chrono::duration<double>(Clock::now() - began).count();
    std::cout << "arrival of " << what << ": " << seconds << " s\n";
    RecordProperty(what, std::to_string(seconds));
  }

  std::string top_;
  std::unique_ptr<TeamServer> server_;
  std::unique_ptr<Machine> ann_, bob_;
};

}  // namespace korvane::team
