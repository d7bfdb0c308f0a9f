// The request frame byte for byte, and the splitting of reply texts.
#include "daemon/request_frame.h"
#include "daemon/split_string.h"

#include <gtest/gtest.h>

namespace korvane::daemon {
namespace {

std::string Bytes(std::initializer_list<unsigned char> bytes) { return std::string(bytes.begin(), bytes.end()); }

struct FrameCase {
  const char* name;
  Command command;
  std::optional<std::string_view> payload;
  std::string expected;
};

TEST(RequestFrame, IsLengthCodePayloadAndOneNul) {
  const FrameCase cases[] = {
      {"no payload", Command::GetActivations, std::nullopt, Bytes({0x08, 0, 0, 0, 0x06, 0, 0, 0})},
      {"close frame", Command::Close, std::nullopt, Bytes({0x08, 0, 0, 0, 0, 0, 0, 0})},
      {"stop request", Command::StopDaemon, std::nullopt, Bytes({0x08, 0, 0, 0, 0xFE, 0, 0, 0})},
      {"path", Command::ActivateKorvaneDialogs, "C:/A",
       Bytes({0x0D, 0, 0, 0, 0x02, 0, 0, 0, 0x43, 0x3A, 0x2F, 0x41, 0x00})},
      {"empty payload keeps its NUL", Command::GetErrorText, "", Bytes({0x09, 0, 0, 0, 0x17, 0, 0, 0, 0x00})},
      {"three arguments", Command::ShowSpace, "a|b|c|",
       Bytes({0x0F, 0, 0, 0, 0x15, 0, 0, 0, 0x61, 0x7C, 0x62, 0x7C, 0x63, 0x7C, 0x00})},
  };
  for (const FrameCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(BuildRequestFrame(c.command, c.payload), c.expected);
  }
}

TEST(RequestFrame, LengthCountsEveryByteOfALongPayload) {
  const std::string payload(70000, 'x');
  std::optional<std::string> frame = BuildRequestFrame(Command::SvnCommit, payload);
  ASSERT_TRUE(frame);
  ASSERT_EQ(frame->size(), 70009u);
  EXPECT_EQ(Bytes({0x79, 0x11, 0x01, 0x00}), frame->substr(0, 4));  // 70009 little-endian
  EXPECT_EQ('\0', frame->back());
}

struct SplitCase {
  std::string_view text;
  std::string_view delimiter;
  std::vector<std::string> fields;
};

TEST(SplitString, KeepsEmptyFields) {
  const SplitCase cases[] = {
      {"a||b", "|", {"a", "", "b"}},
      {"a|", "|", {"a", ""}},
      {"|a", "|", {"", "a"}},
      {"", "|", {""}},
      {"x|y|z|w", "|", {"x", "y", "z", "w"}},
      {"a|b", "", {"a|b"}},
      {"a::b:c", "::", {"a", "b:c"}},
      {std::string_view("a\0|b", 4), "|", {std::string("a\0", 2), "b"}},
  };
  for (const SplitCase& c : cases) {
    SCOPED_TRACE(std::string(c.text));
    std::vector<std::string> fields;
    SplitString(fields, c.text, c.delimiter);
    EXPECT_EQ(fields, c.fields);
  }
}

TEST(SplitString, AppendsToWhatTheVectorHolds) {
  std::vector<std::string> fields{"kept"};
  SplitString(fields, "a|b", "|");
  EXPECT_EQ(fields, (std::vector<std::string>{"kept", "a", "b"}));
}

}  // namespace
}  // namespace korvane::daemon
