// Shows what a daemon link sends and receives: a test server serves the
// pipe in a private runtime folder, and one link asks it for the activation
// list, sends a one-way activation and goes away. Every frame that crossed
// the pipe is then printed per connection.
#include "link/daemon_link.h"
#include "runtime/module_handle.h"

#include "support/runtime_folder.h"
#include "support/test_server.h"

#include <cstdio>
#include <string>

namespace {

using korvane::link::CDaemonLink;
using korvane::link::Command;
using korvane::link::TimeLimitClass;
using korvane::testing::Answer;

std::string Hex(const std::string& bytes) {
  std::string text;
  char byte[4];
  for (unsigned char c : bytes) {
    std::snprintf(byte, sizeof byte, "%02X ", c);
    text += byte;
  }
  if (!text.empty()) text.pop_back();
  return text;
}

std::string Printable(const std::string& bytes) {
  std::string text;
  for (unsigned char c : bytes) text += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '.';
  return text;
}

}  // namespace

int main() {
  korvane::testing::ScopedRuntimeFolder folder;
  korvane::testing::TestServer daemon;
  daemon.On(static_cast<std::uint32_t>(Command::GetActivations), Answer::Reply("C:/Work|1\nC:/Shared|3"));

  std::printf("Daemon pipe: %s\n\n", daemon.SocketPath().c_str());
  {
    CDaemonLink link(korvane::runtime::ModuleHandle());
    auto exchange = link.TransactCommand(Command::GetActivations, std::nullopt, TimeLimitClass::LocalCall);
    std::printf("GetActivations: %s, reply \"%s\"\n", exchange.Answered() ? "answered" : "failed",
                Printable(exchange.reply).c_str());
    bool posted = link.PostCommand("C:/Work", Command::ActivateAutomaticCommitUpdate);
    std::printf("ActivatePath (mode 3) C:/Work: %s\n", posted ? "written" : "failed");
  }  // the link closes its channels here: the close frame goes out

  daemon.WaitUntil([](const auto& d) {
    auto connections = d.Connections();
    return connections.size() == 2 && connections[0].clientClosed && connections[1].clientClosed;
  });
  for (const auto& connection : daemon.Connections()) {
    std::printf("\nConnection %d (%s):\n", connection.id, connection.id == 1 ? "request channel" : "notification channel");
    for (const auto& frame : connection.frames) {
      std::printf("  %-48s %s\n", Hex(frame).c_str(), Printable(frame).c_str());
    }
    std::printf("  %s\n", connection.clientClosed ? "(client disconnected)" : "(still open)");
  }
  return 0;
}
