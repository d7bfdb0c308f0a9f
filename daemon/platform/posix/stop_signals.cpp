#include "daemon/platform/stop_signals.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <system_error>

#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace korvane::server {

namespace {

sigset_t StopSignalSet() {
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&stopSignals, signal);
  return stopSignals;
}

}  // namespace

void SetUpSignals() {
  // Every thread inherits the blocked set; the server takes these signals
  // from a descriptor, between requests.
  const sigset_t stopSignals = StopSignalSet();
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
}

StopSignals::StopSignals() {
  const sigset_t stopSignals = StopSignalSet();
  handle_ = signalfd(-1, &stopSignals, SFD_CLOEXEC | SFD_NONBLOCK);
  if (handle_ < 0) throw std::system_error(errno, std::generic_category(), "signalfd");
}

StopSignals::~StopSignals() { close(static_cast<int>(handle_)); }

std::optional<std::string> StopSignals::Take() {
  signalfd_siginfo info{};
  if (read(static_cast<int>(handle_), &info, sizeof info) != static_cast<ssize_t>(sizeof info)) return std::nullopt;
  return strsignal(static_cast<int>(info.ssi_signo));
}

}  // namespace korvane::server
