// The embedded hosting service through the library: spaces, users and
// members, sharing a folder in place, and automatic commits.
#include "reference_daemon.h"

#include "link/daemon_link.h"
#include "korvane/korvane.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

namespace korvane::reference {
namespace {

namespace fs = std::filesystem;

using Outputs = std::array<std::string, 3>;

template <typename... Arguments>
Outputs Ask(int32_t (*command)(Arguments...), std::initializer_list<std::string> texts) {
  std::vector<std::u16string> wide;
  for (const std::string& text : texts) wide.push_back(Wide(text));
  char* out[3] = {};
  int32_t answered = 0;
  if constexpr (sizeof...(Arguments) == 5) {
    answered = command(wide[0].c_str(), wide[1].c_str(), &out[0], &out[1], &out[2]);
  } else if constexpr (sizeof...(Arguments) == 6) {
    answered = command(wide[0].c_str(), wide[1].c_str(), wide[2].c_str(), &out[0], &out[1], &out[2]);
  } else {
    answered = command(wide[0].c_str(), wide[1].c_str(), wide[2].c_str(), wide[3].c_str(), &out[0], &out[1], &out[2]);
  }
  EXPECT_EQ(answered, 1);
  return {Take(out[0]), Take(out[1]), Take(out[2])};
}

class Hosting : public ReferenceDaemonTest {
 protected:
  void SetUp() override { daemon_ = StartServing(); }

  std::string SpaceUrl(const std::string& name) const { return "file://" + SpacesFolder() + "/" + name; }
  Outputs Create(const std::string& name, const std::string& owner = "") {
    return Ask(Korvane_CreateSpace, {name, "a space", owner, ""});
  }

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

  std::unique_ptr<DaemonProcess> daemon_;
};

TEST_F(Hosting, SpacesAreRepositoriesThatCanBeListedAndShown) {
  EXPECT_EQ(Create("alpha", "ann"), (Outputs{SpaceUrl("alpha"), "created", ""}));
  EXPECT_EQ(Create("beta"), (Outputs{SpaceUrl("beta"), "created", ""}));
  EXPECT_NE(SpaceUrl("alpha").find("svn.halcyra.com/svn/"), std::string::npos);
  EXPECT_TRUE(fs::is_regular_file(SpacesFolder() + "/alpha/format"));

  EXPECT_EQ(Ask(Korvane_ListSpaces, {"", ""}), (Outputs{"2", "alpha\nbeta\n", ""}));
  EXPECT_EQ(Ask(Korvane_ListSpaces, {"ALP", ""}), (Outputs{"1", "alpha\n", ""}));
  EXPECT_EQ(Ask(Korvane_ShowSpace, {"alpha", "", ""}), (Outputs{SpaceUrl("alpha"), "ann\towner\n", "0"}));
}

TEST_F(Hosting, InvitedUsersBecomeMembersAndCanBeFound) {
  ASSERT_EQ(Create("team", "ann")[1], "created");
  EXPECT_EQ(Ask(Korvane_Invite, {"team", "bob", "", ""}), (Outputs{"invited", "team", "bob"}));
  EXPECT_EQ(Ask(Korvane_Invite, {"team", "Carla", "reader", ""}), (Outputs{"invited", "team", "Carla"}));
  EXPECT_EQ(Ask(Korvane_ShowSpace, {"team", "", ""})[1], "Carla\treader\nann\towner\nbob\tmember\n");
  EXPECT_EQ(Ask(Korvane_FindUsers, {"", ""}), (Outputs{"3", "Carla\nann\nbob\n", ""}));
  EXPECT_EQ(Ask(Korvane_FindUsers, {"c", ""}), (Outputs{"1", "Carla\n", ""}));
}

struct RefusalCase {
  const char* name;
  std::function<Outputs()> run;
  const char* key;
};

// Which names are allowed is the rule of names' own test; here, that each
// way a name enters is checked and what a refusal hands out.
TEST_F(Hosting, RefusalsLeaveTheFirstOutputEmptyAndNameTheKey) {
  ASSERT_EQ(Create("taken")[1], "created");
  const RefusalCase cases[] = {
      {"existing space", [&] { return Create("taken"); }, "ALREADY_EXISTS"},
      {"name with a slash", [&] { return Create("a/b"); }, "BAD_ARGUMENTS"},
      {"existing space in other case", [&] { return Create("TAKEN"); }, "ALREADY_EXISTS"},
      {"owner named like a group", [&] { return Create("fine", "@nobody"); }, "BAD_ARGUMENTS"},
      {"invitee named like a section", [] { return Ask(Korvane_Invite, {"taken", "[x:/] y", "", ""}); },
       "BAD_ARGUMENTS"},
      {"invitee given no known role", [] { return Ask(Korvane_Invite, {"taken", "bob", "admin", ""}); },
       "BAD_ARGUMENTS"},
      {"unknown space shown", [] { return Ask(Korvane_ShowSpace, {"nothing", "", ""}); }, "NOT_FOUND"},
      {"invitation to an unknown space", [] { return Ask(Korvane_Invite, {"nothing", "bob", "", ""}); }, "NOT_FOUND"},
  };
  for (const RefusalCase& c : cases) {
    const Outputs outputs = c.run();
    EXPECT_EQ(outputs[0], "") << c.name;
    EXPECT_EQ(outputs[1], c.key) << c.name;
    EXPECT_FALSE(outputs[2].empty()) << c.name;
  }
  EXPECT_EQ(Ask(Korvane_ListSpaces, {"", ""}), (Outputs{"1", "taken\n", ""}));
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
  EXPECT_EQ(Ask(Korvane_ListSpaces, {"", ""}), (Outputs{"2", "Project\nProject 2\n", ""}));
  EXPECT_EQ(Korvane_IsVersioned(Wide(first + "/sub/notes.txt").c_str()), 1);
  EXPECT_EQ(Korvane_IsVersioned(Wide(second + "/plan.txt").c_str()), 1);
  EXPECT_EQ(Status(first), "1|" + SpaceUrl("Project") + "|" + first + "|" + first + "|");
  EXPECT_EQ(Status(second), "1|" + SpaceUrl("Project%202") + "|" + second + "|" + second + "|");
  EXPECT_EQ(Ask(Korvane_ShowSpace, {"Project", "", ""})[2], "1");
  EXPECT_EQ(std::ifstream(first + "/sub/notes.txt").get(), 'n');

  // A share of a folder that is shared already, lies inside one or holds
  // one does nothing and says so in the log.
  const struct {
    std::string folder;
    std::string logged;
  } ignored[] = {
      {first, "ignored, already in a working copy of " + SpaceUrl("Project")},
      {first + "/sub", "ignored, already in a working copy of " + SpaceUrl("Project")},
      {Folder("one"), "ignored, it holds the working copy " + first + ", shared already"},
      {fs::path(Folder("one")).parent_path().string(), "ignored, it holds the working copy "},
  };
  for (const auto& each : ignored) {
    ASSERT_TRUE(link.ShareFolder(Wide(each.folder)));
    const std::string expected = "shareFolder " + each.folder + ": " + each.logged;
    EXPECT_TRUE(Eventually([&] { return ReadAll(StateFile("daemon.log")).find(expected) != std::string::npos; }))
        << expected;
  }
  EXPECT_EQ(Ask(Korvane_ListSpaces, {"", ""}), (Outputs{"2", "Project\nProject 2\n", ""}));
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
  EXPECT_EQ(Ask(Korvane_ListSpaces, {"", ""}), (Outputs{"0", "", ""}));
  EXPECT_EQ(Activations(), "");
}

TEST_F(Hosting, CheckoutFromTheServiceTakesTheSpaceNamedAfterTheFolder) {
  ASSERT_EQ(Create("docs")[1], "created");
  const std::string folder = TemporaryFolder() + "/docs";
  link::CDaemonLink link(nullptr);
  ASSERT_TRUE(link.CheckoutFromService(Wide(folder)));
  // The working copy is known once the checkout has recorded where it comes from.
  const std::string expected = "0|" + SpaceUrl("docs") + "||" + folder + "|";
  EXPECT_TRUE(Eventually([&] { return Status(folder) == expected; })) << Status(folder);
  EXPECT_EQ(Korvane_IsVersioned(Wide(folder).c_str()), 1);
}

// A checkout into the daemon's own folders is refused, and its job says so.
TEST_F(Hosting, ACheckoutIntoTheDaemonsOwnFolderEndsItsJobAsNotAllowed) {
  ASSERT_EQ(Create("docs")[1], "created");
  const std::string folder = StateFile("docs");
  link::CDaemonLink link(nullptr);
  ASSERT_TRUE(link.CheckoutFromService(Wide(folder)));
  const nlohmann::json job = EndedJob(folder);
  EXPECT_EQ(job["operation"], "checkoutFromService");
  EXPECT_EQ(job["code"], -11) << job.dump();  // NOT_ALLOWED
  EXPECT_FALSE(fs::exists(folder));
}

// A working copy activated in mode 3 is committed after each change.
TEST_F(Hosting, ChangesInAnAutomaticFolderAreCommitted) {
  ASSERT_EQ(Create("auto")[1], "created");
  const std::string workingCopy = Folder("auto");
  char* verdict = nullptr;
  ASSERT_EQ(Korvane_SvnCheckoutWait(Wide(SpaceUrl("auto")).c_str(), Wide(workingCopy).c_str(), &verdict), 1);
  ASSERT_TRUE(Take(verdict).starts_with("0|"));
  ASSERT_EQ(Korvane_ActivatePath(Wide(workingCopy).c_str(), 3), 1);
  const auto youngest = [&] { return Ask(Korvane_ShowSpace, {"auto", "", ""})[2]; };

  fs::create_directories(workingCopy + "/new");
  std::ofstream(workingCopy + "/new/first.txt") << "first\n";
  const auto log = [&] { return ReadAll(StateFile("daemon.log")); };
  EXPECT_TRUE(Eventually([&] { return youngest() == "1"; })) << log();
  // A change of the same size while the commit may still be finishing in
  // the working copy is committed all the same.
  std::ofstream(workingCopy + "/new/first.txt") << "third\n";
  EXPECT_TRUE(Eventually([&] { return youngest() == "2"; })) << log();
  EXPECT_EQ(Korvane_IsVersioned(Wide(workingCopy + "/new/first.txt").c_str()), 1);
}

// Past the limit of watches, a folder's changes are found by a scan, and
// the limit is told once however many folders it leaves unwatched.
TEST_F(Hosting, FoldersPastTheWatchLimitAreScannedAndTheLimitToldOnce) {
  ASSERT_EQ(Korvane_StopDaemon(), 1);
  ASSERT_TRUE(daemon_->WaitForExit().has_value());
  ::setenv("KORVANE_WATCH_LIMIT", "2", 1);
  ::setenv("KORVANE_SCAN_PERIOD_MS", "300", 1);
  ::setenv("KORVANE_POLL_PERIOD_MS", "50", 1);
  daemon_ = StartServing();
  for (const char* name : {"KORVANE_WATCH_LIMIT", "KORVANE_SCAN_PERIOD_MS", "KORVANE_POLL_PERIOD_MS"}) ::unsetenv(name);

  ASSERT_EQ(Create("deep")[1], "created");
  const std::string workingCopy = Folder("deep");
  char* verdict = nullptr;
  ASSERT_EQ(Korvane_SvnCheckoutWait(Wide(SpaceUrl("deep")).c_str(), Wide(workingCopy).c_str(), &verdict), 1);
  ASSERT_TRUE(Take(verdict).starts_with("0|"));
  fs::create_directories(workingCopy + "/a/b/c");
  ASSERT_EQ(Korvane_ActivatePath(Wide(workingCopy).c_str(), 3), 1);
  const auto youngest = [&] { return Ask(Korvane_ShowSpace, {"deep", "", ""})[2]; };
  const auto log = [&] { return ReadAll(StateFile("daemon.log")); };
  ASSERT_TRUE(Eventually([&] { return youngest() == "1"; })) << log();
  // The update that follows the daemon's own commit has run by then.
  std::this_thread::sleep_for(500ms);

  // The top and a are watched; b and c are not: only a scan finds this.
  std::ofstream(workingCopy + "/a/b/c/unwatched.txt") << "found by a scan\n";
  EXPECT_TRUE(Eventually([&] { return youngest() == "2"; })) << log();
  EXPECT_EQ(Korvane_IsVersioned(Wide(workingCopy + "/a/b/c/unwatched.txt").c_str()), 1);
  // New folders past the limit are left to the scan without telling again.
  fs::create_directories(workingCopy + "/a/new/deeper");
  std::ofstream(workingCopy + "/a/new/deeper/also.txt") << "also\n";
  EXPECT_TRUE(Eventually([&] { return youngest() == "3"; })) << log();

  const std::string told = "limit of watched folders is reached";
  const std::string text = log();
  const std::size_t first = text.find(told);
  ASSERT_NE(first, std::string::npos) << text;
  EXPECT_EQ(text.find(told, first + 1), std::string::npos) << text;
  EXPECT_NE(text.find("fs.inotify.max_user_watches"), std::string::npos) << text;
  EXPECT_NE(ReadAll(StateFile("jobs")).find(told), std::string::npos) << ReadAll(StateFile("jobs"));
}

}  // namespace
}  // namespace korvane::reference
