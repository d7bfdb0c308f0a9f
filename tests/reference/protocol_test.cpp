// The daemon's pure pieces: the form activations are kept in, and reply
// fields that cannot be shifted by what they hold.
#include "activation_store.h"
#include "protocol.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <unistd.h>

namespace korvane::server {
namespace {

struct FolderCase {
  std::string_view path;
  std::optional<std::string> canonical;
};

TEST(CanonicalFolder, KeepsOneFormPerFolder) {
  const FolderCase cases[] = {
      {"/a/b", "/a/b"},
      {"/a//b/", "/a/b"},
      {"/a/./b/.", "/a/b"},
      {"/", "/"},
      {"//", "/"},
      {"/a/../b", std::nullopt},
      {"a/b", std::nullopt},
      {"", std::nullopt},
      {"/a\nb", std::nullopt},
      {std::string_view("/a\0b", 4), std::nullopt},
  };
  for (const FolderCase& c : cases) EXPECT_EQ(CanonicalFolder(c.path), c.canonical) << c.path;
}

TEST(ActivationStore, TheNearestActivatedAncestorCovers) {
  const std::string file = ::testing::TempDir() + "korvane-activations-" + std::to_string(getpid());
  std::filesystem::remove(file);
  ActivationStore store(file);
  ASSERT_TRUE(store.Load().empty());
  std::string error;
  ASSERT_EQ(store.Set("/", 1, error), ActivationStore::Change::Made) << error;
  ASSERT_EQ(store.Set("/a/b", 2, error), ActivationStore::Change::Made) << error;
  EXPECT_EQ(store.Set("/a/b", 2, error), ActivationStore::Change::Unchanged);
  EXPECT_EQ(store.Cover("/a/b/c")->folder, "/a/b");
  EXPECT_EQ(store.Cover("/a/bc")->folder, "/");
  EXPECT_EQ(store.Cover("/a/b")->mode, 2);
  EXPECT_FALSE(store.Cover("relative"));
  std::filesystem::remove(file);
}

TEST(JoinFields, AFieldCannotSplitIntoMore) {
  EXPECT_EQ(JoinFields({"1", "a|b", "line\nbreak", ""}), "1|a b|line break|");
}

}  // namespace
}  // namespace korvane::server
