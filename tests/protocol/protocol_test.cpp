// The protocol byte for byte: frames built and read, fields cut and joined,
// and the command table that the library and both daemons read.
#include "link/request_payload.h"
#include "protocol/commands.h"
#include "protocol/fields.h"
#include "protocol/frame.h"

#include <gtest/gtest.h>

#include <set>
#include <span>
#include <string_view>

namespace korvane::protocol {
namespace {

std::string Bytes(std::initializer_list<unsigned char> bytes) { return std::string(bytes.begin(), bytes.end()); }

struct FrameCase {
  const char* name;
  Command command;
  std::optional<std::string_view> payload;
  std::string expected;
};

TEST(RequestFrame, IsLengthCodePayloadAndOneNul) {
  const std::string longPayload(70000, 'x');  // its length needs the third byte
  const FrameCase cases[] = {
      {"long payload", Command::SvnCommit, longPayload,
       Bytes({0x79, 0x11, 0x01, 0x00, 0x0F, 0, 0, 0}) + longPayload + '\0'},
      {"no payload", Command::GetActivations, std::nullopt, Bytes({0x08, 0, 0, 0, 0x06, 0, 0, 0})},
      {"path", Command::ActivateKorvaneDialogs, "C:/A",
       Bytes({0x0D, 0, 0, 0, 0x02, 0, 0, 0, 0x43, 0x3A, 0x2F, 0x41, 0x00})},
      {"empty payload keeps its NUL", Command::GetErrorText, "", Bytes({0x09, 0, 0, 0, 0x17, 0, 0, 0, 0x00})},
      {"three arguments", Command::ShowSpace, "a|b|c|",
       Bytes({0x0F, 0, 0, 0, 0x15, 0, 0, 0, 0x61, 0x7C, 0x62, 0x7C, 0x63, 0x7C, 0x00})},
  };
  for (const FrameCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<std::string> frame = BuildRequestFrame(c.command, c.payload);
    EXPECT_EQ(frame, c.expected);
    // What the library builds, the daemon reads back unchanged, up to its limit.
    if (frame->size() > kMaxPacketSize) continue;
    const FrameReading reading = ReadFrame(*frame, frame->size());
    EXPECT_EQ(reading.fault, FrameFault::None);
    EXPECT_EQ(reading.code, CodeOf(c.command));
    EXPECT_EQ(reading.payload, c.payload ? std::optional<std::string>(*c.payload) : std::nullopt);
  }
}

struct ReadCase {
  const char* name;
  std::string bytes;
  std::size_t packetSize;  // the packet's real size; bytes may be cut short of it
  FrameFault fault;
  std::optional<std::uint32_t> code;
};

TEST(ReadFrame, TellsWhatIsWrongWithAPacket) {
  const std::string tooLong = FrameHeader(kMaxPacketSize + 1, 1) + std::string(kMaxPacketSize - 8, 'x') + '\0';
  const ReadCase cases[] = {
      {"empty packet", "", 0, FrameFault::TooShort, std::nullopt},
      {"half a header", Bytes({0x08, 0, 0, 0}), 4, FrameFault::TooShort, std::nullopt},
      {"length says more", FrameHeader(9, 1), 8, FrameFault::LengthMismatch, 1},
      {"length says less", FrameHeader(8, 1) + "a" + '\0', 10, FrameFault::LengthMismatch, 1},
      {"no closing NUL", FrameHeader(10, 23) + "ab", 10, FrameFault::Unterminated, 23},
      {"NUL inside", FrameHeader(12, 23) + std::string("a\0b\0", 4), 12, FrameFault::EmbeddedNul, 23},
      {"over the limit", tooLong, tooLong.size(), FrameFault::TooLarge, 1},
      {"cut short by the receiver", tooLong.substr(0, 100), tooLong.size(), FrameFault::TooLarge, 1},
      {"unknown code, well formed", FrameHeader(8, 99), 8, FrameFault::None, 99},
  };
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(c.name);
    const FrameReading reading = ReadFrame(c.bytes, c.packetSize);
    EXPECT_EQ(reading.fault, c.fault);
    EXPECT_EQ(reading.code, c.code);
    EXPECT_FALSE(reading.payload);
    EXPECT_EQ(DescribeFault(reading) == "well formed", c.fault == FrameFault::None);
  }
}

struct SplitCase {
  std::string_view text;
  std::string_view delimiter;
  std::vector<std::string> fields;
};

// Fields are appended to what the vector holds already.
TEST(SplitString, KeepsEmptyFieldsAndAppends) {
  const SplitCase cases[] = {
      {"a||b", "|", {"a", "", "b"}},
      {"a|", "|", {"a", ""}},
      {"|a", "|", {"", "a"}},
      {"", "|", {""}},
      {"a|b", "", {"a|b"}},
      {"a::b:c", "::", {"a", "b:c"}},
      {std::string_view("a\0|b", 4), "|", {std::string("a\0", 2), "b"}},
  };
  for (const SplitCase& c : cases) {
    SCOPED_TRACE(std::string(c.text));
    std::vector<std::string> fields{"kept"};
    SplitString(fields, c.text, c.delimiter);
    EXPECT_EQ(fields.front(), "kept");
    EXPECT_EQ(std::vector<std::string>(fields.begin() + 1, fields.end()), c.fields);
  }
}

struct ArgumentsCase {
  Command command;
  std::string_view payload;
  std::vector<std::string> arguments;
};

TEST(ArgumentsOf, GivesTheCommandsNumberOfArguments) {
  const ArgumentsCase cases[] = {
      {Command::CreateSpace, "a|b", {"a", "b", "", ""}},  // missing ones empty
      {Command::SvnAdd, "p|extra|", {"p"}},               // more are dropped
      {Command::Checkout, "url|/p|3", {"url", "/p", "3"}},
      {Command::CreateRepo, "file:///r|s", {"file:///r|s"}},  // one text stays whole
      {Command::GetActivations, "ignored", {}},
  };
  for (const ArgumentsCase& c : cases) {
    SCOPED_TRACE(Describe(c.command).operation);
    EXPECT_EQ(ArgumentsOf(Describe(c.command), c.payload), c.arguments);
  }
}

// Codes and operations name one row each. The channel, the reply and the
// wait of a row must fit together: the library waits for the reply of a
// request, and the daemon answers only requests and the stop.
TEST(CommandTable, RowsAreUniqueAndTheirChannelReplyAndWaitAgree) {
  std::set<std::uint32_t> codes;
  std::set<std::string_view> operations;
  for (const CommandInfo& info : kCommands) {
    SCOPED_TRACE(info.operation);
    EXPECT_TRUE(codes.insert(CodeOf(info.command)).second);
    EXPECT_TRUE(operations.insert(info.operation).second);
    EXPECT_EQ(FindOperation(info.operation), &info);
    EXPECT_EQ(ChannelOf(CodeOf(info.command)), info.channel);
    const bool answered = info.channel == Channel::Request || info.channel == Channel::Stop;
    EXPECT_EQ(info.reply != ReplyShape::None, answered);
    EXPECT_EQ(info.limit.has_value(), info.channel == Channel::Request);
    EXPECT_EQ(info.payload == PayloadShape::None, info.arguments == 0);
  }
  EXPECT_EQ(ChannelOf(99), Channel::Unknown);
}

// What the library puts in a payload, the daemon takes back out as the same
// arguments, for every command whose arguments travel as they are.
TEST(CommandTable, TheDaemonReadsTheArgumentsTheLibrarySends) {
  const std::u16string texts[] = {u"first", u"", u"th\u00EErd", u"fourth"};
  const std::vector<std::string> expected = {"first", "", "th\xC3\xAErd", "fourth"};
  for (const CommandInfo& info : kCommands) {
    if (info.payload == PayloadShape::LocalPath || info.payload == PayloadShape::InternalPath) continue;
    SCOPED_TRACE(info.operation);
    ASSERT_LE(info.arguments, 4);
    const std::u16string* all[] = {&texts[0], &texts[1], &texts[2], &texts[3]};
    const auto count = static_cast<std::size_t>(info.arguments);
    const std::optional<std::string> payload = link::RequestPayload(info, std::span(all, count));
    ASSERT_TRUE(payload.has_value());
    EXPECT_EQ(ArgumentsOf(info, *payload), std::vector<std::string>(expected.begin(), expected.begin() + count));

    // An argument holding the separator would come out as other arguments:
    // such a payload is never made.
    if (count == 0 || info.payload == PayloadShape::Plain) continue;
    const std::u16string split = u"eve|owner";
    all[count - 1] = &split;
    EXPECT_FALSE(link::RequestPayload(info, std::span(all, count)).has_value());
  }
}

// A daemon refuses a payload with more or fewer fields than its command
// takes, whichever client sent it: a "|" inside an argument never passes
// for the next argument.
TEST(CommandTable, APayloadMustHoldItsCommandsFieldCount) {
  const struct {
    Command command;
    std::optional<std::string_view> payload;
    bool fits;
  } cases[] = {
      {Command::Invite, "space|eve|member|x|", true},
      {Command::Invite, "space|eve|owner|member|x|", false},  // a user "eve|owner"
      {Command::Checkout, "file:///r|/w|1", true},
      {Command::Checkout, "file:///r|/w|/other|3", false},  // a URL holding "|PATH|3"
      {Command::SvnCheckoutWait, "file:///r|/w|", true},
      {Command::SvnCheckoutWait, "file:///r|/w", false},
      {Command::RemoveLDir, "/w/a|/w/b|c", false},  // a path "/w/b|c" cut to "/w/b"
      {Command::GetStatus, "/a|b", false},
      {Command::RenameLDir, "/folder", true},
      {Command::RenameLDir, std::nullopt, true},  // no payload: the handler says what is missing
      {Command::Close, "a|b|c", true},            // close carries nothing to check
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Describe(c.command).operation);
    EXPECT_EQ(FieldCountFits(Describe(c.command), c.payload), c.fits) << c.payload.value_or("(none)");
  }
}

}  // namespace
}  // namespace korvane::protocol
