// Starting and stopping: one daemon per pipe however it is started, state
// that outlives the process, and a clean end on request or signal.
#include "reference_daemon.h"

#include "korvane/korvane.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <sstream>
#include <thread>
#include <sys/stat.h>

namespace korvane::reference {
namespace {

using Lifecycle = ReferenceDaemonTest;

TEST_F(Lifecycle, ActivationsSurviveAStopAndAStart) {
  const std::string first = Folder("first");
  const std::string second = Folder("second");
  auto daemon = StartServing();
  ASSERT_EQ(Korvane_ActivatePath(Wide(first).c_str(), 1), 1);
  ASSERT_EQ(Korvane_ActivatePath(Wide(second).c_str(), 3), 1);
  const std::string before = Activations();
  ASSERT_EQ(before, "1|" + first + "\n3|" + second + "\n");

  ASSERT_EQ(Korvane_StopDaemon(), 1);
  EXPECT_EQ(daemon->WaitForExit(), 0);
  struct stat status {};
  EXPECT_NE(lstat(SocketPath().c_str(), &status), 0) << "the socket outlived its daemon";

  auto restarted = StartServing();
  EXPECT_EQ(Activations(), before);
}

TEST_F(Lifecycle, SignalsStopTheDaemonCleanly) {
  for (int signal : {SIGTERM, SIGINT}) {
    auto daemon = StartServing();
    daemon->Kill(signal);
    EXPECT_EQ(daemon->WaitForExit(), 0) << strsignal(signal);
    EXPECT_FALSE(Served());
  }
}

TEST_F(Lifecycle, ASecondStartLeavesTheFirstServing) {
  auto first = StartServing();
  const std::string folder = Folder("f");
  ASSERT_EQ(Korvane_ActivatePath(Wide(folder).c_str(), 2), 1);
  auto second = Start();
  EXPECT_EQ(second->WaitForExit(), 0);
  EXPECT_TRUE(first->Running());
  EXPECT_EQ(Activations(), "2|" + folder + "\n");
}

TEST_F(Lifecycle, StartsAtTheSameMomentLeaveOneServing) {
  std::vector<std::unique_ptr<DaemonProcess>> daemons;
  for (int i = 0; i < 4; ++i) daemons.push_back(Start());
  ASSERT_TRUE(WaitUntilServed());
  // Every start but the one that serves leaves, with status 0.
  EXPECT_TRUE(Eventually([&] {
    return std::count_if(daemons.begin(), daemons.end(), [](auto& daemon) { return daemon->Running(); }) == 1;
  }));
  for (auto& daemon : daemons) {
    if (!daemon->Running()) {
      EXPECT_EQ(daemon->WaitForExit(), 0);
    }
  }
  EXPECT_EQ(Activations(), "");
}

TEST_F(Lifecycle, AMalformedStateFileKeepsWhatParses) {
  const std::string good = Folder("good");
  const std::string also = Folder("also");
  Folder("state/korvane");
  std::ofstream(StateFile("activations")) << "# comment\n"
                                          << "1|" << good << "\n"
                                          << "7|/bad/mode\n"
                                          << "garbage\n"
                                          << "2|relative/path\n"
                                          << "3|" << also << "\n"
                                          << "1|" << good << "\n";
  auto daemon = StartServing();
  EXPECT_EQ(Activations(), "3|" + also + "\n1|" + good + "\n");
  const std::string log = ReadAll(StateFile("daemon.log"));
  for (const char* line : {"line 3", "line 4", "line 5", "line 7"}) {
    EXPECT_NE(log.find(std::string("activations: ") + line), std::string::npos) << line;
  }
}

}  // namespace
}  // namespace korvane::reference
