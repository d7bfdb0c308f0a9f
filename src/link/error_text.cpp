// GetErrorText: the daemon alone decides what a key selects; the link keeps
// no record of past failures.
#include "link/daemon_link.h"

namespace korvane::link {

bool CDaemonLink::GetErrorText(const std::string& key, std::string& errorText) {
  Exchange exchange = TransactCommand(Command::GetErrorText, key, *protocol::Describe(Command::GetErrorText).limit);
  if (exchange.end == ExchangeEnd::Replied) errorText = std::move(exchange.reply);
  return exchange.Answered();
}

}  // namespace korvane::link
