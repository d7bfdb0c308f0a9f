// A daemon killed outright while activations change: the state file it
// leaves parses whole and holds every change a query had reported.
#include "reference_daemon.h"

#include "activation_store.h"
#include "korvane/korvane.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <map>
#include <thread>

namespace korvane::reference {
namespace {

using Crash = ReferenceDaemonTest;

constexpr int kFolders = 400;

int ModeOf(int index) { return index % 3 + 1; }

TEST_F(Crash, AKilledDaemonLeavesEveryReportedChangeOnDisk) {
  std::vector<std::string> folders;
  std::map<std::string, int> indexOf;
  for (int i = 0; i < kFolders; ++i) {
    folders.push_back(TemporaryFolder() + "/f" + std::to_string(i));
    indexOf[folders.back()] = i;
  }
  auto daemon = StartServing();
  server::Activations reported;
  int highestReported = -1;
  int deactivationsSent = 0;
  {
    // Activates folder 0, 1, 2, ... and deactivates each two steps later, so
    // that at any moment a window of recent folders is active. The count says
    // how far the deactivations had been sent.
    std::atomic<int> deactivations{0};
    std::jthread mutator([&](std::stop_token stop) {
      for (int i = 0; i < kFolders && !stop.stop_requested(); ++i) {
        Korvane_ActivatePath(Wide(folders[i]).c_str(), ModeOf(i));
        if (i >= 2) {
          deactivations = i - 1;  // counted before it is sent: it may take effect
          Korvane_DeactivatePath(Wide(folders[i - 2]).c_str());
        }
      }
    });
    // Query while the changes stream in (the daemon may lag far behind what
    // was sent); kill once a good share is seen.
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (highestReported < kFolders / 4 && std::chrono::steady_clock::now() < deadline) {
      // The stream of changes may keep the pipe busy for a moment.
      char* list = nullptr;
      if (Korvane_GetActivations(&list) != 1) continue;
      const server::ParsedActivations parsed = server::ParseActivations(Take(list));
      ASSERT_TRUE(parsed.rejected.empty());
      reported = parsed.activations;
      for (const auto& [folder, mode] : reported) highestReported = std::max(highestReported, indexOf.at(folder));
    }
    daemon->Kill(SIGKILL);
    ASSERT_EQ(daemon->WaitForExit(), 128 + SIGKILL);
    mutator.request_stop();
    mutator.join();
    deactivationsSent = deactivations;
  }
  ASSERT_GE(highestReported, kFolders / 4) << "the daemon was killed before enough changes";

  const server::ParsedActivations saved = server::ParseActivations(ReadAll(StateFile("activations")));
  EXPECT_TRUE(saved.rejected.empty());
  // What was reported active stays, unless its deactivation was sent later.
  for (const auto& [folder, mode] : reported) {
    if (indexOf.at(folder) >= deactivationsSent) {
      EXPECT_EQ(saved.activations.count(folder), 1u) << folder;
    }
  }
  for (const auto& [folder, mode] : saved.activations) {
    const int index = indexOf.at(folder);
    EXPECT_EQ(mode, ModeOf(index)) << folder;
    // A folder reported inactive behind the newest one reported had been
    // deactivated for good.
    if (index < highestReported) {
      EXPECT_EQ(reported.count(folder), 1u) << folder << " came back";
    }
  }

  auto restarted = StartServing();
  EXPECT_EQ(Activations(), server::FormatActivations(saved.activations));
}

}  // namespace
}  // namespace korvane::reference
