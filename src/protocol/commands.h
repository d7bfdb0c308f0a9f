// The daemon's pipe, its command codes and the one table that says, for
// every code, what the library sends and what the daemon answers. The
// library's command families, the reference daemon and the test daemon all
// read it, so the three cannot drift apart.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace korvane::protocol {

// The daemon's pipe, the same for every user of the library.
inline constexpr char kPipeName[] = R"(\\.\pipe\DalvDaemonCommand)";

enum class Command : std::uint32_t {
  Close = 0,  // ends a notification channel
  GetStatus = 1,
  ActivateKorvaneDialogs = 2,
  ActivateTortoiseSvnDialogs = 3,
  ActivateAutomaticCommitUpdate = 4,
  DeactivatePath = 5,
  GetActivations = 6,
  ShareFolder = 7,
  Checkout = 8,
  RenameLDir = 9,
  CreateRepo = 10,
  OpenRepo = 11,
  SvnCheckoutWait = 12,
  CopyToRepo = 13,
  SvnAdd = 14,
  SvnCommit = 15,
  RemoveLDir = 16,
  RemoveTmpDir = 17,
  RestoreLDir = 18,
  ShareWithTeam = 19,
  ListSpaces = 20,
  ShowSpace = 21,
  CreateSpace = 22,
  GetErrorText = 23,
  FindUsers = 24,
  CheckoutFromService = 25,
  Invite = 26,
  StopDaemon = 254,
};

// What a command code asks of its connection.
enum class Channel {
  Request,  // exactly one reply
  OneWay,   // never answered
  Close,    // ends a notification channel
  Stop,     // one reply, then the daemon stops
  Unknown,  // not a code of the protocol
};

// How the arguments travel in the payload.
enum class PayloadShape {
  None,          // a header-only frame
  LocalPath,     // one path in the local style of the library's platform (an empty path stays empty)
  InternalPath,  // one path in Subversion's canonical internal style
  Plain,         // one text as it is
  Separated,     // each argument followed by "|"
  Joined,        // the arguments with "|" between them
};

// What the daemon answers, and so how it refuses a request it cannot serve.
enum class ReplyShape {
  None,     // one-way: never answered
  Text,     // a text of its own (status fields, a list, an error text); refused as KEY|text|detail
  Verdict,  // code|operation|message|systemError|detail
  Hosting,  // three fields; refused as |KEY|text (detail)
};

// How long a replying command waits for the daemon's answer, by the kind of
// work it asks for.
enum class TimeLimitClass {
  LocalCall,  // the daemon answers from what it knows
  FsCall,     // file-system work
  HttpCall,   // a call to the hosting service
  SvnCall,    // Subversion work: no limit
};

// The waits are 32-bit milliseconds; all ones means no limit, as Windows'
// INFINITE does.
inline constexpr std::uint32_t kNoTimeLimit = 0xFFFFFFFF;

struct TimeLimit {
  TimeLimitClass limitClass;
  const char* name;
  std::uint32_t milliseconds;
};

// In the order of the library's load-time listing. The limits are
// constants; no setting changes them.
inline constexpr TimeLimit kTimeLimits[] = {
    {TimeLimitClass::LocalCall, "PIPE_WAIT_EVENT_TIMEOUT_LOCALCALL", 10000},
    {TimeLimitClass::FsCall, "PIPE_WAIT_EVENT_TIMEOUT_FSCALL", 120000},
    {TimeLimitClass::HttpCall, "PIPE_WAIT_EVENT_TIMEOUT_HTTPCALL", 30000},
    {TimeLimitClass::SvnCall, "PIPE_WAIT_EVENT_TIMEOUT_SVNCALL", kNoTimeLimit},
};

constexpr std::uint32_t LimitOf(TimeLimitClass limitClass) {
  for (const TimeLimit& limit : kTimeLimits) {
    if (limit.limitClass == limitClass) return limit.milliseconds;
  }
  return kNoTimeLimit;
}

struct CommandInfo {
  Command command;
  const char* operation;  // the name in verdicts, error records and logs
  Channel channel;
  int arguments;  // how many the payload carries
  PayloadShape payload;
  ReplyShape reply;
  // How long the library waits for the reply of a request; one-way frames
  // wait for nothing, and the stop request has its own limit.
  std::optional<TimeLimitClass> limit;
};

inline constexpr CommandInfo kCommands[] = {
    // clang-format off
    {Command::Close, "close", Channel::Close, 0, PayloadShape::None, ReplyShape::None, std::nullopt},
    {Command::GetStatus, "getStatus", Channel::Request, 1, PayloadShape::InternalPath, ReplyShape::Text, TimeLimitClass::LocalCall},
    {Command::ActivateKorvaneDialogs, "activatePath1", Channel::OneWay, 1, PayloadShape::InternalPath, ReplyShape::None, std::nullopt},
    {Command::ActivateTortoiseSvnDialogs, "activatePath2", Channel::OneWay, 1, PayloadShape::InternalPath, ReplyShape::None, std::nullopt},
    {Command::ActivateAutomaticCommitUpdate, "activatePath3", Channel::OneWay, 1, PayloadShape::InternalPath, ReplyShape::None, std::nullopt},
    {Command::DeactivatePath, "deactivatePath", Channel::OneWay, 1, PayloadShape::InternalPath, ReplyShape::None, std::nullopt},
    {Command::GetActivations, "getActivations", Channel::Request, 0, PayloadShape::None, ReplyShape::Text, TimeLimitClass::LocalCall},
    {Command::ShareFolder, "shareFolder", Channel::OneWay, 1, PayloadShape::InternalPath, ReplyShape::None, std::nullopt},
    {Command::Checkout, "checkout", Channel::OneWay, 3, PayloadShape::Joined, ReplyShape::None, std::nullopt},
    {Command::RenameLDir, "renameLDir", Channel::Request, 1, PayloadShape::LocalPath, ReplyShape::Verdict, TimeLimitClass::FsCall},
    {Command::CreateRepo, "createRepo", Channel::Request, 1, PayloadShape::Plain, ReplyShape::Verdict, TimeLimitClass::HttpCall},
    {Command::OpenRepo, "openRepo", Channel::Request, 1, PayloadShape::Plain, ReplyShape::Verdict, TimeLimitClass::HttpCall},
    {Command::SvnCheckoutWait, "svnCheckoutWait", Channel::Request, 2, PayloadShape::Separated, ReplyShape::Verdict, TimeLimitClass::SvnCall},
    {Command::CopyToRepo, "copyToRepo", Channel::Request, 2, PayloadShape::Separated, ReplyShape::Verdict, TimeLimitClass::FsCall},
    {Command::SvnAdd, "svnAdd", Channel::Request, 1, PayloadShape::Separated, ReplyShape::Verdict, TimeLimitClass::SvnCall},
    {Command::SvnCommit, "svnCommit", Channel::Request, 1, PayloadShape::Separated, ReplyShape::Verdict, TimeLimitClass::SvnCall},
    {Command::RemoveLDir, "removeLDir", Channel::Request, 2, PayloadShape::Separated, ReplyShape::Verdict, TimeLimitClass::FsCall},
    {Command::RemoveTmpDir, "removeTmpDir", Channel::Request, 1, PayloadShape::Separated, ReplyShape::Verdict, TimeLimitClass::FsCall},
    {Command::RestoreLDir, "restoreLDir", Channel::Request, 2, PayloadShape::Separated, ReplyShape::Verdict, TimeLimitClass::FsCall},
    {Command::ShareWithTeam, "shareWithTeam", Channel::OneWay, 1, PayloadShape::InternalPath, ReplyShape::None, std::nullopt},
    {Command::ListSpaces, "listSpaces", Channel::Request, 2, PayloadShape::Separated, ReplyShape::Hosting, TimeLimitClass::HttpCall},
    {Command::ShowSpace, "showSpace", Channel::Request, 3, PayloadShape::Separated, ReplyShape::Hosting, TimeLimitClass::HttpCall},
    {Command::CreateSpace, "createSpace", Channel::Request, 4, PayloadShape::Separated, ReplyShape::Hosting, TimeLimitClass::HttpCall},
    {Command::GetErrorText, "getErrorText", Channel::Request, 1, PayloadShape::Plain, ReplyShape::Text, TimeLimitClass::LocalCall},
    {Command::FindUsers, "findUsers", Channel::Request, 2, PayloadShape::Separated, ReplyShape::Hosting, TimeLimitClass::HttpCall},
    {Command::CheckoutFromService, "checkoutFromService", Channel::OneWay, 1, PayloadShape::InternalPath, ReplyShape::None, std::nullopt},
    {Command::Invite, "invite", Channel::Request, 4, PayloadShape::Separated, ReplyShape::Hosting, TimeLimitClass::HttpCall},
    {Command::StopDaemon, "stopDaemon", Channel::Stop, 0, PayloadShape::None, ReplyShape::Text, std::nullopt},
    // clang-format on
};

// The row of a code; nothing for a code outside the protocol.
const CommandInfo* DescribeCode(std::uint32_t code);
// The row of a command; every command has one.
const CommandInfo& Describe(Command command);
// The row whose operation is named so; nothing when none is.
const CommandInfo* FindOperation(std::string_view operation);
// Unknown for a code outside the protocol.
Channel ChannelOf(std::uint32_t code);

constexpr std::uint32_t CodeOf(Command command) { return static_cast<std::uint32_t>(command); }

}  // namespace korvane::protocol
