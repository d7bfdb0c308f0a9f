// The command table: what the daemon does for each code of the protocol.
// Every row names its handler; the server only frames, routes and replies.
#pragma once

#include "daemon/store/activation_store.h"
#include "daemon/hosting/hosting_backend.h"
#include "daemon/base/daemon_log.h"
#include "daemon/platform/daemon_paths.h"
#include "daemon/store/job_board.h"
#include "daemon/reply/protocol.h"
#include "daemon/reply/results.h"
#include "daemon/transport/dispatcher.h"

#include <atomic>
#include <functional>
#include <optional>
#include <string>

namespace korvane::server {

// What every handler may use.
struct DaemonContext {
  ActivationStore& activations;
  const DaemonPaths& paths;
  const DaemonLog& log;
  const std::atomic<bool>& stopping;  // long work gives up once this is set
  JobBoard& jobs;                      // one-way work publishes its course here
  HostingBackend& hosting;             // the hosting service, chosen at start
};

// A command of the protocol table and what the daemon does for it. How a
// request is refused when its frame or arguments are not usable follows
// the reply shape of its row.
struct CommandEntry {
  Command command;
  Handling (*handle)(DaemonContext& context, const std::optional<std::string>& payload);
  // Whether its answer can show the activations: such a request waits for
  // the changes sent before it. One that never shows them is answered at
  // once, with the same reply.
  bool showsActivations = true;

  // The command's row of the protocol table: operation, channel, arguments
  // and shapes.
  const protocol::CommandInfo& Info() const { return protocol::Describe(command); }
};

// The row for a code; nothing for a code that has none (close, stop and
// unknown codes are the server's own business).
const CommandEntry* FindCommand(std::uint32_t code);

// The refusal of a request, in the shape its command's callers read.
std::string Refusal(const CommandEntry* entry, Result result, std::string_view detail);

// The table as the event loop asks it, each handler given the context.
class CommandDispatcher final : public Dispatcher {
 public:
  explicit CommandDispatcher(DaemonContext& context) : context_(context) {}

  std::optional<Command> Find(std::uint32_t code) const override;
  Handling Handle(Command command, const std::optional<std::string>& payload) override;
  bool ShowsActivations(Command command) const override;
  std::string Refuse(std::optional<Command> command, Result result, std::string_view detail) const override;

 private:
  DaemonContext& context_;
};

}  // namespace korvane::server
