// IDaemon: what the library can ask of the product's daemon. CDaemonLink is
// its one implementation; operations are declared in the daemon's slot order.
#pragma once

namespace korvane::daemon {

class IDaemon {
 public:
  virtual ~IDaemon() = default;

  // Does nothing; kept for the interface's layout.
  virtual bool Initialize() = 0;
};

}  // namespace korvane::daemon
