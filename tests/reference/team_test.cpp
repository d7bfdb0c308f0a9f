// A team on a stock Subversion server: one svnserve on the loopback, set up
// by scripts/team-server.sh, and "machines", each a reference daemon with
// its own folders, user, credentials and Subversion configuration, driven
// through the korvane tool as a person's shell would drive it.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <regex>
#include <sstream>
#include <thread>

#include <csignal>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// How long a change may take to reach the other machine.
constexpr auto kArrival = 5s;

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

bool Eventually(const std::function<bool()>& check, Clock::duration limit = kArrival) {
  const auto deadline = Clock::now() + limit;
  while (!check()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

// The server of scripts/team-server.sh ("start": svnserve, "apache":
// Apache httpd with mod_dav_svn), stopped with the test.
class TeamServer {
 public:
  TeamServer(const std::string& folder, const std::string& kind = "start")
      : folder_(folder), kind_(kind), port_(FreePort()) {
    Start();
  }
  ~TeamServer() { Stop(); }
  void Start() {
    const Outcome run = Shell(std::string(KORVANE_SOURCE_DIR) + "/scripts/team-server.sh " + kind_ + " " +
                              Quoted(folder_) + " " + std::to_string(port_) +
                              " ann:ann-secret bob:bob-secret carl:carl-secret");
    ASSERT_EQ(run.status, 0) << run.output;
    url_ = run.output.substr(run.output.rfind('\n', run.output.size() - 2) + 1);
    url_.pop_back();
  }
  // The realm that Subversion files the credentials under.
  std::string Realm() const {
    return "<" + url_.substr(0, url_.find(':')) + "://127.0.0.1:" + std::to_string(port_) + "> korvane-team";
  }
  void Stop() { Shell(std::string(KORVANE_SOURCE_DIR) + "/scripts/team-server.sh stop " + Quoted(folder_)); }
  const std::string& Url() const { return url_; }
  int Port() const { return port_; }
  const std::string& Folder() const { return folder_; }

 private:
  std::string folder_;
  std::string kind_;
  int port_;
  std::string url_;
};

// One person's computer: a daemon with its own XDG folders, user name,
// credentials in a Subversion configuration folder of its own, and short
// intervals.
class Machine {
 public:
  Machine(const std::string& top, const std::string& user, const std::string& password, const TeamServer& server)
      : home_(top + "/" + user) {
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
                    "DBUS_SESSION_BUS_ADDRESS=",
                    "LSAN_OPTIONS=suppressions=" + std::string(KORVANE_SOURCE_DIR) +
                        "/tests/reference/openssl-leaks.supp"};
    Start();
  }
  ~Machine() { Stop(); }

  void Start() {
    std::vector<std::string> entries;
    for (char** entry = environ; *entry != nullptr; ++entry) entries.emplace_back(*entry);
    entries.insert(entries.end(), environment_.begin(), environment_.end());
    std::vector<char*> envp;
    for (std::string& entry : entries) envp.push_back(entry.data());
    envp.push_back(nullptr);
    const std::string program = BuildFolder() + "/reference/KorvaneBkgProc";
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
    ASSERT_EQ(posix_spawn(&pid_, program.c_str(), nullptr, nullptr, argv, envp.data()), 0);
    ASSERT_TRUE(Eventually([&] { return fs::exists(home_ + "/run/DalvDaemonCommand"); }, 10s));
  }
  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

  // Subversion's own credential store, as "svn info --username" leaves it.
  void StoreCredential(const TeamServer& server, const std::string& user, const std::string& password) {
    const std::string realm = server.Realm();
    const Outcome hash = Shell("printf %s " + Quoted(realm) + " | md5sum");
    std::string entry;
    for (const auto& [key, value] : std::array<std::pair<std::string, std::string>, 4>{
             {{"passtype", "simple"}, {"password", password}, {"svn:realmstring", realm}, {"username", user}}}) {
      entry += "K " + std::to_string(key.size()) + "\n" + key + "\nV " + std::to_string(value.size()) + "\n" + value +
               "\n";
    }
    Write(home_ + "/svn/auth/svn.simple/" + hash.output.substr(0, 32), entry + "END\n");
  }
  // An environment entry for the daemon's next start.
  void Also(const std::string& entry) { environment_.push_back(entry); }

  // The korvane tool in this machine's environment, given input on its
  // standard input.
  Outcome Tool(const std::string& arguments, const std::string& input = "") const {
    std::string command;
    for (const std::string& entry : environment_) command += Quoted(entry) + " ";
    return Shell("printf %s " + Quoted(input) + " | env " + command + BuildFolder() + "/bin/korvane " + arguments);
  }
  std::string Home() const { return home_; }
  // svn in this machine's configuration.
  Outcome Svn(const std::string& arguments) const {
    return Shell("svn --non-interactive --config-dir " + Quoted(home_ + "/svn") + " " + arguments);
  }
  // svnmucc in this machine's configuration: commits without a working copy.
  Outcome Svnmucc(const std::string& arguments) const {
    return Shell("svnmucc --non-interactive --config-dir " + Quoted(home_ + "/svn") + " -m by-hand " + arguments);
  }
  std::string Files(const std::string& name) const { return home_ + "/files/" + name; }
  std::string Log() const { return Slurp(home_ + "/state/korvane/daemon.log"); }
  std::string Jobs() const { return Slurp(home_ + "/state/korvane/jobs"); }

 private:
  std::string home_;
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

  // Ann shares a folder, invites Bob, Bob checks it out through the menu's
  // "Checkout from Halcyra"; both in mode 3.
  void ShareBetweenAnnAndBob() {
    Write(ann_->Files("plans/today.txt"), "first words\n");
    Outcome run = ann_->Tool("share " + Quoted(ann_->Files("plans")) + " --wait");
    ASSERT_EQ(run.status, 0) << run.output << ann_->Log();
    run = ann_->Tool("invite plans bob");
    ASSERT_EQ(run.status, 0) << run.output;
    fs::create_directories(bob_->Files("plans"));
    run = bob_->Tool("menu " + Quoted(bob_->Files("plans")) + " --invoke verb:ascheckout --wait");
    ASSERT_EQ(run.status, 0) << run.output << bob_->Log();
    ASSERT_EQ(Slurp(bob_->Files("plans/today.txt")), "first words\n");
    for (Machine* machine : {ann_.get(), bob_.get()}) {
      run = machine->Tool("activate-path " + Quoted(machine->Files("plans")) + " 3 --wait");
      ASSERT_EQ(run.status, 0) << run.output;
    }
  }

  // How long until check holds; fails the test past the arrival limit.
  double Arrival(const std::string& what, const std::function<bool()>& check) {
    const auto began = Clock::now();
    const bool arrived = Eventually(check);
    const double seconds = std::chrono::duration<double>(Clock::now() - began).count();
    EXPECT_TRUE(arrived) << what << " did not arrive within 5 s\nann:\n" << ann_->Log() << "\nbob:\n" << bob_->Log();
    std::cout << "arrival of " << what << ": " << seconds << " s\n";
    RecordProperty(what, std::to_string(seconds));
    return seconds;
  }

  std::string top_;
  std::unique_ptr<TeamServer> server_;
  std::unique_ptr<Machine> ann_, bob_;
};

TEST_F(Team, ChangesOnEitherSideArriveOnTheOtherWithinSeconds) {
  ASSERT_NO_FATAL_FAILURE(ShareBetweenAnnAndBob());
  const std::string a = ann_->Files("plans"), b = bob_->Files("plans");
  Write(a + "/new.txt", "made by ann\n");
  Arrival("a file created by ann", [&] { return Slurp(b + "/new.txt") == "made by ann\n"; });
  Write(b + "/new.txt", "changed by bob\n");
  Arrival("a change by bob", [&] { return Slurp(a + "/new.txt") == "changed by bob\n"; });
  fs::rename(a + "/new.txt", a + "/renamed.txt");
  Arrival("a rename by ann", [&] { return fs::exists(b + "/renamed.txt") && !fs::exists(b + "/new.txt"); });
  fs::remove(b + "/renamed.txt");
  Arrival("a delete by bob", [&] { return !fs::exists(a + "/renamed.txt"); });
  Write(b + "/deep/folder/notes.md", "bob's notes\n");
  Arrival("a new folder by bob", [&] { return Slurp(a + "/deep/folder/notes.md") == "bob's notes\n"; });

  // Files the daemon writes into a person's folder carry the person's umask.
  struct stat status {};
  ASSERT_EQ(stat((b + "/today.txt").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0044, 0044 & ~static_cast<unsigned>(umask(umask(0))));
}

TEST_F(Team, TheServerEnforcesWhoMayReadAndInvite) {
  ASSERT_NO_FATAL_FAILURE(ShareBetweenAnnAndBob());
  Machine carl(top_, "carl", "carl-secret", *server_);
  const Outcome shown = carl.Tool("show-space plans");
  EXPECT_NE(shown.status, 0) << shown.output;
  // A space one is not in answers as one that does not exist.
  const Outcome none = carl.Tool("show-space nosuch");
  EXPECT_EQ(std::regex_replace(shown.output, std::regex("plans"), "NAME"),
            std::regex_replace(none.output, std::regex("nosuch"), "NAME"));
  EXPECT_NE(carl.Svn("ls " + server_->Url() + "/plans").status, 0);
  EXPECT_EQ(carl.Tool("list-spaces").output.find("plans"), std::string::npos);
  // The hook's refusal reaches the person in its own words.
  const Outcome byBob = bob_->Tool("invite plans carl");
  EXPECT_NE(byBob.status, 0) << byBob.output;
  EXPECT_NE(byBob.output.find("bob is not the owner of the space plans"), std::string::npos) << byBob.output;
  EXPECT_NE(bob_->Tool("show-space plans").output.find("bob"), std::string::npos);
  // Nor by setting the members himself with plain Subversion.
  const Outcome taken =
      bob_->Svnmucc("propset korvane:members " + Quoted("ann\towner\nbob\towner\ncarl\towner\n") + " " +
                    server_->Url() + "/plans");
  EXPECT_NE(taken.status, 0) << taken.output;
  EXPECT_NE(taken.output.find("bob is not the owner of the space plans"), std::string::npos) << taken.output;
  EXPECT_NE(carl.Svn("ls " + server_->Url() + "/plans").status, 0);
  // Users and spaces are found from any machine.
  EXPECT_NE(carl.Tool("find-users").output.find("ann"), std::string::npos);
  EXPECT_EQ(carl.Tool("create-space own 'carl alone' carl").status, 0);
  EXPECT_NE(carl.Tool("list-spaces").output.find("own"), std::string::npos);
}

// The short name of this computer, as a conflict copy's name carries it.
std::string HostName() {
  char name[256] = {};
  gethostname(name, sizeof name - 1);
  const std::string host = name;
  return host.substr(0, host.find('.'));
}

// The entries of folder named "STEM (conflict, HOST, YYYY-MM-DD HH.MM).EXT"
// (a number may follow the time when the name was taken).
std::vector<std::string> ConflictCopies(const std::string& folder, const std::string& name) {
  const std::size_t dot = name.rfind('.');
  const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
  const std::string extension = dot == std::string::npos ? "" : name.substr(dot);
  const auto escaped = [](const std::string& text) {
    return std::regex_replace(text, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
  };
  const std::regex pattern(escaped(stem) + R"( \(conflict, )" + escaped(HostName()) +
                           R"(, \d{4}-\d{2}-\d{2} \d{2}\.\d{2}( \d+)?\))" + escaped(extension));
  std::vector<std::string> copies;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
    if (std::regex_match(entry.path().filename().string(), pattern)) copies.push_back(entry.path().string());
  }
  return copies;
}

// Each case changes one path on both sides while Bob's daemon is off, so
// that his return meets a conflict. Afterwards, on both machines, Ann's
// version (the other side's, for Bob) holds the name, or the name is gone
// when she deleted it; Bob's version is kept beside it as the conflict copy,
// or there is none when he deleted it; no conflict is left and sync goes on.
TEST_F(Team, ConflictsKeepBothVersionsAndSyncGoesOn) {
  ASSERT_NO_FATAL_FAILURE(ShareBetweenAnnAndBob());
  const std::string a = ann_->Files("plans"), b = bob_->Files("plans");
  struct Case {
    const char* name;
    std::function<void(const std::string&)> setUp, byAnn, byBob;
    std::string path;       // the path both changed, under the shared folder, as it is afterwards
    std::string holds;      // what path holds afterwards ("" nothing: path is gone)
    std::string copyHolds;  // what the conflict copy beside path holds ("" there is no copy)
    std::string copyFile;   // for a folder's copy, the file in it that holds that
    std::string gone;       // an old folder that is gone afterwards, no copy of it left ("" none)
    bool mayFollow;         // Bob's edit may instead land in path itself, with no copy
  };
  const std::string binaryA("\x00\x01\xff" "ann", 6), binaryB("\x00\x02\xfe" " bob", 7);
  const std::vector<Case> cases = {
      {"edit against edit", [](auto& f) { Write(f + "/text.txt", "base\n"); },
       [](auto& f) { Write(f + "/text.txt", "ann's edit\n"); }, [](auto& f) { Write(f + "/text.txt", "bob's edit\n"); },
       "text.txt", "ann's edit\n", "bob's edit\n", "", "", false},
      {"binary edit against edit", [](auto& f) { Write(f + "/image.bin", std::string("\x00" "base", 5)); },
       [&](auto& f) { Write(f + "/image.bin", binaryA); }, [&](auto& f) { Write(f + "/image.bin", binaryB); },
       "image.bin", binaryA, binaryB, "", "", false},
      {"delete against edit", [](auto& f) { Write(f + "/gone.txt", "base\n"); },
       [](auto& f) { fs::remove(f + "/gone.txt"); }, [](auto& f) { Write(f + "/gone.txt", "bob kept editing\n"); },
       "gone.txt", "", "bob kept editing\n", "", "", false},
      {"edit against delete", [](auto& f) { Write(f + "/kept.txt", "base\n"); },
       [](auto& f) { Write(f + "/kept.txt", "ann kept editing\n"); }, [](auto& f) { fs::remove(f + "/kept.txt"); },
       "kept.txt", "ann kept editing\n", "", "", "", false},
      {"two adds of one name", [](auto&) {}, [](auto& f) { Write(f + "/added.txt", "ann added\n"); },
       [](auto& f) { Write(f + "/added.txt", "bob added\n"); }, "added.txt", "ann added\n", "bob added\n", "", "",
       false},
      {"folder renamed against a file changed in it", [](auto& f) { Write(f + "/folder/inside.txt", "base\n"); },
       [](auto& f) { fs::rename(f + "/folder", f + "/moved"); },
       [](auto& f) { Write(f + "/folder/inside.txt", "bob changed inside\n"); }, "moved/inside.txt", "base\n",
       "bob changed inside\n", "", "folder", true},
      {"folder renamed against a file added in it", [](auto& f) { Write(f + "/renamed/old.txt", "renamed base\n"); },
       [](auto& f) { fs::rename(f + "/renamed", f + "/named anew"); },
       [](auto& f) { Write(f + "/renamed/new.txt", "bob's new file\n"); }, "named anew/new.txt",
       "bob's new file\n", "", "", "renamed", false},
      {"folder deleted against a file changed in it",
       [](auto& f) { Write(f + "/dropped/inside.txt", "dropped base\n"); },
       [](auto& f) { fs::remove_all(f + "/dropped"); },
       [](auto& f) { Write(f + "/dropped/inside.txt", "bob changed a dropped file\n"); }, "dropped", "",
       "bob changed a dropped file\n", "inside.txt", "", false},
  };
  for (const Case& each : cases) each.setUp(a);
  ASSERT_TRUE(Eventually([&] {
    return fs::exists(b + "/folder/inside.txt") && fs::exists(b + "/kept.txt") &&
           fs::exists(b + "/renamed/old.txt") && fs::exists(b + "/dropped/inside.txt");
  })) << ann_->Log() << bob_->Log();
  const std::string annCommitted = "committed " + a;
  bob_->Stop();
  const std::size_t commitsBefore = ann_->Log().size();
  for (const Case& each : cases) each.byAnn(a);
  ASSERT_TRUE(Eventually([&] { return ann_->Log().find(annCommitted, commitsBefore) != std::string::npos; }));
  std::this_thread::sleep_for(500ms);  // the commit of every change of Ann's is made
  for (const Case& each : cases) each.byBob(b);
  bob_->Start();

  // Whether folder shows the outcome of one case.
  const auto settled = [](const Case& each, const std::string& folder) {
    const fs::path path = fs::path(folder) / each.path;
    if (!each.gone.empty() &&
        (fs::exists(fs::path(folder) / each.gone) || !ConflictCopies(folder, each.gone).empty())) {
      return false;
    }
    const std::vector<std::string> copies = ConflictCopies(path.parent_path().string(), path.filename().string());
    const bool holds = each.holds.empty() ? !fs::exists(path) : Slurp(path.string()) == each.holds;
    const bool copied = each.copyHolds.empty()
                            ? copies.empty()
                            : copies.size() == 1 &&
                                  Slurp(each.copyFile.empty() ? copies.front() : copies.front() + "/" + each.copyFile) ==
                                      each.copyHolds;
    const bool followed = each.mayFollow && copies.empty() && Slurp(path.string()) == each.copyHolds;
    return (holds && copied) || followed;
  };
  for (const Case& each : cases) {
    for (const std::string& folder : {a, b}) {
      EXPECT_TRUE(Eventually([&] { return settled(each, folder); }, 10s))
          << each.name << " in " << folder << ":\n"
          << Shell("ls -R " + Quoted(folder)).output << "\nbob:\n" << bob_->Log();
    }
  }
  for (Machine* machine : {ann_.get(), bob_.get()}) {
    const std::string folder = machine == ann_.get() ? a : b;
    EXPECT_TRUE(Eventually([&] {
      const Outcome status = machine->Svn("status " + Quoted(folder));
      return status.status == 0 && status.output.empty();
    }, 10s)) << machine->Svn("status " + Quoted(folder)).output;
  }
  const Outcome listed = ann_->Svn("ls -R " + server_->Url() + "/plans");
  EXPECT_EQ(listed.output.find(".mine"), std::string::npos) << listed.output;
  EXPECT_EQ(listed.output.find(".r"), std::string::npos) << listed.output;
  EXPECT_NE(listed.output.find("(conflict, "), std::string::npos) << listed.output;
  EXPECT_NE(bob_->Jobs().find("conflict on"), std::string::npos) << bob_->Jobs();

  Write(a + "/later.txt", "after the conflicts\n");
  Arrival("a change after the conflicts", [&] { return Slurp(b + "/later.txt") == "after the conflicts\n"; });
}

TEST_F(Team, SyncCatchesUpWhenTheServerReturns) {
  ASSERT_NO_FATAL_FAILURE(ShareBetweenAnnAndBob());
  const std::string a = ann_->Files("plans"), b = bob_->Files("plans");
  server_->Stop();
  Write(a + "/while-away.txt", "written while the server was away\n");
  Write(b + "/bob-away.txt", "bob wrote too\n");
  std::this_thread::sleep_for(10s);
  EXPECT_NE(ann_->Log().find("tried again in"), std::string::npos) << ann_->Log();
  server_->Start();
  EXPECT_TRUE(Eventually([&] { return Slurp(b + "/while-away.txt") == "written while the server was away\n"; }, 8s))
      << ann_->Log();
  EXPECT_TRUE(Eventually([&] { return Slurp(a + "/bob-away.txt") == "bob wrote too\n"; }, 8s)) << bob_->Log();
}

// Bob's stored password stops being the right one (changed on the server,
// say): his daemon says in its log what to do and asks the server again only
// after the credential wait, not at every poll.
TEST_F(Team, ARefusedCredentialIsLoggedAndNotTriedInALoop) {
  ASSERT_NO_FATAL_FAILURE(ShareBetweenAnnAndBob());
  const std::string b = bob_->Files("plans");
  bob_->Stop();
  bob_->StoreCredential(*server_, "bob", "not-bob-secret");
  bob_->Also("KORVANE_CREDENTIAL_WAIT_MS=600000");
  bob_->Start();
  Write(b + "/refused.txt", "written with a stale password\n");
  const std::string refused = "the server refused the credential, or none is stored: run `korvane login`";
  const auto attempts = [&] {
    std::size_t count = 0;
    const std::string log = bob_->Log();
    for (std::size_t at = log.find(refused); at != std::string::npos; at = log.find(refused, at + 1)) ++count;
    return count;
  };
  ASSERT_TRUE(Eventually([&] { return attempts() > 0; })) << bob_->Log();
  // Polls come every 200 ms and other failures are retried after 200 ms to
  // 1 s, so a loop would log many more over this window.
  std::this_thread::sleep_for(3s);
  EXPECT_EQ(attempts(), 1u) << bob_->Log();
  EXPECT_EQ(Slurp(b + "/refused.txt"), "written with a stale password\n");
}

// The same two machines over http://, where Apache and mod_dav_svn are
// installed.
class TeamOverApache : public Team {
 protected:
  TeamOverApache() : Team(HasApache() ? "apache" : "start") {}
  static bool HasApache() { return HasApacheModules(); }

 public:
  static bool HasApacheModules() {
    return fs::exists("/usr/sbin/apache2") && fs::exists("/usr/lib/apache2/modules/mod_dav_svn.so");
  }
};

TEST_F(TeamOverApache, SharesRefusesAndSyncsOverHttp) {
  if (!HasApache()) GTEST_SKIP() << "apache2 and libapache2-mod-svn are not installed";
  ASSERT_EQ(server_->Url().rfind("http://", 0), 0u);
  ASSERT_NO_FATAL_FAILURE(ShareBetweenAnnAndBob());
  const std::string a = ann_->Files("plans"), b = bob_->Files("plans");
  Write(a + "/over-http.txt", "ann over http\n");
  Arrival("a file created by ann over http", [&] { return Slurp(b + "/over-http.txt") == "ann over http\n"; });
  Write(b + "/over-http.txt", "bob over http\n");
  Arrival("a change by bob over http", [&] { return Slurp(a + "/over-http.txt") == "bob over http\n"; });
  EXPECT_NE(bob_->Tool("invite plans carl").status, 0);
  Machine carl(top_, "carl", "carl-secret", *server_);
  EXPECT_NE(carl.Tool("show-space plans").status, 0);
}

// The same team over https://, the way beyond one machine: the server's
// own certificate authority trusted through Subversion's servers file, the
// password stored with korvane login, and a member removed by the owner.
class TeamOverHttps : public Team {
 protected:
  TeamOverHttps() : Team(TeamOverApache::HasApacheModules() ? "https" : "start") {}
};

TEST_F(TeamOverHttps, LoginRemoveMemberAndARemovedMembersFilesStay) {
  if (!TeamOverApache::HasApacheModules()) GTEST_SKIP() << "apache2 and libapache2-mod-svn are not installed";
  ASSERT_EQ(server_->Url().rfind("https://", 0), 0u);
  ASSERT_NO_FATAL_FAILURE(ShareBetweenAnnAndBob());

  // login: refused and accepted, stored where svn reads it.
  Machine carl(top_, "carl", "not-the-password", *server_);
  EXPECT_NE(carl.Tool("show-space plans").output.find("korvane login"), std::string::npos);
  Outcome login = carl.Tool("login", "wrong\n");
  EXPECT_EQ(login.status, 1) << login.output;
  login = carl.Tool("login", "carl-secret\n");
  EXPECT_EQ(login.status, 0) << login.output;
  EXPECT_NE(login.output.find("plain store"), std::string::npos) << login.output;
  EXPECT_EQ(carl.Svn("ls " + server_->Url()).status, 0);
  EXPECT_NE(carl.Tool("find-users").output.find("ann"), std::string::npos);

  // An authority nobody listed is refused, with how to trust it.
  fs::remove(carl.Home() + "/svn/servers");
  const Outcome untrusted = carl.Tool("find-users");
  EXPECT_NE(untrusted.status, 0);
  EXPECT_NE(untrusted.output.find("ssl-authority-files"), std::string::npos) << untrusted.output;

  // Who may remove whom, in the hook's own words.
  const struct {
    Machine* by;
    const char* arguments;
    int status;
    const char* words;
  } removals[] = {
      {ann_.get(), "remove-member plans ann", 1, "keeps at least one owner"},
      {bob_.get(), "remove-member plans ann", 1, "bob is not the owner of the space plans"},
      {ann_.get(), "remove-member plans '@nobody'", 2, "cannot name a user"},
      {ann_.get(), "remove-member plans bob", 0, "Removed bob from plans."},
  };
  for (const auto& each : removals) {
    const Outcome run = each.by->Tool(each.arguments);
    EXPECT_EQ(run.status, each.status) << each.arguments << ": " << run.output;
    EXPECT_NE(run.output.find(each.words), std::string::npos) << each.arguments << ": " << run.output;
  }

  // Bob's daemon says so, pauses, and keeps his files.
  Write(ann_->Files("plans/after.txt"), "bob no longer reads this\n");
  const std::string words = "you are no longer a member of plans";
  EXPECT_TRUE(Eventually([&] { return bob_->Log().find(words) != std::string::npos; }, 10s)) << bob_->Log();
  EXPECT_NE(bob_->Jobs().find(words), std::string::npos) << bob_->Jobs();
  EXPECT_EQ(Slurp(bob_->Files("plans/today.txt")), "first words\n");
  EXPECT_FALSE(fs::exists(bob_->Files("plans/after.txt")));
  EXPECT_EQ(bob_->Log().find("credential"), std::string::npos) << bob_->Log();
}

}  // namespace

