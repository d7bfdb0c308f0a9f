// Activation changes made durable together: changes that arrive while a
// batch is written go out in the next, each is on the disk before it is in
// force or acknowledged, none is lost, and the queue stays bounded. Also
// through the daemon: many clients changing activations at once.
#include "reference_daemon.h"

#include "activation_store.h"
#include "korvane/korvane.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>
#include <utility>
#include <vector>

namespace korvane::reference {
namespace {

using server::ActivationStore;

server::Activations OnDisk(const std::string& file) { return server::ParseActivations(ReadAll(file)).activations; }

// Holds the writer inside the first change's acknowledgement until released,
// so that the changes submitted meanwhile are all waiting for the next batch.
class HeldWriter {
 public:
  explicit HeldWriter(ActivationStore& store) {
    std::shared_future<void> released = release_.get_future().share();
    store.Submit("/held", 1, [this, released](const ActivationStore::Outcome&) {
      held_.set_value();
      released.wait();
    });
    held_.get_future().wait();
  }
  ~HeldWriter() { Release(); }
  void Release() {
    if (!std::exchange(released_, true)) release_.set_value();
  }

 private:
  std::promise<void> held_;
  std::promise<void> release_;
  bool released_ = false;
};

TEST(ActivationBatch, ChangesWaitingTogetherAreWrittenOnceAndEachIsOnDiskWhenAcknowledged) {
  testing::ScopedRuntimeFolder folder;
  const std::string file = folder.Path() + "/activations";
  server::WakeUp batches;  // raised once a batch written; outlives the store that raises it
  ActivationStore store(file);
  store.Watch(batches);
  constexpr int kChanges = 200;
  std::vector<std::string> wrongWhenTold(kChanges, "never told");
  {
    HeldWriter held(store);
    for (int i = 0; i < kChanges; ++i) {
      const std::string path = "/f" + std::to_string(i);
      const int mode = i % 3 + 1;
      ASSERT_TRUE(store.Submit(path, mode, [&, i, path, mode](const ActivationStore::Outcome& outcome) {
        const server::Activations disk = OnDisk(file);
        wrongWhenTold[i] = outcome.change != ActivationStore::Change::Made ? "not made: " + outcome.error
                           : !disk.contains(path) || disk.at(path) != mode ? "not on disk"
                           : !store.Cover(path)                            ? "not in force"
                                                                           : "";
      }));
    }
    // Nothing of the waiting batch is in force yet.
    EXPECT_FALSE(store.Cover("/f0").has_value());
  }
  std::string error;
  ASSERT_EQ(store.Set("/last", 2, error), ActivationStore::Change::Made) << error;
  // The held change, the waiting ones, and the last one unless it joined
  // them: one at a time would be 202.
  EXPECT_LE(batches.Take(), 3u) << "the waiting changes were not written together";
  EXPECT_EQ(wrongWhenTold, std::vector<std::string>(kChanges));
  EXPECT_EQ(OnDisk(file), store.Current());
  EXPECT_EQ(store.Current().size(), kChanges + 2u);
}

struct BatchCase {
  const char* name;
  // (folder, mode) in the order submitted, all in one batch.
  std::vector<std::pair<std::string, int>> changes;
  std::vector<ActivationStore::Change> expected;
  server::Activations after;  // "/held" aside
  // Where the list is written; a folder that does not exist fails the write.
  std::string file = "activations";
};

TEST(ActivationBatch, ChangesInOneBatchAreSettledInTheOrderTheyCame) {
  using C = ActivationStore::Change;
  // With "/held" listed (8 bytes), this leaves room for less than "/c".
  const std::string big = "/" + std::string(ActivationStore::kMaxListBytes - 14, 'b');
  const BatchCase cases[] = {
      {"activate then deactivate", {{"/a", 1}, {"/a", 0}}, {C::Made, C::Made}, {}},
      {"deactivate then activate", {{"/a", 0}, {"/a", 2}}, {C::Unchanged, C::Made}, {{"/a", 2}}},
      {"the same mode twice", {{"/a", 3}, {"/a", 3}}, {C::Made, C::Unchanged}, {{"/a", 3}}},
      {"a mode changed", {{"/a", 1}, {"/a", 2}}, {C::Made, C::Made}, {{"/a", 2}}},
      {"past the bound, then room made", {{big, 1}, {"/c", 1}, {big, 0}, {"/c", 1}},
       {C::Made, C::Failed, C::Made, C::Made}, {{"/c", 1}}},
      {"a failed write: every change of its batch is out of force", {{"/f0", 1}, {"/f1", 1}, {"/f2", 1}},
       {C::Failed, C::Failed, C::Failed}, {}, "missing/activations"},
  };
  for (const BatchCase& c : cases) {
    testing::ScopedRuntimeFolder folder;
    const std::string file = folder.Path() + "/" + c.file;
    ActivationStore store(file);
    std::vector<ActivationStore::Outcome> outcomes(c.changes.size());
    {
      HeldWriter held(store);
      for (std::size_t i = 0; i < c.changes.size(); ++i) {
        store.Submit(c.changes[i].first, c.changes[i].second,
                     [&outcomes, i](const ActivationStore::Outcome& outcome) { outcomes[i] = outcome; });
      }
    }
    std::string error;
    store.Set("/held", 0, error);
    for (std::size_t i = 0; i < c.changes.size(); ++i) {
      EXPECT_EQ(outcomes[i].change, c.expected[i]) << c.name << ", change " << i;
      if (c.file != "activations") {
        EXPECT_NE(outcomes[i].error.find("cannot create"), std::string::npos) << outcomes[i].error;
      }
    }
    EXPECT_EQ(store.Current(), c.after) << c.name;
    EXPECT_EQ(OnDisk(file), c.after) << c.name;
  }
}

TEST(ActivationBatch, TheQueueOfWaitingChangesIsBounded) {
  testing::ScopedRuntimeFolder folder;
  ActivationStore store(folder.Path() + "/activations");
  HeldWriter held(store);
  for (std::size_t i = 0; i < ActivationStore::kMaxPending; ++i) {
    ASSERT_TRUE(store.Submit("/f" + std::to_string(i), 1)) << i;
  }
  EXPECT_FALSE(store.Submit("/one-more", 1));
  // Long paths reach the byte bound first.
  held.Release();
  std::string error;
  store.Set("/drained", 1, error);
  HeldWriter heldAgain(store);
  const std::string longPath = "/" + std::string(64 * 1024, 'p');
  std::size_t taken = 0;
  while (store.Submit(longPath, 1)) ++taken;
  EXPECT_EQ(taken, ActivationStore::kMaxPendingBytes / longPath.size());
}

// Many threads changing activations at once, each waiting for its own
// change: every change acknowledged is in force and in the file, and a
// fresh store loads the same list.
TEST(ActivationBatch, ConcurrentChangesAreNeitherLostNorReordered) {
  testing::ScopedRuntimeFolder folder;
  const std::string file = folder.Path() + "/activations";
  constexpr int kThreads = 16;
  constexpr int kRounds = 30;
  server::Activations expected;
  {
    ActivationStore store(file);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        const std::string path = "/t" + std::to_string(t);
        for (int round = 0; round < kRounds; ++round) {
          const int mode = round % 4;  // 0 deactivates
          std::string error;
          if (store.Set(path, mode, error) == ActivationStore::Change::Failed) ++wrong;
          const std::optional<ActivationStore::Covering> covering = store.Cover(path);
          if ((mode == 0) != !covering || (covering && covering->mode != mode)) ++wrong;
          const server::Activations disk = OnDisk(file);
          if ((mode == 0) != !disk.contains(path) || (mode != 0 && disk.at(path) != mode)) ++wrong;
        }
      });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
    for (int t = 0; t < kThreads; ++t) expected["/t" + std::to_string(t)] = (kRounds - 1) % 4;
    std::erase_if(expected, [](const auto& entry) { return entry.second == 0; });
    EXPECT_EQ(store.Current(), expected);
  }
  ActivationStore reloaded(file);
  EXPECT_TRUE(reloaded.Load().empty());
  EXPECT_EQ(reloaded.Current(), expected);
}

using Batching = ReferenceDaemonTest;

// Through the daemon: clients activating their folders at once each see
// their change in the very next list, and the file holds every one.
TEST_F(Batching, ConcurrentClientsChangingActivationsLoseNothing) {
  auto daemon = StartServing();
  constexpr int kClients = 12;
  constexpr int kRounds = 10;
  std::vector<std::string> folders;
  for (int c = 0; c < kClients; ++c) folders.push_back(Folder("c" + std::to_string(c)));
  std::atomic<int> wrong{0};  // acknowledgements missing, or not followed by their change in the list
  std::vector<std::thread> clients;
  for (int c = 0; c < kClients; ++c) {
    clients.emplace_back([&, c] {
      const std::u16string path = Wide(folders[c]);
      for (int round = 0; round < kRounds; ++round) {
        const int mode = (c + round) % 3 + 1;
        char* list = nullptr;
        if (Korvane_ActivatePath(path.c_str(), mode) != 1 || Korvane_GetActivations(&list) != 1) {
          ++wrong;
          continue;
        }
        const server::Activations listed = server::ParseActivations(Take(list)).activations;
        if (!listed.contains(folders[c]) || listed.at(folders[c]) != mode) ++wrong;
      }
    });
  }
  for (std::thread& client : clients) client.join();
  EXPECT_EQ(wrong.load(), 0);
  server::Activations expected;
  for (int c = 0; c < kClients; ++c) expected[folders[c]] = (c + kRounds - 1) % 3 + 1;
  EXPECT_EQ(server::ParseActivations(Activations()).activations, expected);
  EXPECT_EQ(OnDisk(StateFile("activations")), expected);
}

}  // namespace
}  // namespace korvane::reference
