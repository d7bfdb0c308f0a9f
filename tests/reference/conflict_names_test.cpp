// The names conflict copies get: they fit the file system, keep the marker
// and the extension, never cut a character in two, and sort in the order
// they were made.
#include "conflict_names.h"
#include "utf8_path.h"
#include "names.h"

#include "support/runtime_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <vector>

namespace {

namespace fs = std::filesystem;
using korvane::server::ConflictName;
using korvane::server::IsConflictCopyName;

constexpr char kWho[] = "ann on vm";
constexpr char kWhen[] = "2026-12-07 10.42";

class ConflictNames : public ::testing::Test {
 protected:
  korvane::testing::ScopedRuntimeFolder scoped_;
  const std::string folder_ = scoped_.Path();
};

TEST_F(ConflictNames, FitKeepTheMarkerAndTheExtensionAndNeverCutACharacter) {
  const std::string e = "\xc3\xa9";  // é, two bytes
  struct Case {
    std::string name;
    bool isFile;
    std::string expected;  // the whole name, or "" where only the rules are checked
    std::string ending;
  };
  const std::vector<Case> cases = {
      {"today.txt", true, "today (conflict, ann on vm, 2026-12-07 10.42).txt", ".txt"},
      {"notes", true, "notes (conflict, ann on vm, 2026-12-07 10.42)", ")"},
      {".profile", true, ".profile (conflict, ann on vm, 2026-12-07 10.42)", ")"},
      {"photos.d", false, "photos.d (conflict, ann on vm, 2026-12-07 10.42)", ")"},
      {std::string(246, 'n') + ".txt", true, "", ".txt"},
      {std::string(255, 'x'), true, "", ")"},
      {[&] { std::string many; while (many.size() < 250) many += e; return many; }() + ".odt", true, "", ".odt"},
      {"archive." + std::string(60, 'z'), true, "", ")"},
  };
  for (const Case& each : cases) {
    const std::string copy = ConflictName(folder_ + "/" + each.name, each.isFile, kWho, kWhen);
    const std::string name = korvane::server::TextOf(korvane::server::PathOf(copy).filename());
    EXPECT_EQ(copy.substr(0, folder_.size() + 1), folder_ + "/") << each.name;
    if (!each.expected.empty()) {
      EXPECT_EQ(name, each.expected);
    }
    EXPECT_LE(name.size(), 255u) << each.name;
    EXPECT_TRUE(korvane::names::IsUtf8(name)) << name;
    EXPECT_NE(name.find(" (conflict, ann on vm, 2026-12-07 10.42)"), std::string::npos) << name;
    EXPECT_EQ(name.substr(name.size() - each.ending.size()), each.ending) << name;
    EXPECT_TRUE(IsConflictCopyName(name)) << name;
  }
}

TEST_F(ConflictNames, NumberedCopiesAreUniqueAndSortInTheOrderMade) {
  const std::string original = std::string(240, 'o') + ".txt";
  std::vector<std::string> made;
  for (int each = 0; each < 12; ++each) {
    made.push_back(ConflictName(folder_ + "/" + original, true, kWho, kWhen));
    std::ofstream(made.back()) << each;
  }
  std::vector<std::string> sorted = made;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(sorted, made);
  EXPECT_EQ(std::unique(sorted.begin(), sorted.end()), sorted.end());
  for (const std::string& copy : made) EXPECT_LE(korvane::server::TextOf(korvane::server::PathOf(copy).filename()).size(), 255u) << copy;
}

TEST(ConflictCopyNames, OlderCopiesAreStillKnown) {
  EXPECT_TRUE(IsConflictCopyName("today (conflict, vm, 2026-12-07 10.42).txt"));
  EXPECT_TRUE(IsConflictCopyName("today (conflict, vm, 2026-12-07 10.42 2).txt"));
  EXPECT_FALSE(IsConflictCopyName("today (draft).txt"));
}

}  // namespace
