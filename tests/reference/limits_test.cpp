// The daemon's bounds, each at and past its limit: the
// log's size and record length, the activation list, the worker pool.
#include "activation_store.h"
#include "daemon_log.h"
#include "reference_daemon.h"
#include "work_runner.h"

#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <stdexcept>
#include <thread>

#include <poll.h>

namespace korvane::reference {
namespace {

using server::ActivationStore;

TEST(Limits, TheLogRotatesWhileRunningAndShortensLongRecords) {
  testing::ScopedRuntimeFolder folder;
  const std::string path = folder.Path() + "/daemon.log";
  constexpr long kRotate = 4096;
  {
    const server::DaemonLog log(path, kRotate);
    for (int i = 0; i < 200; ++i) log.Info(std::string(60000, 'p'));
    log.Info("last\nline");
  }
  const std::string current = ReadAll(path);
  const std::string previous = ReadAll(path + ".1");
  EXPECT_LE(current.size() + previous.size(), 2 * (kRotate + server::DaemonLog::kMaxMessage + 100));
  EXPECT_NE(current.find("info: last line\n"), std::string::npos);
  EXPECT_NE(previous.find("... (60000 bytes)\n"), std::string::npos);
  EXPECT_EQ(server::DaemonLog::Shorten(std::string(server::DaemonLog::kMaxMessage, 'x')).size(),
            server::DaemonLog::kMaxMessage);
}

TEST(Limits, TheActivationListStaysWithinOnePacket) {
  testing::ScopedRuntimeFolder folder;
  const std::string file = folder.Path() + "/activations";
  ActivationStore store(file);
  // Paths of 100 KiB: the eleventh would take the list past its bound.
  const auto path = [](int i) { return "/" + std::string(100 * 1024, static_cast<char>('a' + i)); };
  std::string error;
  for (int i = 0; i < 10; ++i) ASSERT_EQ(store.Set(path(i), 1, error), ActivationStore::Change::Made) << error;
  EXPECT_EQ(store.Set(path(10), 1, error), ActivationStore::Change::Failed);
  EXPECT_NE(error.find("bounded"), std::string::npos);
  // (That room made lets a change in again is in the batch table.)

  // A file grown past the bound by hand loads as far as the bound.
  {
    std::ofstream grown(file, std::ios::app);
    for (int i = 11; i < 20; ++i) grown << "1|" << path(i) << "\n";
  }
  const std::vector<std::string> problems = store.Load();
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_NE(problems[0].find("9 folders left out"), std::string::npos) << problems[0];
  EXPECT_LE(store.List().size(), ActivationStore::kMaxListBytes);
}

// Work that blocks until released, so that the pool fills.
TEST(Limits, TheWorkerPoolRefusesWorkBeyondItsQueueAndAnswersWorkThatThrows) {
  server::WorkRunner runner({1, 2});
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  const auto job = [&](std::uint64_t connection) {
    return server::WorkRunner::Job{connection, "blocked", "", [released, connection] {
                                     released.wait();
                                     return "done " + std::to_string(connection);
                                   }, "failed"};
  };
  EXPECT_TRUE(runner.Submit(job(1)));  // runs
  EXPECT_FALSE(runner.WaitIdle(std::chrono::milliseconds(20)));
  EXPECT_TRUE(runner.Submit(job(2)));  // waits
  EXPECT_TRUE(runner.Submit(job(3)));  // waits
  EXPECT_FALSE(runner.Submit(job(4)));
  release.set_value();
  ASSERT_TRUE(runner.WaitIdle(std::chrono::seconds(10)));
  pollfd ready{static_cast<int>(runner.ReadyFd()), POLLIN, 0};
  EXPECT_EQ(poll(&ready, 1, 0), 1);
  std::vector<std::string> replies;
  for (const auto& finished : runner.TakeFinished()) replies.push_back(finished.reply);
  EXPECT_EQ(replies, (std::vector<std::string>{"done 1", "done 2", "done 3"}));
  ASSERT_TRUE(runner.Submit({4, "throws", "", []() -> std::string { throw std::runtime_error("x"); }, "failed"}));
  ASSERT_TRUE(runner.WaitIdle(std::chrono::seconds(10)));
  const auto thrown = runner.TakeFinished();
  ASSERT_EQ(thrown.size(), 1u);
  EXPECT_EQ(thrown[0].reply, "failed");

  // Once stopping, queued work comes back unstarted and nothing new is taken.
  std::promise<void> hold;
  std::shared_future<void> held = hold.get_future().share();
  EXPECT_TRUE(runner.Submit({5, "held", "", [held] { held.wait(); return std::string("x"); }, "failed"}));
  EXPECT_TRUE(runner.Submit(job(6)));
  while (runner.Running() == 0) std::this_thread::yield();
  const std::vector<server::WorkRunner::Job> unstarted = runner.Stop();
  ASSERT_EQ(unstarted.size(), 1u);
  EXPECT_EQ(unstarted[0].connection, 6u);
  EXPECT_FALSE(runner.Submit(job(7)));
  hold.set_value();
}

}  // namespace
}  // namespace korvane::reference
