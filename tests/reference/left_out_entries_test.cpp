// What automatic sync leaves out of a shared folder, judged without opening
// anything, and sparse files made sparse again after an update wrote them.
#include "left_out_entries.h"
#include "sparse_files.h"

#include "support/runtime_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using korvane::server::HoldsLeftOut;
using korvane::server::IsClutter;
using korvane::server::MakeSparse;
using korvane::server::WhyNotVersionable;

class LeftOut : public ::testing::Test {
 public:
  std::string Make(const std::string& name) {
    std::ofstream(folder_ + "/" + name) << "x";
    return folder_ + "/" + name;
  }
  korvane::testing::ScopedRuntimeFolder scoped_;
  const std::string folder_ = scoped_.Path();
};

TEST_F(LeftOut, EachEntryThatCannotBeVersionedIsNamedWithItsReason) {
  struct Case {
    const char* what;
    std::function<std::string(LeftOut&)> make;
    const char* reason;  // a part of the reason; "" when the entry is synced
  };
  const std::vector<Case> cases = {
      {"a plain file", [](LeftOut& t) { return t.Make("notes.txt"); }, ""},
      {"a developer's leftover", [](LeftOut& t) { return t.Make("main.o"); }, ""},
      {"a link", [](LeftOut& t) { fs::create_symlink("nowhere", t.folder_ + "/link"); return t.folder_ + "/link"; }, ""},
      {"a named pipe", [](LeftOut& t) { mkfifo((t.folder_ + "/pipe").c_str(), 0644); return t.folder_ + "/pipe"; },
       "named pipe"},
      {"a socket",
       [](LeftOut& t) {
         const int s = socket(AF_UNIX, SOCK_STREAM, 0);
         sockaddr_un address{};
         address.sun_family = AF_UNIX;
         std::snprintf(address.sun_path, sizeof address.sun_path, "%s/socket", t.folder_.c_str());
         bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
         close(s);
         return t.folder_ + "/socket";
       },
       "socket"},
      {"a line break", [](LeftOut& t) { return t.Make("two\nlines"); }, "line break"},
      {"bytes that are not UTF-8", [](LeftOut& t) { return t.Make("bad\xff"); }, "not UTF-8"},
      {"a file named .svn", [](LeftOut& t) { return t.Make(".svn"); }, "Subversion's own"},
      {"clutter", [](LeftOut& t) { return t.Make("Thumbs.db"); }, "clutter"},
      {"clutter in other case", [](LeftOut& t) { return t.Make("DESKTOP.INI"); }, "clutter"},
      {"a working copy inside",
       [](LeftOut& t) {
         fs::create_directories(t.folder_ + "/nested/.svn");
         return t.folder_ + "/nested";
       },
       "working copy"},
      {"a path too long", [](LeftOut& t) { return t.folder_ + "/" + std::string(4100, 'p'); }, "longer than"},
  };
  for (const Case& each : cases) {
    const std::string path = each.make(*this);
    const std::string why = WhyNotVersionable(path);
    if (*each.reason == '\0') {
      EXPECT_EQ(why, "") << each.what;
    } else {
      EXPECT_NE(why.find(each.reason), std::string::npos) << each.what << ": " << why;
    }
  }
  EXPECT_TRUE(IsClutter(".DS_Store"));
  EXPECT_FALSE(IsClutter("DS_Store"));
  // A folder holds something left out however deep it lies.
  fs::create_directories(folder_ + "/a/b");
  Make("a/b/plain.txt");
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
  std::ifstream in(file, std::ios::binary);
  const std::string read((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(read, content);
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
