// On POSIX a backslash is a character of a name, and a drive letter is just
// a name.
#include "svn/platform_path_cases.h"

namespace korvane::svn {

const std::vector<PlatformPathCase>& PlatformPathCases() {
  static const std::vector<PlatformPathCase> cases = {
      {u"D:", "D:/", u"D:/"},
      {u"/a\\b", "/a\\b", u"/a\\b"},
  };
  return cases;
}

}  // namespace korvane::svn
