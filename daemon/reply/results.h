// The outcomes the daemon reports, one table: the code in the first field of
// a verdict, the key that GetErrorText (23) takes, and the readable text;
// and the failure replies of every command family, formatted here only.
//
// The library keeps -15 (its own failed pipe call) and -1000 (nothing
// received) for itself; the daemon never sends them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace korvane::server {

enum class Result : std::int32_t {
  Done = 0,
  BadRequest = -1,
  BadArguments = -2,
  NotSupported = -3,
  NotFound = -4,
  AlreadyExists = -5,
  NotWorkingCopy = -6,
  SubversionFailed = -7,
  FileSystemFailed = -8,
  Cancelled = -9,
  UnknownCommand = -10,
  NotAllowed = -11,
  InternalError = -12,
  Busy = -13,
};

struct ResultText {
  Result result;
  const char* key;
  const char* text;
};

inline constexpr ResultText kResultTexts[] = {
    {Result::Done, "DONE", "The operation completed."},
    {Result::BadRequest, "BAD_REQUEST", "The request was malformed."},
    {Result::BadArguments, "BAD_ARGUMENTS", "The request's arguments are missing or not usable."},
    {Result::NotSupported, "NOT_SUPPORTED", "This daemon does not support the command yet."},
    {Result::NotFound, "NOT_FOUND", "The path or repository does not exist."},
    {Result::AlreadyExists, "ALREADY_EXISTS", "The target already exists."},
    {Result::NotWorkingCopy, "NOT_WORKING_COPY", "The path is not in a Subversion working copy."},
    {Result::SubversionFailed, "SUBVERSION_FAILED", "Subversion reported an error."},
    {Result::FileSystemFailed, "FILE_SYSTEM_FAILED", "A file-system operation failed."},
    {Result::Cancelled, "CANCELLED", "The daemon is stopping; the operation was cancelled."},
    {Result::UnknownCommand, "UNKNOWN_COMMAND", "The command code is not known."},
    {Result::NotAllowed, "NOT_ALLOWED", "The daemon does not touch that path."},
    {Result::InternalError, "INTERNAL_ERROR", "The daemon failed unexpectedly."},
    {Result::Busy, "BUSY", "The daemon has too much work waiting; try again later."},
};

const ResultText& TextOf(Result result);

// The reply to GetErrorText: the text for a key, given by name (DONE) or by
// its code in decimal (0); a sentence saying so for a key that is not known.
std::string ErrorTextFor(std::string_view key);

// The verdict of a repository or local-directory command:
// code|operation|message|systemError|detail, the message being the result's
// text followed by the specifics in parentheses, when there are any.
std::string Verdict(std::string_view operation, Result result, std::string_view specifics, std::int32_t systemError,
                    std::string_view detail);

// The reply in three fields, KEY|text|detail, that every replying command
// other than the verdict family gives when it fails: the hosting-service
// commands read it as their three outputs, and a status query reads it as
// too short to be a status.
std::string FailureReply(Result result, std::string_view detail);

// The refusal of a hosting request: "" | KEY | text (detail).
std::string HostingFailure(Result result, std::string_view detail);
// The same with a message of its own in place of the result's text.
std::string HostingRefusal(Result result, std::string_view message);

}  // namespace korvane::server
