// The daemon's published background work: what the jobs file holds as work
// begins, advances and ends, and that running work is not begun twice.
#include "job_board.h"

#include "support/runtime_folder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>

namespace korvane::server {
namespace {

class JobBoardFile : public ::testing::Test {
 protected:
  // The jobs the file holds once the board has published what it has.
  nlohmann::json Published(JobBoard& board) const {
    board.Flush();
    return nlohmann::json::parse(std::ifstream(File()))["jobs"];
  }
  std::string File() const { return folder_.Path() + "/jobs"; }
  // Each field of expected is in job as it is there.
  static void ExpectFields(nlohmann::json job, const nlohmann::json& expected) {
    for (const auto& [key, value] : expected.items()) EXPECT_EQ(job[key], value) << key;
  }

  testing::ScopedRuntimeFolder folder_;
};

TEST_F(JobBoardFile, PublishesEachJobFromBeginToEnd) {
  JobBoard board(File());
  EXPECT_EQ(Published(board), nlohmann::json::array());
  const std::optional<JobBoard::Id> id = board.Begin("shareFolder", "/home/a/site");
  ASSERT_TRUE(id);
  board.Stage(*id, "importing", 2, 300);
  board.Advance(*id, 100);
  board.Advance(*id, 200);
  board.Stage(*id, "checking out", 2, 300);  // published: a new stage always is
  ExpectFields(Published(board)[0], {{"state", "running"}, {"stage", "checking out"}, {"filesDone", 0},
                                     {"bytesTotal", 300}, {"ended", nullptr}, {"code", nullptr}});
  board.End(*id, -4, "gone");
  board.End(*id, 0, "a second end is ignored");
  const nlohmann::json job = Published(board)[0];
  ExpectFields(job, {{"state", "failed"}, {"code", -4}, {"message", "gone"}});
  EXPECT_TRUE(job["ended"].is_string());
  EXPECT_FALSE(std::filesystem::exists(File() + ".new"));
}

TEST_F(JobBoardFile, RunningWorkOnAFolderIsNotBegunTwice) {
  JobBoard board(File());
  const std::optional<JobBoard::Id> first = board.Begin("shareFolder", "/a");
  ASSERT_TRUE(first);
  EXPECT_FALSE(board.Begin("shareFolder", "/a"));
  EXPECT_TRUE(board.Begin("shareFolder", "/b"));
  EXPECT_TRUE(board.Begin("checkout", "/a"));
  board.End(*first, 0, "shared");
  EXPECT_TRUE(board.Begin("shareFolder", "/a"));
  EXPECT_EQ(Published(board).size(), 4u);
}

TEST_F(JobBoardFile, KeepsRunningWorkAndTheLastEndedAcrossRestarts) {
  JobBoard::Id last = 0;
  {
    JobBoard board(File());
    const std::optional<JobBoard::Id> running = board.Begin("checkout", "/running");
    for (std::size_t i = 0; i < JobBoard::kKeptEnded + 5; ++i) {
      board.Record("activatePath1", "/f" + std::to_string(i), 0, "activated in mode 1");
    }
    const nlohmann::json jobs = Published(board);
    EXPECT_EQ(jobs.size(), JobBoard::kKeptEnded + 1);
    EXPECT_EQ(jobs[0]["id"], *running);
    last = jobs.back()["id"].get<JobBoard::Id>();
  }
  // A new daemon takes the board over: the ended work stays, the work left
  // running ends as cancelled, and the numbering goes on, restart after
  // restart, even once every earlier piece has gone from the board.
  for (int restart = 0; restart < 2; ++restart) {
    SCOPED_TRACE(restart);
    JobBoard board(File());
    const nlohmann::json jobs = Published(board);
    ASSERT_EQ(jobs.size(), JobBoard::kKeptEnded + 1);
    ExpectFields(jobs[0], {{"operation", "checkout"}, {"state", "failed"}, {"code", -9}});
    EXPECT_EQ(jobs.back()["id"].get<JobBoard::Id>(), restart == 0 ? last : last - 1);
    const JobBoard::Id next = board.Begin("checkout", "/x").value_or(0);
    EXPECT_GT(next, last);
    last = next;
    board.End(next, 0, "checked out");
    board.Flush();
    nlohmann::json trimmed = nlohmann::json::parse(std::ifstream(File()));
    trimmed["jobs"].erase(trimmed["jobs"].size() - 1);  // the newest gone: nextId still knows it
    std::ofstream(File()) << trimmed.dump();
  }
}

TEST_F(JobBoardFile, FrequentWorkNeverPushesOutTheRare) {
  JobBoard board(File());
  board.Record("shareFolder", "/site", 0, "shared as the space site");
  for (std::size_t i = 0; i < JobBoard::kKeptEnded * 3; ++i) {
    board.Record("automaticCommit", "/site", 0, "committed as revision " + std::to_string(i + 2));
  }
  const nlohmann::json jobs = Published(board);
  ASSERT_EQ(jobs.size(), JobBoard::kKeptEnded + 1);
  EXPECT_EQ(jobs[0]["operation"], "shareFolder");
  EXPECT_EQ(jobs.back()["message"], "committed as revision " + std::to_string(JobBoard::kKeptEnded * 3 + 1));
}

TEST_F(JobBoardFile, ABoardThatDoesNotParseStartsAfresh) {
  for (const char* text : {"", "{", "[]", R"({"jobs": 5})", R"({"jobs": [{"id": "x"}, 7, {"id": 3}]})"}) {
    SCOPED_TRACE(text);
    std::ofstream(File()) << text;
    JobBoard board(File());
    EXPECT_EQ(Published(board).size(), 0u);
    EXPECT_GE(board.Begin("checkout", "/x").value_or(0), 1u);
  }
}

}  // namespace
}  // namespace korvane::server
