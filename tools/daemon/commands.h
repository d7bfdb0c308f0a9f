// The command table: what the daemon does for each code of the protocol.
// Every row names its handler; the server only frames, routes and replies.
#pragma once

#include "activation_store.h"
#include "daemon_log.h"
#include "daemon_paths.h"
#include "job_board.h"
#include "protocol.h"
#include "results.h"
#include "service_config.h"

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
  const ServiceConfig& service;        // where the hosting service is
};

// A handler's decision: a reply at once, or work whose result is the reply
// (for one-way commands the result only goes to the log).
struct Handling {
  std::optional<std::string> reply;
  std::function<std::string()> work;
  std::string folder;  // the folder one-way work changes, for the log
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

}  // namespace korvane::server
