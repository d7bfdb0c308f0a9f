// The korvane tool against the reference daemon: a start that returns once
// the daemon serves, a stop that returns once it is gone, and one-way work
// that --wait follows to its end.
#include "tools/tool_run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <signal.h>
#include <stdlib.h>

namespace korvane::testing {
namespace {

namespace fs = std::filesystem;

// A private install: the tool and the library beside the reference daemon
// (the library starts the daemon it finds beside its own file), with its own
// runtime, state, data and home folders.
class ToolWithDaemon : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/korvane-tool-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
    for (const char* file : {"korvane", "libkorvane.so.1", "libkorvane-win32.so.1"}) {
      fs::copy_file(ToolFolder() + "/" + file, folder_ + "/" + file);
    }
    fs::create_symlink(fs::canonical(ToolFolder() + "/../reference/KorvaneBkgProc"), folder_ + "/KorvaneBkgProc");
    for (const char* name : {"run", "state", "data", "config", "home"}) fs::create_directory(folder_ + "/" + name);
    environment_ = "LD_LIBRARY_PATH=" + folder_ + " XDG_RUNTIME_DIR=" + folder_ + "/run XDG_STATE_HOME=" + folder_ + "/state XDG_DATA_HOME=" +
                   folder_ + "/data XDG_CONFIG_HOME=" + folder_ + "/config HOME=" + folder_ +
                   "/home KORVANE_DEBUG_OUTPUT=" + folder_ + "/trace.log ";
  }
  void TearDown() override {
    Run("stop-daemon");
    fs::remove_all(folder_);
  }

  ToolRun Run(const std::string& arguments, bool onlyOutput = false) {
    return Korvane(arguments, onlyOutput, folder_ + "/korvane", environment_);
  }
  Json RunJson(const std::string& arguments, int status) {
    const ToolRun run = Run("--json " + arguments, true);
    EXPECT_EQ(run.status, status) << arguments;
    Json object = Json::parse(run.output, nullptr, false);
    ExpectSchema(object);
    return object;
  }

  // The daemon's process, from the first line of its log.
  int DaemonProcess() {
    std::ifstream log(folder_ + "/state/korvane/daemon.log");
    std::string stamp;
    int pid = 0;
    log >> stamp >> pid;
    return pid;
  }

  std::string folder_;
  std::string environment_;
};

// A process that has exited, even if nobody has reaped it yet.
bool Gone(int pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string number, name, state;
  return !(stat >> number >> name >> state) || state == "Z" || state == "X";
}

TEST_F(ToolWithDaemon, StartServesAndStopLeavesNoDaemon) {
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    EXPECT_EQ(Run("start-daemon").status, 0);
    EXPECT_EQ(Run("get-activations").status, 0);
    const int pid = DaemonProcess();
    ASSERT_GT(pid, 0);
    EXPECT_EQ(RunJson("stop-daemon", 0)["socket"], folder_ + "/run/DalvDaemonCommand");
    EXPECT_TRUE(Gone(pid));
    EXPECT_EQ(Run("stop-daemon").status, 3);  // stopping starts none
    fs::remove(folder_ + "/state/korvane/daemon.log");
  }
  EXPECT_EQ(Run("stop-daemon").status, 3);
}

// Without a daemon program beside the library, it can start none, so every
// subcommand that needs one says so, naming the socket and the log.
TEST_F(ToolWithDaemon, ReportsADaemonThatCannotBeStartedWithStatusThreeNamingTheSocketAndLog) {
  fs::remove(folder_ + "/KorvaneBkgProc");
  for (const char* arguments : {"get-activations", "svn-commit /w", "list-spaces", "activate-path / 1",
                                "deactivate-path /x --wait", "get-error-text", "share /"}) {
    SCOPED_TRACE(arguments);
    const ToolRun run = Run(arguments);
    EXPECT_EQ(run.status, 3);
    EXPECT_NE(run.output.find(folder_ + "/run/DalvDaemonCommand"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find(folder_ + "/state/korvane/daemon.log"), std::string::npos) << run.output;
  }
  // Stopping and listing work need no daemon started for them.
  EXPECT_EQ(Run("stop-daemon").status, 3);
  EXPECT_EQ(Run("jobs").status, 0);
}

// A new user's first steps: a slip starts no daemon; the first share starts
// it and --wait follows the work to its end; a second share of the folder or
// one inside it says which space it is; the board outlives a restart (what it
// keeps, and that work left running ends as cancelled, is the board's own
// test) and a person reads it as times.
TEST_F(ToolWithDaemon, FirstShareStartsTheDaemonAndWaitFollowsTheWork) {
  const ToolRun nothing = Run("share " + folder_ + "/nothere");
  EXPECT_EQ(nothing.status, 1);
  EXPECT_NE(nothing.output.find("/nothere does not exist"), std::string::npos) << nothing.output;
  EXPECT_FALSE(fs::exists(folder_ + "/state/korvane/daemon.log")) << "a slip started a daemon";

  const std::string site = folder_ + "/big1";
  fs::create_directories(site + "/sub");
  std::ofstream(site + "/a.txt") << "alpha";
  std::ofstream(site + "/sub/b.txt") << "beta!";
  const Json shared = RunJson("share --wait " + site, 0);
  EXPECT_EQ(shared["job"]["operation"], "shareFolder");
  EXPECT_EQ(shared["job"]["state"], "succeeded");
  EXPECT_EQ(shared["job"]["filesTotal"], 2);
  EXPECT_EQ(shared["job"]["bytesTotal"], 10);
  EXPECT_EQ(RunJson("get-status " + site, 0)["mode"], 1);
  EXPECT_EQ(RunJson("is-versioned " + site + "/a.txt", 0)["versioned"], true);
  struct Again {
    std::string path;
    std::string says;
  };
  for (const Again& again : {Again{site, "big1 is already shared as the space big1."},
                             Again{site + "/sub", "sub lies in " + site + ", already shared as the space big1."}}) {
    for (const char* how : {"share ", "menu --invoke verb:share "}) {
      const ToolRun run = Run(std::string(how) + again.path);
      EXPECT_EQ(run.status, 1) << how << again.path;
      EXPECT_NE(run.output.find(again.says), std::string::npos) << run.output;
    }
  }
  const ToolRun space = Run("show-space nosuch");
  EXPECT_EQ(space.status, 1);
  EXPECT_EQ(space.output, "no space is named nosuch\n");

  EXPECT_EQ(Run("checkout --wait file:///nowhere/repo " + folder_ + "/co").status, 1);
  EXPECT_EQ(RunJson("activate-path --wait " + site + " 3", 0)["job"]["message"], "activated in mode 3");
  // Without --wait the work is only asked for.
  EXPECT_TRUE(RunJson("deactivate-path " + site, 0)["job"].is_null());
  ASSERT_EQ(Run("stop-daemon").status, 0);
  ASSERT_EQ(Run("start-daemon").status, 0);
  // The waited work: the share, the failed checkout and the activation; the
  // deactivation may not have been published.
  const Json jobs = RunJson("jobs", 0)["jobs"];
  ASSERT_GE(jobs.size(), 3u);
  EXPECT_EQ(jobs[0]["folder"], site);
  EXPECT_EQ(jobs[1]["state"], "failed");
  const ToolRun plain = Run("jobs");
  EXPECT_NE(plain.output.find("(started "), std::string::npos) << plain.output;
  EXPECT_NE(plain.output.find(", ended "), std::string::npos) << plain.output;
}

}  // namespace
}  // namespace korvane::testing
