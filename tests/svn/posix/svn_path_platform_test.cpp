// Paths whose canonical form is POSIX's own: a backslash is a character of
// a name, and a drive letter is just a name.
#include "svn/svn_path.h"

#include <gtest/gtest.h>

namespace korvane::svn {
namespace {

struct PlatformPathCase {
  const char16_t* input;
  const char* internal;
  const char16_t* local;
};

TEST(SVNPathOnPosix, BackslashesAndDrivesAreNames) {
  const PlatformPathCase cases[] = {
      {u"D:", "D:/", u"D:/"},
      {u"/a\\b", "/a\\b", u"/a\\b"},
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
