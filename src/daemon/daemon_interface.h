// IDaemon: what the library can ask of the product's daemon. CDaemonLink is
// its one implementation; operations are declared in the daemon's slot order.
#pragma once

#include <string>

namespace korvane::daemon {

class IDaemon {
 public:
  virtual ~IDaemon() = default;

  // Does nothing; kept for the interface's layout.
  virtual bool Initialize() = 0;
  // Starts one more daemon process from the library's folder.
  virtual bool StartDaemon() = 0;
  // Asks the daemon to stop; true when the request was delivered.
  virtual bool StopDaemon() = 0;

  // Asks the daemon for the error text that key selects. On an answer the
  // text replaces errorText (a close without a word leaves it as it was).
  virtual bool GetErrorText(const std::string& key, std::string& errorText) = 0;
};

}  // namespace korvane::daemon
