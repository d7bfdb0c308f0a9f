// The daemon's pure pieces: the form activations are kept in, and reply
// fields that cannot be shifted by what they hold.
#include "activation_store.h"
#include "protocol.h"

#include <gtest/gtest.h>

namespace korvane::server {
namespace {

struct FolderCase {
  std::string_view path;
  std::optional<std::string> canonical;
};

TEST(CanonicalFolder, KeepsOneFormPerFolder) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX paths; the Windows forms are in windows/local_path_test.cpp";
#endif
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

TEST(JoinFields, AFieldCannotSplitIntoMore) {
  EXPECT_EQ(JoinFields({"1", "a|b", "line\nbreak", ""}), "1|a b|line break|");
}

}  // namespace
}  // namespace korvane::server
