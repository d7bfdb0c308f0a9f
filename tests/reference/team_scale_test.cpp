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
  explicit TeamAtScale(const std::string& kind = "start") : Team(kind) {}

  // Ann shares both spaces, plans with files files, invites Bob and Carl,
  // who check them out; all three sync both in mode 3.
  void ShareTwoSpacesAmongThree(int files = kFilesInPlans) {
    for (int file = 0; file < files; ++file) {
      Write(ann_->Files("plans/part" + std::to_string(file % 20) + "/file" + std::to_string(file) + ".txt"),
            "line " + std::to_string(file) + "\n");
    }
    Write(ann_->Files("notes/first.txt"), "first note\n");
    carl_ = std::make_unique<Machine>(top_, "carl", "carl-secret", *server_);
    for (const std::string space : {"notes", "plans"}) {
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
    const int last = files - 1;
    ASSERT_EQ(Slurp(carl_->Files("plans/part" + std::to_string(last % 20) + "/file" + std::to_string(last) + ".txt")),
              "line " + std::to_string(last) + "\n");
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

// The polls of a machine go through the URL of one of its spaces. When that
// space is closed to the person, it pauses, and the polls go on through
// another: the spaces it still shares keep syncing.
class TeamAtScaleOverHttps : public TeamAtScale {
 protected:
  TeamAtScaleOverHttps() : TeamAtScale(HasApache() ? "https" : "start") {}
  static bool HasApache() {
    return fs::exists("/usr/sbin/apache2") && fs::exists("/usr/lib/apache2/modules/mod_dav_svn.so");
  }
};

TEST_F(TeamAtScaleOverHttps, ARemovedMemberKeepsSyncingTheOtherSpaces) {
  if (!HasApache()) GTEST_SKIP() << "apache2 and libapache2-mod-svn are not installed";
  ASSERT_NO_FATAL_FAILURE(ShareTwoSpacesAmongThree(20));
  // The polls of Bob's machine go through notes, the first space he syncs.
  const Outcome removed = ann_->Tool("remove-member notes bob");
  ASSERT_EQ(removed.status, 0) << removed.output;
  Write(ann_->Files("notes/after.txt"), "bob no longer reads this\n");
  EXPECT_TRUE(Eventually([&] { return bob_->Log().find("no longer a member of notes") != std::string::npos; }, 10s))
      << bob_->Log();
  Write(ann_->Files("plans/part3/file3.txt"), "still shared with bob\n");
  Arrival("a change in the space bob still shares",
          [&] { return Slurp(bob_->Files("plans/part3/file3.txt")) == "still shared with bob\n"; });
  EXPECT_EQ(bob_->Log().find("no longer a member of plans"), std::string::npos) << bob_->Log();
  EXPECT_TRUE(fs::exists(bob_->Files("notes/first.txt")));
}

}  // namespace
