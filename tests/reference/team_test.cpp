// Two machines of a team (team_harness.h): changes arriving, what the server
// lets each person do, conflicts, and what a refused credential does.
#include "notification_stand_in.h"
#include "team_harness.h"

#include <gtest/gtest.h>

#include <optional>
#include <regex>

namespace {

using namespace korvane::team;

TEST_F(Team, ChangesOnEitherSideArriveOnTheOtherWithinSeconds) {
  ASSERT_NO_FATAL_FAILURE(ShareBetweenAnnAndBob());
  const std::string a = ann_->Files("plans"), b = bob_->Files("plans");
  Write(a + "/new.txt", "made by ann\n");
  Arrival("a file created by ann", [&] { return ReadAll(b + "/new.txt") == "made by ann\n"; });
  Write(b + "/new.txt", "changed by bob\n");
  Arrival("a change by bob", [&] { return ReadAll(a + "/new.txt") == "changed by bob\n"; });
  fs::rename(a + "/new.txt", a + "/renamed.txt");
  Arrival("a rename by ann", [&] { return fs::exists(b + "/renamed.txt") && !fs::exists(b + "/new.txt"); });
  fs::remove(b + "/renamed.txt");
  Arrival("a delete by bob", [&] { return !fs::exists(a + "/renamed.txt"); });
  Write(b + "/deep/folder/notes.md", "bob's notes\n");
  Arrival("a new folder by bob", [&] { return ReadAll(a + "/deep/folder/notes.md") == "bob's notes\n"; });

  // Files the daemon writes into a person's folder carry the person's umask.
  struct stat status {};
  ASSERT_EQ(stat((b + "/today.txt").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0044, 0044 & ~static_cast<unsigned>(umask(umask(0))));
}

TEST_F(Team, TheServerEnforcesWhoMayReadAndInvite) {
  ASSERT_NO_FATAL_FAILURE(ShareBetweenAnnAndBob());
  Machine carl(top_, "carl", "carl-secret", *server_);
  const Outcome shown = carl.Tool("show-space plans");
  EXPECT_NE(shown.status, 0) << shown.output;
  // A space one is not in answers as one that does not exist.
  const Outcome none = carl.Tool("show-space nosuch");
  EXPECT_EQ(std::regex_replace(shown.output, std::regex("plans"), "NAME"),
            std::regex_replace(none.output, std::regex("nosuch"), "NAME"));
  EXPECT_EQ(carl.Tool("list-spaces").output.find("plans"), std::string::npos);
  // The hook's refusal reaches the person in its own words.
  const Outcome byBob = bob_->Tool("invite plans carl");
  EXPECT_NE(byBob.status, 0) << byBob.output;
  EXPECT_NE(byBob.output.find("bob is not the owner of the space plans"), std::string::npos) << byBob.output;
  EXPECT_NE(bob_->Tool("show-space plans").output.find("bob"), std::string::npos);
  // Users and spaces are found from any machine.
  EXPECT_NE(carl.Tool("find-users").output.find("ann"), std::string::npos);
  EXPECT_EQ(carl.Tool("create-space own 'carl alone' carl").status, 0);
  EXPECT_NE(carl.Tool("list-spaces").output.find("own"), std::string::npos);
}

// The short name of this computer, as a conflict copy's name carries it.
std::string HostName() {
  char name[256] = {};
  gethostname(name, sizeof name - 1);
  const std::string host = name;
  return host.substr(0, host.find('.'));
}

// The entries of folder named "STEM (conflict, PERSON on HOST, YYYY-MM-DD
// HH.MM).EXT" or the older "STEM (conflict, HOST, ...)" (a number may
// follow the time when the name was taken).
std::vector<std::string> ConflictCopies(const std::string& folder, const std::string& name) {
  const std::size_t dot = name.rfind('.');
  const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
  const std::string extension = dot == std::string::npos ? "" : name.substr(dot);
  const auto escaped = [](const std::string& text) {
    return std::regex_replace(text, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
  };
  const std::regex pattern(escaped(stem) + R"( \(conflict, (\S+ on )?)" + escaped(HostName()) +
                           R"(, \d{4}-\d{2}-\d{2} \d{2}\.\d{2}( \d+|, \d{3})?\))" + escaped(extension));
  std::vector<std::string> copies;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
    if (std::regex_match(entry.path().filename().string(), pattern)) copies.push_back(entry.path().string());
  }
  return copies;
}

// Each case changes one path on both sides while Bob's daemon is off, so
// that his return meets a conflict. Afterwards, on both machines, Ann's
// version (the other side's, for Bob) holds the name, or the name is gone
// when she deleted it; Bob's version is kept beside it as the conflict copy,
// or there is none when he deleted it; no conflict is left and sync goes on.
// Each side's desktop, a stand-in notification service on a private bus of
// its own, hears of a kept conflict exactly once, by the file's name.
TEST_F(Team, ConflictsKeepBothVersionsAndSyncGoesOn) {
  korvane::stand_in::PrivateBus annBus, bobBus;
  std::optional<korvane::stand_in::StandInService> annDesktop, bobDesktop;
  if (annBus.Up() && bobBus.Up()) {
    annDesktop.emplace(annBus.Address());
    bobDesktop.emplace(bobBus.Address());
    ASSERT_TRUE(annDesktop->Owns() && bobDesktop->Owns());
    for (auto [machine, bus] : {std::pair{ann_.get(), &annBus}, std::pair{bob_.get(), &bobBus}}) {
      ASSERT_NO_FATAL_FAILURE(machine->Restart({"DBUS_SESSION_BUS_ADDRESS=" + bus->Address()}));
    }
  }
  ASSERT_NO_FATAL_FAILURE(ShareBetweenAnnAndBob());
  const std::string a = ann_->Files("plans"), b = bob_->Files("plans");
  struct Case {
    const char* name;
    std::function<void(const std::string&)> setUp, byAnn, byBob;
    std::string path;       // the path both changed, under the shared folder, as it is afterwards
    std::string holds;      // what path holds afterwards ("" nothing: path is gone)
    std::string copyHolds;  // what the conflict copy beside path holds ("" there is no copy)
    std::string copyFile;   // for a folder's copy, the file in it that holds that
    std::string gone;       // an old folder that is gone afterwards, no copy of it left ("" none)
    bool mayFollow;         // Bob's edit may instead land in path itself, with no copy
  };
  const std::string binaryA("\x00\x01\xff" "ann", 6), binaryB("\x00\x02\xfe" " bob", 7);
  // Edits Subversion would merge: the person sees both versions, not a mix.
  const std::string lines = "one\ntwo\nthree\nfour\nfive\nsix\nseven\neight\nnine\nten\n";
  const std::string linesA = "ONE\n" + lines.substr(4), linesB = lines.substr(0, lines.size() - 4) + "TEN\n";
  const std::vector<Case> cases = {
      {"edit against edit", [](auto& f) { Write(f + "/agenda.txt", "base\n"); },
       [](auto& f) { Write(f + "/agenda.txt", "ann's agenda\n"); },
       [](auto& f) { Write(f + "/agenda.txt", "bob's agenda\n"); }, "agenda.txt", "ann's agenda\n", "bob's agenda\n",
       "", "", false},
      {"edits that do not overlap", [&](auto& f) { Write(f + "/lines.txt", lines); },
       [&](auto& f) { Write(f + "/lines.txt", linesA); }, [&](auto& f) { Write(f + "/lines.txt", linesB); },
       "lines.txt", linesA, linesB, "", "", false},
      {"binary edit against edit", [](auto& f) { Write(f + "/image.bin", std::string("\x00" "base", 5)); },
       [&](auto& f) { Write(f + "/image.bin", binaryA); }, [&](auto& f) { Write(f + "/image.bin", binaryB); },
       "image.bin", binaryA, binaryB, "", "", false},
      {"delete against edit", [](auto& f) { Write(f + "/gone.txt", "base\n"); },
       [](auto& f) { fs::remove(f + "/gone.txt"); }, [](auto& f) { Write(f + "/gone.txt", "bob kept editing\n"); },
       "gone.txt", "", "bob kept editing\n", "", "", false},
      {"edit against delete", [](auto& f) { Write(f + "/kept.txt", "base\n"); },
       [](auto& f) { Write(f + "/kept.txt", "ann kept editing\n"); }, [](auto& f) { fs::remove(f + "/kept.txt"); },
       "kept.txt", "ann kept editing\n", "", "", "", false},
      {"two adds of one name", [](auto&) {}, [](auto& f) { Write(f + "/added.txt", "ann added\n"); },
       [](auto& f) { Write(f + "/added.txt", "bob added\n"); }, "added.txt", "ann added\n", "bob added\n", "", "",
       false},
      {"folder renamed against a file changed in it", [](auto& f) { Write(f + "/folder/inside.txt", "base\n"); },
       [](auto& f) { fs::rename(f + "/folder", f + "/moved"); },
       [](auto& f) { Write(f + "/folder/inside.txt", "bob changed inside\n"); }, "moved/inside.txt", "base\n",
       "bob changed inside\n", "", "folder", true},
      {"folder renamed against a file added in it", [](auto& f) { Write(f + "/renamed/old.txt", "renamed base\n"); },
       [](auto& f) { fs::rename(f + "/renamed", f + "/named anew"); },
       [](auto& f) { Write(f + "/renamed/new.txt", "bob's new file\n"); }, "named anew/new.txt",
       "bob's new file\n", "", "", "renamed", false},
      {"folder deleted against a file changed in it",
       [](auto& f) { Write(f + "/dropped/inside.txt", "dropped base\n"); },
       [](auto& f) { fs::remove_all(f + "/dropped"); },
       [](auto& f) { Write(f + "/dropped/inside.txt", "bob changed a dropped file\n"); }, "dropped", "",
       "bob changed a dropped file\n", "inside.txt", "", false},
  };
  for (const Case& each : cases) each.setUp(a);
  ASSERT_TRUE(Eventually([&] {
    return fs::exists(b + "/folder/inside.txt") && fs::exists(b + "/kept.txt") &&
           fs::exists(b + "/renamed/old.txt") && fs::exists(b + "/dropped/inside.txt");
  })) << ann_->Log() << bob_->Log();
  ASSERT_NO_FATAL_FAILURE(WhileBobIsAway([&] { for (const Case& each : cases) each.byAnn(a); },
                                         [&] { for (const Case& each : cases) each.byBob(b); }));

  // Whether folder shows the outcome of one case.
  const auto settled = [](const Case& each, const std::string& folder) {
    const fs::path path = fs::path(folder) / each.path;
    if (!each.gone.empty() &&
        (fs::exists(fs::path(folder) / each.gone) || !ConflictCopies(folder, each.gone).empty())) {
      return false;
    }
    const std::vector<std::string> copies = ConflictCopies(path.parent_path().string(), path.filename().string());
    const bool holds = each.holds.empty() ? !fs::exists(path) : ReadAll(path.string()) == each.holds;
    const bool copied = each.copyHolds.empty()
                            ? copies.empty()
                            : copies.size() == 1 &&
                                  ReadAll(each.copyFile.empty() ? copies.front() : copies.front() + "/" + each.copyFile) ==
                                      each.copyHolds;
    const bool followed = each.mayFollow && copies.empty() && ReadAll(path.string()) == each.copyHolds;
    return (holds && copied) || followed;
  };
  for (const Case& each : cases) {
    for (const std::string& folder : {a, b}) {
      EXPECT_TRUE(Eventually([&] { return settled(each, folder); }, 10s))
          << each.name << " in " << folder << ":\n"
          << Shell("ls -R " + Quoted(folder)).output << "\nbob:\n" << bob_->Log();
    }
  }
  for (auto [machine, folder] : {std::pair{ann_.get(), a}, std::pair{bob_.get(), b}}) {
    EXPECT_TRUE(Eventually([&] {
      const Outcome status = machine->Svn("status " + Quoted(folder));
      return status.status == 0 && status.output.empty();
    }, 10s)) << machine->Svn("status " + Quoted(folder)).output;
  }
  const Outcome listed = ann_->Svn("ls -R " + server_->Url() + "/plans");
  EXPECT_EQ(listed.output.find(".mine"), std::string::npos) << listed.output;
  EXPECT_EQ(listed.output.find(".r"), std::string::npos) << listed.output;
  EXPECT_NE(listed.output.find("(conflict, "), std::string::npos) << listed.output;
  EXPECT_NE(bob_->Jobs().find("conflict on"), std::string::npos) << bob_->Jobs();
  // Ann is told Bob kept his version, and the copy's name says it is his.
  EXPECT_NE(ann_->Jobs().find("the other side kept its version"), std::string::npos) << ann_->Jobs();
  const std::vector<std::string> copies = ConflictCopies(a, "lines.txt");
  EXPECT_TRUE(copies.size() == 1 && copies[0].find("(conflict, bob on ") != std::string::npos) << copies.size();

  // A round trip after the conflicts: each daemon has gone through its
  // updates and commits since; stopped, each sends what it has queued.
  Write(a + "/later.txt", "after the conflicts\n");
  Arrival("a change after the conflicts", [&] { return ReadAll(b + "/later.txt") == "after the conflicts\n"; });
  ann_->Stop();
  bob_->Stop();
  if (!annDesktop) {
    std::cout << "dbus-daemon could not start a private bus: the desktops were not checked\n";
    return;
  }
  for (auto [who, desktop] : {std::pair{"ann", &annDesktop}, std::pair{"bob", &bobDesktop}}) {
    std::vector<korvane::stand_in::Told> aboutAgenda;
    std::string shown;
    for (const korvane::stand_in::Told& told : (*desktop)->Recorded()) {
      if ((told.summary + " " + told.body).find("agenda") != std::string::npos) aboutAgenda.push_back(told);
      shown += told.summary + " | " + told.body + "\n";
    }
    ASSERT_EQ(aboutAgenda.size(), 1u) << who << "'s desktop was told:\n" << shown;
    EXPECT_EQ(aboutAgenda.front().application, "Korvane");
    EXPECT_NE((aboutAgenda.front().summary + " " + aboutAgenda.front().body).find("conflict"), std::string::npos)
        << shown;
  }
}

// Bob's stored password stops being the right one (changed on the server,
// say): his daemon says in its log what to do and asks the server again only
// after the credential wait, not at every poll.
TEST_F(Team, ARefusedCredentialIsLoggedAndNotTriedInALoop) {
  ASSERT_NO_FATAL_FAILURE(ShareBetweenAnnAndBob());
  const std::string b = bob_->Files("plans");
  bob_->Stop();
  bob_->StoreCredential(*server_, "bob", "not-bob-secret");
  ASSERT_NO_FATAL_FAILURE(bob_->Restart({"KORVANE_CREDENTIAL_WAIT_MS=600000"}));
  Write(b + "/refused.txt", "written with a stale password\n");
  const std::string refused = "the server refused the credential, or none is stored: run `korvane login`";
  const auto attempts = [&] {
    std::size_t count = 0;
    const std::string log = bob_->Log();
    for (std::size_t at = log.find(refused); at != std::string::npos; at = log.find(refused, at + 1)) ++count;
    return count;
  };
  ASSERT_TRUE(Eventually([&] { return attempts() > 0; })) << bob_->Log();
  // Polls come every 200 ms and other failures are retried after 200 ms to
  // 1 s, so a loop would log many more over this window.
  std::this_thread::sleep_for(3s);
  EXPECT_EQ(attempts(), 1u) << bob_->Log();
  EXPECT_EQ(ReadAll(b + "/refused.txt"), "written with a stale password\n");
}

// The team over https://, the way beyond one machine: the server's own
// certificate authority trusted through Subversion's servers file, the
// password stored with korvane login, and a member removed by the owner.
class TeamOverHttps : public Team {
 protected:
  TeamOverHttps() : Team(HasApache() ? "https" : "start") {}
};

TEST_F(TeamOverHttps, SyncLoginAndARemovedMemberKeepsHisFilesAndOtherSpaces) {
  if (!HasApache()) GTEST_SKIP() << "apache2 and libapache2-mod-svn are not installed";
  ASSERT_EQ(server_->Url().rfind("https://", 0), 0u);
  ASSERT_NO_FATAL_FAILURE(ShareBetweenAnnAndBob());
  const std::string a = ann_->Files("plans"), b = bob_->Files("plans");
  // (Changes from Ann reach Bob over https below, in the space he keeps.)
  Write(b + "/over-https.txt", "bob over https\n");
  Arrival("a file created by bob over https", [&] { return ReadAll(a + "/over-https.txt") == "bob over https\n"; });

  // login: refused and accepted, stored where svn reads it.
  Machine carl(top_, "carl", "not-the-password", *server_);
  const Outcome refused = carl.Tool("show-space plans");
  EXPECT_NE(refused.output.find("korvane login"), std::string::npos) << refused.output;
  Outcome login = carl.Tool("login", "wrong\n");
  EXPECT_EQ(login.status, 1) << login.output;
  login = carl.Tool("login", "carl-secret\n");
  EXPECT_EQ(login.status, 0) << login.output;
  EXPECT_NE(login.output.find("plain store"), std::string::npos) << login.output;
  EXPECT_EQ(carl.Svn("ls " + server_->Url()).status, 0);
  EXPECT_NE(carl.Tool("find-users").output.find("ann"), std::string::npos);
  EXPECT_NE(carl.Tool("show-space plans").status, 0);  // logged in, still no member

  // An authority nobody listed is refused, with how to trust it.
  fs::remove(carl.Home() + "/svn/servers");
  const Outcome untrusted = carl.Tool("find-users");
  EXPECT_NE(untrusted.status, 0);
  EXPECT_NE(untrusted.output.find("ssl-authority-files"), std::string::npos) << untrusted.output;

  // Bob's polls go through plans, the first of his folders by name: once it
  // is closed to him, they go on through another space, which keeps syncing.
  Write(ann_->Files("projects/first.txt"), "first project\n");
  ASSERT_NO_FATAL_FAILURE(Share("projects", *ann_, {bob_.get()}));

  // Who may remove whom, in the hook's own words.
  const struct {
    Machine* by;
    const char* arguments;
    int status;
    const char* words;
  } removals[] = {
      {ann_.get(), "remove-member plans ann", 1, "keeps at least one owner"},
      {bob_.get(), "remove-member plans ann", 1, "bob is not the owner of the space plans"},
      {ann_.get(), "remove-member plans '@nobody'", 2, "cannot name a user"},
      {ann_.get(), "remove-member plans bob", 0, "Removed bob from plans."},
  };
  for (const auto& each : removals) {
    const Outcome run = each.by->Tool(each.arguments);
    EXPECT_EQ(run.status, each.status) << each.arguments << ": " << run.output;
    EXPECT_NE(run.output.find(each.words), std::string::npos) << each.arguments << ": " << run.output;
  }

  // Bob's daemon says so, pauses, and keeps his files.
  Write(a + "/after.txt", "bob no longer reads this\n");
  const std::string words = "you are no longer a member of plans";
  EXPECT_TRUE(Eventually([&] { return bob_->Log().find(words) != std::string::npos; }, 10s)) << bob_->Log();
  // The board is published a moment after the log is written.
  EXPECT_TRUE(Eventually([&] { return bob_->Jobs().find(words) != std::string::npos; }, 2s)) << bob_->Jobs();
  EXPECT_EQ(ReadAll(b + "/today.txt"), "first words\n");
  EXPECT_FALSE(fs::exists(b + "/after.txt"));
  EXPECT_EQ(bob_->Log().find("credential"), std::string::npos) << bob_->Log();
  Write(ann_->Files("projects/later.txt"), "still shared with bob\n");
  Arrival("a change in the space bob still shares",
          [&] { return ReadAll(bob_->Files("projects/later.txt")) == "still shared with bob\n"; });
  EXPECT_EQ(bob_->Log().find("no longer a member of projects"), std::string::npos) << bob_->Log();
}

}  // namespace

