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
};

// What the names alone leave out (clutter among them) is the portable rules'
// own; these entries are judged by what the system says of them.
TEST_F(LeftOutOnWindows, EachEntryThatCannotBeVersionedIsNamedWithItsReason) {
  Make("notes.txt");
  Make("Übersicht 計画.txt");
  fs::create_directory(fs::u8path(folder_ + "/plans"));
  fs::create_directories(fs::u8path(folder_ + "/nested/.svn"));
  const UniqueHandle held(::CreateFileW(Wide(Make("locked.db")).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  const struct {
    const char* name;
    const char* reason;  // a part of the reason; "" when the entry is synced
  } cases[] = {
      {"notes.txt", ""},
      {"Übersicht 計画.txt", ""},        // a name beyond ASCII
      {"plans", ""},                     // a folder
      {"gone.txt", ""},                  // gone meanwhile
      {"locked.db", "cannot be read"},  // another program holds it shut
      {"nested", "working copy"},
  };
  for (const auto& c : cases) {
    const std::string why = WhyNotVersionable(folder_ + "/" + c.name);
    if (*c.reason == '\0') {
      EXPECT_EQ(why, "") << c.name;
    } else {
      EXPECT_NE(why.find(c.reason), std::string::npos) << c.name << ": " << why;
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
