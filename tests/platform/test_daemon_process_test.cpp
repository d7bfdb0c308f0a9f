// KorvaneBkgProc, the test daemon as a process: it answers by its script,
// logs what it saw, stops on the stop request or SIGTERM, and leaves at once
// when another daemon already serves the pipe.
#include "support/runtime_folder.h"
#include "support/test_daemon.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <limits.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace korvane::testing {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;

// Waits for a process to change hands with the test; not a measure of speed.
constexpr auto kPatience = 10s;

std::string DaemonProgram() {
  char self[PATH_MAX];
  const ssize_t size = readlink("/proc/self/exe", self, sizeof(self) - 1);
  const std::string path(self, size > 0 ? static_cast<std::size_t>(size) : 0);
  return path.substr(0, path.rfind('/')) + "/KorvaneBkgProc";
}

class DaemonProcessTest : public ::testing::Test {
 protected:
  ~DaemonProcessTest() override {
    for (pid_t pid : started_) {
      if (kill(pid, SIGKILL) == 0) waitpid(pid, nullptr, 0);
    }
  }

  // Starts the daemon with the script, standard streams on /dev/null.
  pid_t Start(const std::string& script) {
    std::ofstream(scriptPath_) << script;
    std::vector<std::string> variables = {"KORVANE_TEST_DAEMON_SCRIPT=" + scriptPath_,
                                          "KORVANE_TEST_DAEMON_LOG=" + logPath_};
    for (char** variable = environ; *variable != nullptr; ++variable) variables.emplace_back(*variable);
    std::vector<char*> environment;
    for (std::string& variable : variables) environment.push_back(variable.data());
    environment.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int fd : {0, 1, 2}) posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", O_RDWR, 0);
    const std::string program = DaemonProgram();
    char* arguments[] = {const_cast<char*>(program.c_str()), nullptr};
    pid_t pid = -1;
    const int error = posix_spawn(&pid, program.c_str(), &actions, nullptr, arguments, environment.data());
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
      ADD_FAILURE() << "cannot start " << program << ": " << std::strerror(error);
      return -1;
    }
    started_.push_back(pid);
    return pid;
  }

  std::vector<std::string> LogLines() const {
    std::ifstream file(logPath_);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) lines.push_back(line);
    return lines;
  }

  bool WaitForLogLine(const std::string& wanted) const {
    for (auto deadline = std::chrono::steady_clock::now() + kPatience; std::chrono::steady_clock::now() < deadline;
         std::this_thread::sleep_for(5ms)) {
      const std::vector<std::string> lines = LogLines();
      if (std::find(lines.begin(), lines.end(), wanted) != lines.end()) return true;
    }
    return false;
  }

  // The exit status, -1 for a death by signal, nothing while it still runs.
  std::optional<int> WaitForExit(pid_t pid) {
    for (auto deadline = std::chrono::steady_clock::now() + kPatience; std::chrono::steady_clock::now() < deadline;
         std::this_thread::sleep_for(5ms)) {
      int status = 0;
      if (waitpid(pid, &status, WNOHANG) == pid) {
        std::erase(started_, pid);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
    }
    return std::nullopt;
  }

  ScopedRuntimeFolder folder_;
  std::string scriptPath_ = folder_.Path() + "/script";
  std::string logPath_ = folder_.Path() + "/log";
  std::vector<pid_t> started_;
};

TEST_F(DaemonProcessTest, AnswersByScriptAndStopsOnTheStopRequest) {
  struct Case {
    std::string stopLine;
    std::optional<std::string> stopReply;  // nothing: the connection breaks
  };
  for (const Case& test : {Case{"", ""}, Case{"254 reply-then-exit 627965", "bye"},
                           Case{"254 reply-then-exit - 1", ""}, Case{"254 exit-silently", std::nullopt}}) {
    SCOPED_TRACE(test.stopLine);
    std::remove(logPath_.c_str());
    const pid_t pid = Start("# request 7 gets \"ok\"\n7 reply 6f6b00\n" + test.stopLine + "\n");
    const std::string id = std::to_string(pid);
    ASSERT_TRUE(WaitForLogLine("start " + id));
    {
      RawClient client(folder_.Path() + "/DalvDaemonCommand");
      ASSERT_TRUE(client.Send(MakeFrame(7, "q\0"s)));
      EXPECT_EQ(client.Receive(), "ok\0"s);
    }
    ASSERT_TRUE(WaitForLogLine("close " + id + " 1"));
    RawClient stop(folder_.Path() + "/DalvDaemonCommand");
    ASSERT_TRUE(stop.Send(MakeFrame(TestDaemon::kStopCode)));
    EXPECT_EQ(stop.Receive(), test.stopReply);
    EXPECT_EQ(WaitForExit(pid), 0);

    std::vector<std::string> expected = {"start " + id, "frame " + id + " 1 0a000000070000007100",
                                         "close " + id + " 1", "frame " + id + " 2 08000000fe000000"};
    if (!test.stopReply) expected.push_back("close " + id + " 2");
    expected.push_back("stop " + id);
    EXPECT_EQ(LogLines(), expected);
  }
}

TEST_F(DaemonProcessTest, SecondDaemonLeavesAndSigtermStopsTheFirst) {
  const pid_t first = Start("");
  ASSERT_TRUE(WaitForLogLine("start " + std::to_string(first)));
  const pid_t second = Start("");
  EXPECT_EQ(WaitForExit(second), 0);
  EXPECT_TRUE(WaitForLogLine("duplicate " + std::to_string(second)));

  ASSERT_EQ(kill(first, SIGTERM), 0);
  EXPECT_EQ(WaitForExit(first), 0);
  const std::vector<std::string> lines = LogLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "stop " + std::to_string(first));
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const std::string& line) { return line.starts_with("start "); }),
            1);
}

TEST_F(DaemonProcessTest, RefusesAMalformedScript) {
  for (const std::string line : {"7 reply 6f6", "7 reply zz", "seven reply", "7 close soon", "7 shout",
                                 "7 never 10", "7 reply 00 10 extra"}) {
    SCOPED_TRACE(line);
    std::remove(logPath_.c_str());
    EXPECT_EQ(WaitForExit(Start("7 reply 00\n" + line + "\n")), 2);
    const std::vector<std::string> lines = LogLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].ends_with("script line 2: " + line)) << lines[0];
  }
}

}  // namespace
}  // namespace korvane::testing
