// The icon compiled into the library is the one in the repository that
// scripts/make-icon.py draws.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

extern const unsigned char korvane_icon_group[];
extern const std::size_t korvane_icon_group_size;

namespace korvane::shell {
namespace {

std::vector<unsigned char> ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(LibraryResources, HoldTheIconFileThatTheScriptDraws) {
  const std::filesystem::path root = KORVANE_SOURCE_DIR;
  const std::vector<unsigned char> committed = ReadBytes(root / "src/shell/resources/korvane.ico");
  ASSERT_FALSE(committed.empty());
  EXPECT_TRUE(std::equal(korvane_icon_group, korvane_icon_group + korvane_icon_group_size, committed.begin(),
                         committed.end()))
      << "the library holds another icon than the repository";

  if (std::system("python3 -c '' >/dev/null 2>&1") != 0) GTEST_SKIP() << "python3 is not installed";
  const auto drawn = std::filesystem::temp_directory_path() / ("korvane-icon-" + std::to_string(::getpid()) + ".ico");
  const std::string command = "python3 '" + (root / "scripts/make-icon.py").string() + "' '" + drawn.string() + "'";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const std::vector<unsigned char> fresh = ReadBytes(drawn);
  std::filesystem::remove(drawn);
  EXPECT_TRUE(fresh == committed) << "scripts/make-icon.py no longer draws the committed icon";
}

}  // namespace
}  // namespace korvane::shell
