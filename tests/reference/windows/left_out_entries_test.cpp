// What automatic sync leaves out of a shared folder on Windows, and sparse
// files made sparse again after an update wrote them (where the volume
// makes holes, which Wine's does not: there the content and the time stay).
#include "file_stamp.h"
#include "left_out_entries.h"
#include "sparse_files.h"

#include "support/runtime_folder.h"
#include "support/windows/windows_helpers.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

namespace korvane::testing {
namespace {

namespace fs = std::filesystem;
using server::WhyNotVersionable;

class LeftOutOnWindows : public ::testing::Test {
 public:
  std::string Make(const std::string& name) {
    std::ofstream(fs::u8path(folder_ + "/" + name)) << "x";
    return folder_ + "/" + name;
  }
  ScopedRuntimeFolder scoped_;
  const std::string folder_ = scoped_.Path();
  UniqueHandle held_;
};

TEST_F(LeftOutOnWindows, EachEntryThatCannotBeVersionedIsNamedWithItsReason) {
  struct Case {
    const char* what;
    std::function<std::string(LeftOutOnWindows&)> make;
    const char* reason;  // a part of the reason; "" when the entry is synced
  };
  const std::vector<Case> cases = {
      {"a plain file", [](LeftOutOnWindows& t) { return t.Make("notes.txt"); }, ""},
      {"a name beyond ASCII", [](LeftOutOnWindows& t) { return t.Make("Übersicht 計画.txt"); }, ""},
      {"a folder", [](LeftOutOnWindows& t) { fs::create_directory(fs::u8path(t.folder_ + "/plans")); return t.folder_ + "/plans"; }, ""},
      {"a file gone meanwhile", [](LeftOutOnWindows& t) { return t.folder_ + "/gone.txt"; }, ""},
      {"a file another program holds shut",
       [](LeftOutOnWindows& t) {
         const std::string path = t.Make("locked.db");
         t.held_.reset(::CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
         return path;
       },
       "cannot be read"},
      {"a working copy inside",
       [](LeftOutOnWindows& t) {
         fs::create_directories(fs::u8path(t.folder_ + "/nested/.svn"));
         return t.folder_ + "/nested";
       },
       "working copy"},
      {"clutter", [](LeftOutOnWindows& t) { return t.Make("Thumbs.db"); }, "clutter"},
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
}

TEST_F(LeftOutOnWindows, ZeroBlocksMadeHolesKeepTheContentAndTheTime) {
  const std::string file = folder_ + "/disk.img";
  std::string content(8 << 20, '\0');
  content.replace(0, 5, "start");
  content.replace(content.size() - 3, 3, "end");
  std::ofstream(fs::u8path(file), std::ios::binary) << content;
  const std::optional<server::FileStamp> before = server::StampOf(file);
  ASSERT_TRUE(before);
  EXPECT_EQ(before->size, static_cast<std::int64_t>(content.size()));
  server::MakeSparse(file);
  std::ifstream in(fs::u8path(file), std::ios::binary);
  const std::string read((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(read, content);
  const std::optional<server::FileStamp> after = server::StampOf(file);
  ASSERT_TRUE(after);
  EXPECT_EQ(after->modified, before->modified);
  EXPECT_EQ(after->identity, before->identity);
}

// A new stamp tells Subversion to read the file again.
TEST_F(LeftOutOnWindows, TouchingAFileGivesItANewStamp) {
  const std::string file = Make("stamped.txt");
  FILETIME old{};
  const ULONGLONG past = 116444736000000000ULL + 10000000ULL * 3600;  // an hour after 1970
  old.dwLowDateTime = static_cast<DWORD>(past);
  old.dwHighDateTime = static_cast<DWORD>(past >> 32);
  {
    const UniqueHandle handle(::CreateFileW(Wide(file).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(::SetFileTime(handle.get(), nullptr, &old, &old));
  }
  ASSERT_EQ(server::StampOf(file)->modified, 3600LL * 1000000000);
  server::TouchNow(file);
  EXPECT_GT(server::StampOf(file)->modified, 3600LL * 1000000000);
  EXPECT_FALSE(server::StampOf(folder_ + "/nothing"));
}

}  // namespace
}  // namespace korvane::testing
