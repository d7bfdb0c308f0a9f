// Paths whose canonical form is Windows's own: backslashes separate, drive
// letters are upper case, and the local form uses backslashes again.
#include "svn/svn_path.h"

#include <gtest/gtest.h>

namespace korvane::svn {
namespace {

struct PlatformPathCase {
  const char16_t* input;
  const char* internal;
  const char16_t* local;
};

TEST(SVNPathOnWindows, BackslashesSeparateAndDrivesAreRoots) {
  const PlatformPathCase cases[] = {
      {u"/a\\b", "/a/b", u"\\a\\b"},
      {u"c:\\work\\A\\", "C:/work/A", u"C:\\work\\A"},
      {u"D:\\", "D:/", u"D:\\"},
      {u"\\\\server\\share\\dir", "//server/share/dir", u"\\\\server\\share\\dir"},
  };
  for (const PlatformPathCase& c : cases) {
    SCOPED_TRACE(c.internal);
    SVNPath path(c.input);
    EXPECT_STREQ(path.GetInternalPath(), c.internal);
    EXPECT_EQ(path.GetLocalPath(), c.local);
  }
}

}  // namespace
}  // namespace korvane::svn
