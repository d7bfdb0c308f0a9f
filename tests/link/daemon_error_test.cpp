// The error record: its text form, and filling it from a daemon reply.
#include "link/daemon_error.h"

#include <gtest/gtest.h>

#include <climits>

namespace korvane::link {
namespace {

TEST(DaemonError, SetErrorKeepsTheDetail) {
  DaemonError record;
  record.detail = "kept";
  record.SetError(kPipeCallFailed, "renameLDir", kPipeCallFailedMessage, 258);
  EXPECT_EQ(record.text, "-15|renameLDir|The operation failed.|258|kept|");
}

struct ReplyCase {
  const char* reply;
  bool parsed;
  const char* text;  // the record's text afterwards
  std::int32_t code;
  std::int32_t systemError;
};

TEST(DaemonError, ParsesFiveFieldsAndNormalisesThem) {
  const ReplyCase cases[] = {
      {"0|svnAdd|done|0|x", true, "0|svnAdd|done|0|x|", 0, 0},
      {"1|svnCommit|Conflict|0|", true, "1|svnCommit|Conflict|0||", 1, 0},
      {"007|op|m|0012|d", true, "7|op|m|12|d|", 7, 12},
      {"0|op|m|none|", true, "0|op|m|0||", 0, 0},
      {"2|op|m|5|d|extra|more", true, "2|op|m|5|d|", 2, 5},
      {" -3x|op|m| +4|d", true, "-3|op|m|4|d|", -3, 4},
      {"1|two|three|four", false, "", -1000, 0},
      {"", false, "", -1000, 0},
  };
  for (const ReplyCase& c : cases) {
    SCOPED_TRACE(c.reply);
    DaemonError record;
    EXPECT_EQ(record.ParseErrorReply(c.reply), c.parsed);
    EXPECT_EQ(record.text, c.text);
    EXPECT_EQ(record.code, c.code);
    EXPECT_EQ(record.systemError, c.systemError);
  }
}

TEST(DaemonError, NumbersBeyondThirtyTwoBitsAreHeldAtTheLimit) {
  const std::pair<const char*, std::int32_t> cases[] = {
      {"2147483647", INT_MAX},  {"2147483648", INT_MAX},       {"99999999999999999999", INT_MAX},
      {"-2147483648", INT_MIN}, {"-99999999999999999999", INT_MIN}, {"", 0},
      {"-", 0},                 {"\t\n 12", 12},
  };
  for (auto [field, value] : cases) {
    SCOPED_TRACE(field);
    EXPECT_EQ(ReadDecimal(field), value);
  }
}

}  // namespace
}  // namespace korvane::link
