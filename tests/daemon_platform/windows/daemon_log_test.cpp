#include "daemon/base/daemon_log.h"

#include "scratch.h"

#include <gtest/gtest.h>

namespace korvane::server {
namespace {

// Two daemons append to one log at once (one starting while the other
// runs), each rotating it when it is full: a file held open must still move
// aside, and no line may be torn.
TEST(DaemonLog, TwoWritersRotateAFileTheOtherHolds) {
  testing::ScratchFolder scratch;
  const std::string path = scratch / "d\xc3\xa6mon.log";
  constexpr long kRotate = 4096;
  {
    const DaemonLog first(path, kRotate);
    const DaemonLog second(path, kRotate);
    for (int line = 0; line < 200; ++line) (line % 2 == 0 ? first : second).Info("line " + std::to_string(line));
  }
  const std::string current = testing::ReadFile(path);
  EXPECT_FALSE(testing::ReadFile(path + ".1").empty()) << "never rotated";
  EXPECT_LT(current.size(), static_cast<std::size_t>(kRotate + DaemonLog::kMaxMessage + 100));
  for (std::size_t start = 0, end; (end = current.find('\n', start)) != std::string::npos; start = end + 1) {
    EXPECT_EQ(current.substr(start + 23, 1), "Z") << current.substr(start, end - start);
  }
  EXPECT_NE(current.find(" info: line 199\n"), std::string::npos);
}

}  // namespace
}  // namespace korvane::server
