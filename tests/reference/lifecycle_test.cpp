// Starting and stopping: one daemon per pipe however it is started, state
// that outlives the process, and a clean end on request or signal.
#include "reference_daemon.h"

#include "korvane/korvane.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <sys/stat.h>

namespace korvane::reference {
namespace {

using Lifecycle = ReferenceDaemonTest;

// However it is told to stop, the daemon ends with status 0, takes its
// socket with it and leaves its activations to the next start.
TEST_F(Lifecycle, EachWayOfStoppingEndsCleanlyAndKeepsTheActivations) {
  const std::string first = Folder("first");
  const std::string second = Folder("second");
  const std::string expected = "1|" + first + "\n3|" + second + "\n";
  auto daemon = StartServing();
  ASSERT_EQ(Korvane_ActivatePath(Wide(first).c_str(), 1), 1);
  ASSERT_EQ(Korvane_ActivatePath(Wide(second).c_str(), 3), 1);
  ASSERT_EQ(Activations(), expected);
  for (const int signal : {0, SIGTERM, SIGINT}) {  // 0: asked through the pipe
    SCOPED_TRACE(signal == 0 ? "stop request" : strsignal(signal));
    if (signal == 0) {
      ASSERT_EQ(Korvane_StopDaemon(), 1);
    } else {
      daemon->Kill(signal);
    }
    EXPECT_EQ(daemon->WaitForExit(), 0);
    struct stat status {};
    EXPECT_NE(lstat(SocketPath().c_str(), &status), 0) << "the socket outlived its daemon";
    daemon = StartServing();
    EXPECT_EQ(Activations(), expected);
  }
}

// Starts at the same moment, and a start while one serves, leave the one
// serving; every other start leaves with status 0.
TEST_F(Lifecycle, StartsLeaveOneServing) {
  std::vector<std::unique_ptr<DaemonProcess>> daemons;
  for (int i = 0; i < 4; ++i) daemons.push_back(Start());
  ASSERT_TRUE(Eventually([this] { return Served(); }));
  const auto running = [&] {
    return std::count_if(daemons.begin(), daemons.end(), [](auto& daemon) { return daemon->Running(); });
  };
  EXPECT_TRUE(Eventually([&] { return running() == 1; }));
  const std::string folder = Folder("f");
  ASSERT_EQ(Korvane_ActivatePath(Wide(folder).c_str(), 2), 1);
  daemons.push_back(Start());
  EXPECT_EQ(daemons.back()->WaitForExit(), 0);
  EXPECT_EQ(running(), 1);
  for (auto& daemon : daemons) {
    if (!daemon->Running()) {
      EXPECT_EQ(daemon->WaitForExit(), 0);
    }
  }
  EXPECT_EQ(Activations(), "2|" + folder + "\n");
}

TEST_F(Lifecycle, AMalformedStateFileKeepsWhatParses) {
  const std::string good = Folder("good");
  const std::string also = Folder("also");
  Folder("state/korvane");
  // Lines 3, 4, 5 and 7 are wrong: a bad mode, garbage, a relative path, a repeat.
  std::ofstream(StateFile("activations")) << "# comment\n1|" << good << "\n7|/bad/mode\ngarbage\n2|relative/path\n3|"
                                          << also << "\n1|" << good << "\n";
  auto daemon = StartServing();
  EXPECT_EQ(Activations(), "3|" + also + "\n1|" + good + "\n");
  const std::string log = ReadAll(StateFile("daemon.log"));
  for (const char* line : {"line 3", "line 4", "line 5", "line 7"}) {
    EXPECT_NE(log.find(std::string("activations: ") + line), std::string::npos) << line;
  }
}

}  // namespace
}  // namespace korvane::reference
