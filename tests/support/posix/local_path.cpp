#include "support/local_path.h"

namespace korvane::testing {

std::string LocalPath(std::string path) { return path; }

std::u16string LocalPath(std::u16string path) { return path; }

}  // namespace korvane::testing
