// What automatic sync leaves out of a shared folder, judged without opening
// anything, and sparse files made sparse again after an update wrote them.
#include "left_out_entries.h"
#include "sparse_files.h"

#include "support/runtime_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using korvane::server::HoldsLeftOut;
using korvane::server::MakeSparse;
using korvane::server::WhyNotVersionable;

class LeftOut : public ::testing::Test {
 protected:
  korvane::testing::ScopedRuntimeFolder scoped_;
  const std::string folder_ = scoped_.Path();
};

void MakeFile(const std::string& path) { std::ofstream(path) << "x"; }

TEST_F(LeftOut, EachEntryThatCannotBeVersionedIsNamedWithItsReason) {
  const struct {
    std::string name;
    void (*make)(const std::string& path);
    const char* reason;  // a part of the reason; "" when the entry is synced
  } cases[] = {
      {"notes.txt", MakeFile, ""},
      {"main.o", MakeFile, ""},  // a developer's leftover
      {"link", [](const std::string& path) { fs::create_symlink("nowhere", path); }, ""},
      {"pipe", [](const std::string& path) { mkfifo(path.c_str(), 0644); }, "named pipe"},
      {"socket", [](const std::string& path) { mknod(path.c_str(), S_IFSOCK | 0644, 0); }, "socket"},
      {"two\nlines", MakeFile, "line break"},
      {"bad\xff", MakeFile, "not UTF-8"},
      {".svn", MakeFile, "Subversion's own"},
      {"Thumbs.db", MakeFile, "clutter"},
      {"DESKTOP.INI", MakeFile, "clutter"},  // in other case
      {".DS_Store", MakeFile, "clutter"},
      {"DS_Store", MakeFile, ""},
      {"nested", [](const std::string& path) { fs::create_directories(path + "/.svn"); }, "working copy"},
      {std::string(4100, 'p'), [](const std::string&) {}, "longer than"},
  };
  for (const auto& each : cases) {
    const std::string path = folder_ + "/" + each.name;
    each.make(path);
    const std::string why = WhyNotVersionable(path);
    if (*each.reason == '\0') {
      EXPECT_EQ(why, "") << each.name;
    } else {
      EXPECT_NE(why.find(each.reason), std::string::npos) << each.name << ": " << why;
    }
  }
  // A folder holds something left out however deep it lies.
  fs::create_directories(folder_ + "/a/b");
  MakeFile(folder_ + "/a/b/plain.txt");
  EXPECT_FALSE(HoldsLeftOut(folder_ + "/a"));
  mkfifo((folder_ + "/a/b/pipe").c_str(), 0644);
  EXPECT_TRUE(HoldsLeftOut(folder_ + "/a"));
}

TEST_F(LeftOut, ZeroBlocksBecomeHolesAndTheContentStays) {
  const std::string file = folder_ + "/disk.img";
  std::string content(8 << 20, '\0');
  content.replace(0, 5, "start");
  content.replace(content.size() - 3, 3, "end");
  std::ofstream(file, std::ios::binary) << content;
  struct stat before {};
  ASSERT_EQ(stat(file.c_str(), &before), 0);
  ASSERT_GE(before.st_blocks * 512, 8 << 20);
  MakeSparse(file);
  struct stat after {};
  ASSERT_EQ(stat(file.c_str(), &after), 0);
  std::ostringstream read;
  read << std::ifstream(file, std::ios::binary).rdbuf();
  EXPECT_EQ(read.str(), content);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  // Where the file system punches holes, almost nothing is left taken.
  const int probe = open(file.c_str(), O_RDWR);
  const bool punches = fallocate(probe, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, 0, 0) == 0 || errno != EOPNOTSUPP;
  close(probe);
  if (punches) {
    EXPECT_LT(after.st_blocks * 512, 1 << 20);
  }
}

}  // namespace
