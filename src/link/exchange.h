// How one request/reply exchange with the daemon ended.
#pragma once

#include "platform/windows_api.h"

#include <string>

namespace korvane::link {

enum class ExchangeEnd {
  NotConnected,        // the request channel could not be opened; nothing was sent
  TransactionFailed,   // the transaction failed at once; systemError holds why
  WaitTimedOut,        // no reply within the limit (systemError WAIT_TIMEOUT)
  WaitFailed,          // the wait ended otherwise (systemError ERROR_IO_PENDING)
  ResultFailed,        // the completed transaction reported a failure
  ReadFailed,          // the rest of the reply could not be read
  ClosedWithoutReply,  // the daemon closed the connection without answering
  Replied,             // reply holds the reply text
};

struct Exchange {
  ExchangeEnd end = ExchangeEnd::NotConnected;
  DWORD systemError = 0;
  std::string reply;

  // The daemon answered, or closed the connection without a word, which
  // counts as answered with nothing.
  bool Answered() const { return end == ExchangeEnd::Replied || end == ExchangeEnd::ClosedWithoutReply; }
};

}  // namespace korvane::link
