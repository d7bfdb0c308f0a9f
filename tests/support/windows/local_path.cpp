#include "support/local_path.h"

#include <algorithm>

namespace korvane::testing {

std::string LocalPath(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

std::u16string LocalPath(std::u16string path) {
  std::replace(path.begin(), path.end(), u'/', u'\\');
  return path;
}

}  // namespace korvane::testing
