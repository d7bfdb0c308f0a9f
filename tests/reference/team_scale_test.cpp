// A team at a size beyond two people: three machines in mode 3 on two spaces
// of one svnserve, one space holding 2,000 files. A change reaches every
// machine within the arrival limit, and a quiet machine asks the server at
// most about once a poll period for all its spaces together, counted in the
// server's own log of requests.
#include "team_harness.h"

#include <gtest/gtest.h>

#include <map>

namespace {

using namespace korvane::team;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The poll period the harness gives every machine (KORVANE_POLL_PERIOD_MS).
constexpr auto kPollPeriod = 200ms;
constexpr int kFilesInPlans = 2000;

class TeamAtScale : public Team {
 protected:
  // Ann shares both spaces, invites Bob and Carl, who check them out; all
  // three sync both in mode 3.
  void ShareTwoSpacesAmongThree() {
    for (int file = 0; file < kFilesInPlans; ++file) {
      Write(ann_->Files("plans/part" + std::to_string(file % 20) + "/file" + std::to_string(file) + ".txt"),
            "line " + std::to_string(file) + "\n");
    }
    Write(ann_->Files("notes/first.txt"), "first note\n");
    carl_ = std::make_unique<Machine>(top_, "carl", "carl-secret", *server_);
    for (const std::string space : {"plans", "notes"}) {
      Outcome run = ann_->Tool("share " + Quoted(ann_->Files(space)) + " --wait");
      ASSERT_EQ(run.status, 0) << run.output << ann_->Log();
      for (Machine* member : {bob_.get(), carl_.get()}) {
        const std::string user = member == bob_.get() ? "bob" : "carl";
        run = ann_->Tool("invite " + space + " " + user);
        ASSERT_EQ(run.status, 0) << run.output;
        fs::create_directories(member->Files(space));
        run = member->Tool("menu " + Quoted(member->Files(space)) + " --invoke verb:ascheckout --wait");
        ASSERT_EQ(run.status, 0) << run.output << member->Log();
      }
      for (Machine* machine : Machines()) {
        run = machine->Tool("activate-path " + Quoted(machine->Files(space)) + " 3 --wait");
        ASSERT_EQ(run.status, 0) << run.output;
      }
    }
    ASSERT_EQ(Slurp(carl_->Files("plans/part19/file1999.txt")), "line 1999\n");
  }

  std::vector<Machine*> Machines() const { return {ann_.get(), bob_.get(), carl_.get()}; }

  // The requests svnserve logged per user from offset on: each line is
  // "PID TIME HOST USER REPOSITORY COMMAND...".
  std::map<std::string, int> RequestsSince(std::size_t offset) const {
    std::istringstream lines(Slurp(server_->Folder() + "/svnserve.log").substr(offset));
    std::map<std::string, int> requests;
    for (std::string line; std::getline(lines, line);) {
      std::istringstream fields(line);
      std::string pid, time, host, user;
      if (fields >> pid >> time >> host >> user) ++requests[user];
    }
    return requests;
  }

  std::unique_ptr<Machine> carl_;
};

TEST_F(TeamAtScale, ChangesReachEveryMachineAndQuietMachinesPollOncePerServer) {
  ASSERT_NO_FATAL_FAILURE(ShareTwoSpacesAmongThree());
  const std::vector<Machine*> machines = Machines();

  // A change in either space reaches the two others, whichever wrote it.
  Write(ann_->Files("plans/part7/file7.txt"), "changed by ann\n");
  Arrival("a change in the large space", [&] {
    return Slurp(bob_->Files("plans/part7/file7.txt")) == "changed by ann\n" &&
           Slurp(carl_->Files("plans/part7/file7.txt")) == "changed by ann\n";
  });
  Write(carl_->Files("notes/second.txt"), "by carl\n");
  Arrival("a new file in the small space", [&] {
    return Slurp(ann_->Files("notes/second.txt")) == "by carl\n" && Slurp(bob_->Files("notes/second.txt")) == "by carl\n";
  });

  // Once the last change has settled, nothing happens for a while: each
  // machine asks about both spaces with one request a poll period.
  std::this_thread::sleep_for(1s);
  const std::size_t offset = fs::file_size(server_->Folder() + "/svnserve.log");
  constexpr auto kQuiet = 3s;
  std::this_thread::sleep_for(kQuiet);
  const std::map<std::string, int> requests = RequestsSince(offset);
  const int periods = static_cast<int>(kQuiet / kPollPeriod);
  for (const std::string user : {"ann", "bob", "carl"}) {
    const int asked = requests.contains(user) ? requests.at(user) : 0;
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
