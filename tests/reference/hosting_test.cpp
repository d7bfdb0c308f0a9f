// The embedded hosting service through the library: spaces, users and
// members, sharing a folder in place, and automatic commits.
#include "reference_daemon.h"

#include "link/daemon_link.h"
#include "korvane/korvane.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <array>
#include <filesystem>
#include <fstream>
#include <thread>

namespace korvane::reference {
namespace {

namespace fs = std::filesystem;

using Outputs = std::array<std::string, 3>;

// The three outputs of a command given its text arguments.
template <typename... Arguments>
Outputs Ask(int32_t (*command)(Arguments...), const auto&... texts) {
  char* out[3] = {};
  EXPECT_EQ(command(Wide(texts).c_str()..., &out[0], &out[1], &out[2]), 1);
  return {Take(out[0]), Take(out[1]), Take(out[2])};
}

class Hosting : public ServingDaemonTest {
 protected:
  std::string SpaceUrl(const std::string& name) const { return "file://" + SpacesFolder() + "/" + name; }
  Outputs Create(const std::string& name, const std::string& owner = "") {
    return Ask(Korvane_CreateSpace, name, "a space", owner, "");
  }
  // A working copy of a new space, with the folders given made in it, then
  // activated in mode 3: each change in it is committed.
  std::string AutomaticWorkingCopy(const std::string& name, const std::string& folders = "") {
    EXPECT_EQ(Create(name)[1], "created");
    const std::string workingCopy = Folder(name);
    char* verdict = nullptr;
    EXPECT_EQ(Korvane_SvnCheckoutWait(Wide(SpaceUrl(name)).c_str(), Wide(workingCopy).c_str(), &verdict), 1);
    EXPECT_TRUE(Take(verdict).starts_with("0|"));
    if (!folders.empty()) fs::create_directories(workingCopy + "/" + folders);
    EXPECT_EQ(Korvane_ActivatePath(Wide(workingCopy).c_str(), 3), 1);
    return workingCopy;
  }
  std::string Youngest(const std::string& space) { return Ask(Korvane_ShowSpace, space, "", "")[2]; }
  std::string Log() const { return ReadAll(StateFile("daemon.log")); }

  // The job on folder once it has ended.
  nlohmann::json EndedJob(const std::string& folder) const {
    nlohmann::json job;
    EXPECT_TRUE(Eventually([&] {
      const nlohmann::json board = nlohmann::json::parse(ReadAll(StateFile("jobs")), nullptr, false);
      if (board.is_discarded()) return false;
      for (const nlohmann::json& each : board["jobs"]) {
        if (each["folder"] == folder) job = each;
      }
      return !job.is_null() && job["state"] != "running";
    })) << folder;
    return job;
  }
};

TEST_F(Hosting, SpacesAreRepositoriesWithMembers) {
  EXPECT_EQ(Create("alpha", "ann"), (Outputs{SpaceUrl("alpha"), "created", ""}));
  EXPECT_EQ(Create("beta"), (Outputs{SpaceUrl("beta"), "created", ""}));
  EXPECT_TRUE(fs::is_regular_file(SpacesFolder() + "/alpha/format"));

  EXPECT_EQ(Ask(Korvane_ListSpaces, "", ""), (Outputs{"2", "alpha\nbeta\n", ""}));
  EXPECT_EQ(Ask(Korvane_ListSpaces, "ALP", ""), (Outputs{"1", "alpha\n", ""}));
  EXPECT_EQ(Ask(Korvane_ShowSpace, "alpha", "", ""), (Outputs{SpaceUrl("alpha"), "ann\towner\n", "0"}));

  // Invited users become members and can be found.
  EXPECT_EQ(Ask(Korvane_Invite, "alpha", "bob", "", ""), (Outputs{"invited", "alpha", "bob"}));
  EXPECT_EQ(Ask(Korvane_Invite, "alpha", "Carla", "reader", ""), (Outputs{"invited", "alpha", "Carla"}));
  EXPECT_EQ(Ask(Korvane_ShowSpace, "alpha", "", "")[1], "Carla\treader\nann\towner\nbob\tmember\n");
  EXPECT_EQ(Ask(Korvane_FindUsers, "", ""), (Outputs{"3", "Carla\nann\nbob\n", ""}));
  EXPECT_EQ(Ask(Korvane_FindUsers, "c", ""), (Outputs{"1", "Carla\n", ""}));
}

// Which names are allowed is the rule of names' own test; here, that each
// way a name enters is checked and what a refusal hands out.
TEST_F(Hosting, RefusalsLeaveTheFirstOutputEmptyAndNameTheKey) {
  ASSERT_EQ(Create("taken")[1], "created");
  // Each refusal with the key it must name; the list is made in order.
  const std::pair<Outputs, std::string> cases[] = {
      {Create("taken"), "ALREADY_EXISTS"},
      {Create("a/b"), "BAD_ARGUMENTS"},
      {Create("TAKEN"), "ALREADY_EXISTS"},  // the same name in other case
      {Create("fine", "@nobody"), "BAD_ARGUMENTS"},  // an owner named like a group
      {Ask(Korvane_Invite, "taken", "[x:/] y", "", ""), "BAD_ARGUMENTS"},  // an invitee named like a section
      {Ask(Korvane_Invite, "taken", "bob", "admin", ""), "BAD_ARGUMENTS"},  // no known role
      {Ask(Korvane_ShowSpace, "nothing", "", ""), "NOT_FOUND"},
      {Ask(Korvane_Invite, "nothing", "bob", "", ""), "NOT_FOUND"},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const auto& [outputs, key] = cases[i];
    EXPECT_EQ(outputs, (Outputs{"", key, outputs[2]})) << i;
    EXPECT_FALSE(outputs[2].empty()) << i;
  }
  EXPECT_EQ(Ask(Korvane_ListSpaces, "", ""), (Outputs{"1", "taken\n", ""}));
}

// Two folders of the same name give two spaces; each folder becomes a
// working copy of its own space, its files versioned in place.
TEST_F(Hosting, SharedFoldersBecomeWorkingCopiesOfNewSpaces) {
  const std::string first = Folder("one/Project");
  const std::string second = Folder("two/Project");
  fs::create_directories(first + "/sub");
  std::ofstream(first + "/sub/notes.txt") << "notes\n";
  std::ofstream(second + "/plan.txt") << "plan\n";
  link::CDaemonLink link(nullptr);
  for (const std::string& folder : {first, second}) {
    ASSERT_TRUE(link.ShareFolder(Wide(folder)));
    ASSERT_TRUE(Eventually([&] { return Activations().find(folder) != std::string::npos; })) << folder;
  }
  EXPECT_EQ(Activations(), "1|" + first + "\n1|" + second + "\n");
  EXPECT_EQ(Ask(Korvane_ListSpaces, "", ""), (Outputs{"2", "Project\nProject 2\n", ""}));
  EXPECT_EQ(Korvane_IsVersioned(Wide(first + "/sub/notes.txt").c_str()), 1);
  EXPECT_EQ(Korvane_IsVersioned(Wide(second + "/plan.txt").c_str()), 1);
  EXPECT_EQ(Status(first), "1|" + SpaceUrl("Project") + "|" + first + "|" + first + "|");
  EXPECT_EQ(Status(second), "1|" + SpaceUrl("Project%202") + "|" + second + "|" + second + "|");
  EXPECT_EQ(Ask(Korvane_ShowSpace, "Project", "", "")[2], "1");
  EXPECT_EQ(std::ifstream(first + "/sub/notes.txt").get(), 'n');

  // A share of a folder that is shared already, lies inside one or holds
  // one does nothing and says so in the log.
  const std::pair<std::string, std::string> ignored[] = {
      {first, "ignored, already in a working copy of " + SpaceUrl("Project")},
      {first + "/sub", "ignored, already in a working copy of " + SpaceUrl("Project")},
      {Folder("one"), "ignored, it holds the working copy " + first + ", shared already"},
      {fs::path(Folder("one")).parent_path().string(), "ignored, it holds the working copy "},
  };
  for (const auto& [folder, logged] : ignored) {
    ASSERT_TRUE(link.ShareFolder(Wide(folder)));
    const std::string expected = "shareFolder " + folder + ": " + logged;
    EXPECT_TRUE(Eventually([&] { return Log().find(expected) != std::string::npos; })) << expected;
  }
  EXPECT_EQ(Ask(Korvane_ListSpaces, "", ""), (Outputs{"2", "Project\nProject 2\n", ""}));
  EXPECT_EQ(Activations(), "1|" + first + "\n1|" + second + "\n");
  EXPECT_FALSE(fs::exists(Folder("one") + "/.svn"));
}

// A folder whose name cannot name a space is left as it was, and its job
// says why, on the embedded service as on a team's.
TEST_F(Hosting, AFolderNamedAgainstTheRuleOfNamesIsNotShared) {
  for (const std::string name : {"notes.", "CON", " lead"}) {
    const std::string folder = Folder(name);
    ASSERT_TRUE(link::CDaemonLink(nullptr).ShareFolder(Wide(folder)));
    const nlohmann::json job = EndedJob(folder);
    EXPECT_EQ(job["code"], -2) << job.dump();  // BAD_ARGUMENTS
    EXPECT_NE(job["message"].get<std::string>().find("rename the folder to share it"), std::string::npos) << job.dump();
    EXPECT_FALSE(fs::exists(folder + "/.svn")) << name;
  }
  EXPECT_EQ(Ask(Korvane_ListSpaces, "", ""), (Outputs{"0", "", ""}));
  EXPECT_EQ(Activations(), "");
}

// A checkout from the service takes the space named after the folder; one
// into the daemon's own folders is refused, and its job says so.
TEST_F(Hosting, CheckoutFromTheServiceTakesTheSpaceNamedAfterTheFolder) {
  ASSERT_EQ(Create("docs")[1], "created");
  const std::string folder = TemporaryFolder() + "/docs";
  const std::string own = StateFile("docs");
  link::CDaemonLink link(nullptr);
  ASSERT_TRUE(link.CheckoutFromService(Wide(folder)));
  ASSERT_TRUE(link.CheckoutFromService(Wide(own)));
  // The working copy is known once the checkout has recorded where it comes from.
  const std::string expected = "0|" + SpaceUrl("docs") + "||" + folder + "|";
  EXPECT_TRUE(Eventually([&] { return Status(folder) == expected; })) << Status(folder);
  EXPECT_EQ(Korvane_IsVersioned(Wide(folder).c_str()), 1);

  const nlohmann::json job = EndedJob(own);
  EXPECT_EQ(job["operation"], "checkoutFromService");
  EXPECT_EQ(job["code"], -11) << job.dump();  // NOT_ALLOWED
  EXPECT_FALSE(fs::exists(own));
}

// A working copy activated in mode 3 is committed after each change.
TEST_F(Hosting, ChangesInAnAutomaticFolderAreCommitted) {
  const std::string workingCopy = AutomaticWorkingCopy("auto");
  fs::create_directories(workingCopy + "/new");
  std::ofstream(workingCopy + "/new/first.txt") << "first\n";
  EXPECT_TRUE(Eventually([&] { return Youngest("auto") == "1"; })) << Log();
  // A change of the same size while the commit may still be finishing in
  // the working copy is committed all the same.
  std::ofstream(workingCopy + "/new/first.txt") << "third\n";
  EXPECT_TRUE(Eventually([&] { return Youngest("auto") == "2"; })) << Log();
  EXPECT_EQ(Korvane_IsVersioned(Wide(workingCopy + "/new/first.txt").c_str()), 1);
}

// Past the limit of watches, a folder's changes are found by a scan, and
// the limit is told once however many folders it leaves unwatched.
TEST_F(Hosting, FoldersPastTheWatchLimitAreScannedAndTheLimitToldOnce) {
  ASSERT_EQ(Korvane_StopDaemon(), 1);
  ASSERT_TRUE(daemon_->WaitForExit().has_value());
  daemon_ = StartServing({"KORVANE_WATCH_LIMIT=2", "KORVANE_SCAN_PERIOD_MS=300", "KORVANE_POLL_PERIOD_MS=50"});

  const std::string workingCopy = AutomaticWorkingCopy("deep", "a/b/c");
  ASSERT_TRUE(Eventually([&] { return Youngest("deep") == "1"; })) << Log();
  // The update that follows the daemon's own commit has run by then.
  std::this_thread::sleep_for(500ms);

  // The top and a are watched; b and c are not: only a scan finds this.
  std::ofstream(workingCopy + "/a/b/c/unwatched.txt") << "found by a scan\n";
  EXPECT_TRUE(Eventually([&] { return Youngest("deep") == "2"; })) << Log();
  EXPECT_EQ(Korvane_IsVersioned(Wide(workingCopy + "/a/b/c/unwatched.txt").c_str()), 1);
  // New folders past the limit are left to the scan without telling again.
  fs::create_directories(workingCopy + "/a/new/deeper");
  std::ofstream(workingCopy + "/a/new/deeper/also.txt") << "also\n";
  EXPECT_TRUE(Eventually([&] { return Youngest("deep") == "3"; })) << Log();

  const std::string told = "limit of watched folders is reached";
  const std::string text = Log();
  const std::size_t first = text.find(told);
  ASSERT_NE(first, std::string::npos) << text;
  EXPECT_EQ(text.find(told, first + 1), std::string::npos) << text;
  EXPECT_NE(text.find("fs.inotify.max_user_watches"), std::string::npos) << text;
  EXPECT_NE(ReadAll(StateFile("jobs")).find(told), std::string::npos) << ReadAll(StateFile("jobs"));
}

}  // namespace
}  // namespace korvane::reference
