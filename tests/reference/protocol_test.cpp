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
  // A drive's root or a share's, either separator, the drive letter in
  // upper case: the form Subversion writes local paths in.
  const FolderCase cases[] = {
      {"C:\\a\\b", "C:/a/b"},
      {"c:/a//b\\", "C:/a/b"},
      {"C:\\a\\.\\b\\.", "C:/a/b"},
      {"C:\\", "C:/"},
      {"c:/\\", "C:/"},
      {"\\\\server\\share\\a", "//server/share/a"},
      {"C:\\a\\..\\b", std::nullopt},
      {"C:a", std::nullopt},
      {"/a/b", std::nullopt},
      {"\\a", std::nullopt},
      {"", std::nullopt},
      {"C:\\a\nb", std::nullopt},
      {std::string_view("C:\\a\0b", 6), std::nullopt},
  };
#else
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
#endif
  for (const FolderCase& c : cases) EXPECT_EQ(CanonicalFolder(c.path), c.canonical) << c.path;
}

TEST(JoinFields, AFieldCannotSplitIntoMore) {
  EXPECT_EQ(JoinFields({"1", "a|b", "line\nbreak", ""}), "1|a b|line break|");
}

}  // namespace
}  // namespace korvane::server
