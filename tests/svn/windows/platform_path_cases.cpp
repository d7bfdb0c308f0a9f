// On Windows backslashes separate, drive letters are upper case roots, and
// the local form uses backslashes again.
#include "svn/platform_path_cases.h"

namespace korvane::svn {

const std::vector<PlatformPathCase>& PlatformPathCases() {
  static const std::vector<PlatformPathCase> cases = {
      {u"/a\\b", "/a/b", u"\\a\\b"},
      {u"c:\\work\\A\\", "C:/work/A", u"C:\\work\\A"},
      {u"D:\\", "D:/", u"D:\\"},
      {u"\\\\server\\share\\dir", "//server/share/dir", u"\\\\server\\share\\dir"},
  };
  return cases;
}

}  // namespace korvane::svn
