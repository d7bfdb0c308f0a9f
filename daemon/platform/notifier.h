// Desktop notifications: what the person at the desktop should hear of at
// once, beyond the log and the jobs board (a kept conflict, a refused
// credential, a lost membership, a watch limit reached).
//
// Notify(summary, body) tells a thing once: the same summary and body are
// not told again while the daemon runs, so a credential refused at every
// retry, or a watch limit met by every new folder, is one notification.
// A notifier never blocks its caller and never fails it; with nobody to
// show notifications, nothing is sent.
#pragma once

#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>

namespace korvane::server {

class Notifier {
 public:
  virtual ~Notifier() = default;

  void Notify(const std::string& summary, const std::string& body);

  // The most distinct notifications remembered; beyond it the memory starts
  // again (a daemon that meets so many has told them all once already).
  static constexpr std::size_t kRemembered = 1024;

 protected:
  // Shows one notification, without blocking.
  virtual void Send(const std::string& summary, const std::string& body) = 0;

 private:
  std::mutex mutex_;
  std::set<std::pair<std::string, std::string>> told_;
};

// The daemon's notifier, which main installs for the daemon's lifetime
// (nullptr removes it); without one, Notify tells nobody.
void InstallNotifier(Notifier* notifier);
// Installs a notifier for its own lifetime.
class InstalledNotifier {
 public:
  explicit InstalledNotifier(Notifier& notifier) { InstallNotifier(&notifier); }
  ~InstalledNotifier() { InstallNotifier(nullptr); }
  InstalledNotifier(const InstalledNotifier&) = delete;
  InstalledNotifier& operator=(const InstalledNotifier&) = delete;
};

class DaemonLog;

// The system's notifier for the daemon: the session bus on POSIX; on
// Windows the log (and the tray where a desktop runs). log is where a
// notifier says what it could not send; it outlives the notifier.
std::unique_ptr<Notifier> MakeDesktopNotifier(const DaemonLog& log);

// Tells the installed notifier's desktop; see Notifier::Notify.
void Notify(const std::string& summary, const std::string& body);

}  // namespace korvane::server
