// The versions held aside while an update runs: a save that lands in a file
// after Subversion found it unchanged, and before the update renamed its
// version over it (or removed it), is kept as a conflict copy; a file
// nobody wrote meanwhile leaves nothing behind.
#include "conflict_keeper.h"
#include "file_stamp.h"
#include "svn_runtime.h"

#include "support/runtime_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

namespace fs = std::filesystem;
using korvane::server::FileClockNow;
using korvane::server::KeptConflict;
using korvane::server::LocalVersions;

std::string Slurp(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Writes into the file itself, as a program saving in place does.
void WriteInPlace(const std::string& file, const std::string& text) { std::ofstream(file, std::ios::binary) << text; }

// What an update does to a file it found unchanged: its version is renamed
// over the name, or the name is removed.
void Install(const std::string& file, const std::string& incoming) {
  WriteInPlace(file + ".incoming", incoming);
  fs::rename(file + ".incoming", file);
}

class LocalVersionsTest : public ::testing::Test {
 protected:
  // Files are compared by Subversion's reader, as in the daemon.
  static void SetUpTestSuite() {
    std::string problem;
    ASSERT_TRUE(korvane::server::StartSubversion(problem)) << problem;
  }
  static void TearDownTestSuite() { korvane::server::EndSubversion(); }
};

TEST_F(LocalVersionsTest, ASaveLandingWhileAnUpdateReplacesAFileIsKeptBesideIt) {
  struct Case {
    const char* name;
    bool writtenBeforeHold;         // after the update began, before Subversion named the file
    const char* writtenAfterHold;   // in place, before the update's version arrives; nullptr: none
    const char* incoming;           // the update's version; nullptr: the file is deleted
    const char* kept;               // the conflict copy's content; nullptr: none
  };
  const std::vector<Case> cases = {
      {"untouched and replaced", false, nullptr, "theirs\n", nullptr},
      {"untouched and deleted", false, nullptr, nullptr, nullptr},
      {"saved in place, then replaced", false, "saved meanwhile\n", "theirs\n", "saved meanwhile\n"},
      {"saved in place, then deleted", false, "saved meanwhile\n", nullptr, "saved meanwhile\n"},
      {"saved just before it was held, then replaced", true, nullptr, "theirs\n", "saved early\n"},
      {"saved in place with the update's very bytes", false, "theirs\n", "theirs\n", nullptr},
  };
  for (const Case& row : cases) {
    SCOPED_TRACE(row.name);
    korvane::testing::ScopedRuntimeFolder scoped;
    const std::string folder = scoped.Path(), file = folder + "/plan.txt";
    fs::create_directories(folder + "/.svn/tmp");
    WriteInPlace(file, "before\n");
    const std::int64_t since = FileClockNow() + (row.writtenBeforeHold ? 0 : 1'000'000'000);
    if (row.writtenBeforeHold) WriteInPlace(file, "saved early\n");
    std::vector<KeptConflict> kept;
    {
      LocalVersions local(folder);
      local.Hold(file);
      local.Hold(folder);  // a folder is not held
      EXPECT_TRUE(local.HeldVersion(folder).empty());
      if (row.writtenAfterHold != nullptr) WriteInPlace(file, row.writtenAfterHold);
      if (row.incoming != nullptr) {
        Install(file, row.incoming);
      } else {
        fs::remove(file);
      }
      ASSERT_EQ(local.KeepWrittenDuring(since, "ann on vm", kept), nullptr);
    }
    ASSERT_EQ(kept.size(), row.kept != nullptr ? 1u : 0u);
    if (row.kept != nullptr) {
      EXPECT_EQ(kept[0].path, file);
      EXPECT_EQ(Slurp(kept[0].kept), row.kept);
      EXPECT_NE(kept[0].kept.find(" (conflict, ann on vm, "), std::string::npos) << kept[0].kept;
    }
    if (row.incoming != nullptr) {
      EXPECT_EQ(Slurp(file), row.incoming);
    }
    // What was held aside goes with the holder.
    EXPECT_TRUE(fs::is_empty(folder + "/.svn/tmp"));
  }
}

}  // namespace
