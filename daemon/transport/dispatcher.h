#pragma once

#include "daemon/reply/protocol.h"
#include "daemon/reply/results.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace korvane::server {

// A handler's decision: a reply at once, or work whose result is the reply
// (for one-way commands the result only goes to the log).
struct Handling {
  std::optional<std::string> reply;
  std::function<std::string()> work;
  std::string folder;  // the folder one-way work changes, for the log
};

// The commands as the event loop sees them. The loop reads frames, keeps
// connections and runs work; which commands there are and what they do is
// the dispatcher's alone.
class Dispatcher {
 public:
  virtual ~Dispatcher() = default;

  // The command of this code that the daemon answers, if there is one.
  virtual std::optional<Command> Find(std::uint32_t code) const = 0;

  virtual Handling Handle(Command command, const std::optional<std::string>& payload) = 0;

  // Whether the answer shows the activations, so that it must wait until
  // every change to them submitted before it has settled.
  virtual bool ShowsActivations(Command command) const = 0;

  // A refusal in the reply shape of the command (of none: an unknown code).
  virtual std::string Refuse(std::optional<Command> command, Result result, std::string_view detail) const = 0;
};

}  // namespace korvane::server
