// A team at a size beyond two people: three machines in mode 3 on two spaces
// of one svnserve, one space holding 2,000 files. A change reaches every
// machine within the arrival limit, and a quiet machine asks the server at
// most about once a poll period for all its spaces together, counted in the
// server's own log of requests.
#include "team_harness.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

namespace {

using namespace korvane::team;

// The poll period the harness gives every machine (KORVANE_POLL_PERIOD_MS).
constexpr auto kPollPeriod = 200ms;

// The requests svnserve logged per user from offset on: each line is
// "PID TIME HOST USER REPOSITORY COMMAND...".
std::map<std::string, int> RequestsSince(const TeamServer& server, std::size_t offset) {
  std::istringstream lines(ReadAll(server.Folder() + "/svnserve.log").substr(offset));
  std::map<std::string, int> requests;
  for (std::string line, pid, time, host, user; std::getline(lines, line);) {
    if (std::istringstream(line) >> pid >> time >> host >> user) ++requests[user];
  }
  return requests;
}

TEST_F(Team, AtScaleChangesReachEveryMachineAndQuietMachinesPollOncePerServer) {
  // Ann shares both spaces, plans with its 2,000 files, with Bob and Carl;
  // all three sync both in mode 3.
  for (int file = 0; file < 2000; ++file) {
    Write(ann_->Files("plans/part" + std::to_string(file % 20) + "/file" + std::to_string(file) + ".txt"),
          "line " + std::to_string(file) + "\n");
  }
  Write(ann_->Files("notes/first.txt"), "first note\n");
  Machine carl(top_, "carl", "carl-secret", *server_);
  ASSERT_NO_FATAL_FAILURE(Share("notes", *ann_, {bob_.get(), &carl}));
  ASSERT_NO_FATAL_FAILURE(Share("plans", *ann_, {bob_.get(), &carl}));
  ASSERT_EQ(ReadAll(carl.Files("plans/part19/file1999.txt")), "line 1999\n");

  // A change in either space reaches the two others, whichever wrote it.
  const auto everywhere = [&](const std::string& file, const std::string& text) {
    return ReadAll(ann_->Files(file)) == text && ReadAll(bob_->Files(file)) == text && ReadAll(carl.Files(file)) == text;
  };
  Write(ann_->Files("plans/part7/file7.txt"), "changed by ann\n");
  Arrival("a change in the large space", [&] { return everywhere("plans/part7/file7.txt", "changed by ann\n"); });
  Write(carl.Files("notes/second.txt"), "by carl\n");
  Arrival("a new file in the small space", [&] { return everywhere("notes/second.txt", "by carl\n"); });

  // Once the last change has settled, nothing happens for a while: each
  // machine asks about both spaces with one request a poll period.
  std::this_thread::sleep_for(1s);
  const std::size_t offset = fs::file_size(server_->Folder() + "/svnserve.log");
  constexpr auto kQuiet = 3s;
  std::this_thread::sleep_for(kQuiet);
  std::map<std::string, int> requests = RequestsSince(*server_, offset);
  const int periods = static_cast<int>(kQuiet / kPollPeriod);
  for (const std::string user : {"ann", "bob", "carl"}) {
    const int asked = requests[user];
    std::cout << user << " asked the server " << asked << " times in " << periods << " poll periods\n";
    RecordProperty(user + " requests", asked);
    // Each polls the whole time; a quarter more allows for a poll at each
    // end of the window and a reconnection, and stays well below one a
    // space.
    EXPECT_GE(asked, periods / 2) << user << " stopped polling";
    EXPECT_LE(asked, periods + periods / 4) << user << " polls per space, not per server";
  }
}

}  // namespace
